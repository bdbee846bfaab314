// Small text checks and conversions: a read line's newline, an IPv4 address
// text, a hexadecimal digit.
#pragma once

void trim_newline(char* buf, int size);
int check_ipv4(const char* text);
// Value of a hexadecimal digit of either case; 0 for any other character.
int hex_digit_value(char c);
