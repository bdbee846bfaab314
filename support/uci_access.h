// UCI access: one "uci get", "uci -q set" or "uci -q commit" per call.
#pragma once

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
