// Whole-text file writes and removal at fixed router paths.
#pragma once

#include <cstddef>

int append_text_file(const char* path, const char* text);
int write_text_file(const char* path, const char* text);
int remove_file(const char* path);
// Existence test of a fixed router path.
bool path_exists(const char* path);
// Writes the whole block to fd (a tty or a pipe may take part of it at a
// time, a signal may interrupt it); false on an error.
bool write_all(int fd, const char* data, size_t len);
