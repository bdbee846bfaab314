// UCI access, shell commands and small text and file utilities.
#pragma once

#include <cstddef>

void get_data_str(const char* key, char* buf, int size);
int get_data_int(const char* key, int* out);
int get_data_ll(const char* key, long long* out);

int set_data_int(const char* key, int value);
int set_data_ll(const char* key, long long value);
int set_data_str(const char* key, const char* text);
int set_option_int(const char* package, const char* section, const char* option, int value);
int set_option_ll(const char* package, const char* section, const char* option, long long value);
int set_option_str(const char* package, const char* section, const char* option, const char* text);
int commit_config(const char* package);

// Runs cmd and keeps its first output line; returns pclose's status, or -1.
int run_cmd_line(const char* cmd, char* buf, int size);
// Runs cmd, waits for its end and discards its output; returns pclose's status, or -1.
int run_cmd(const char* cmd);

void trim_newline(char* buf, int size);
int check_ipv4(const char* text);
int read_dio(int n);
int hex_digit_value(char c);
int get_date_str(char* buf);
int get_time_str(char* buf);
int get_datetime_str(char* buf);
int append_text_file(const char* path, const char* text);
int write_text_file(const char* path, const char* text);
int remove_file(const char* path);
// Existence test of a fixed router path.
bool path_exists(const char* path);
