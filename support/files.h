// Whole-text file writes and removal at fixed router paths.
#pragma once

int append_text_file(const char* path, const char* text);
int write_text_file(const char* path, const char* text);
int remove_file(const char* path);
// Existence test of a fixed router path.
bool path_exists(const char* path);
