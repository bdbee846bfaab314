#include "text.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

void trim_newline(char* buf, int size)
{
    if (!buf)
        return;
    for (int i = 0; i < size; ++i) {
        if (buf[i] == '\n') {
            buf[i] = '\0';
            return;
        }
        if (buf[i] == '\0')
            return;
    }
}

int check_ipv4(const char* text)
{
    int a, b, c, d;
    if (sscanf(text, "%d.%d.%d.%d ", &a, &b, &c, &d) < 4)
        return -1;
    for (int octet : {a, b, c, d})
        if (octet < 0 || octet > 255)
            return -1;
    char canonical[16];
    snprintf(canonical, sizeof canonical, "%d.%d.%d.%d", a, b, c, d);
    return strcmp(canonical, text) == 0 ? 0 : -1;
}

int hex_digit_value(char c)
{
    if (c >= '1' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}
