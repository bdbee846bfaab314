#include "shown_text.h"

#include <cstdio>

size_t escape_controls(char* out, size_t size, const char* text)
{
    if (size == 0)
        return 0;
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        char piece[5] = {static_cast<char>(*p), '\0'};
        if (*p == '\n')
            snprintf(piece, sizeof piece, "\\n");
        else if (*p == '\r')
            snprintf(piece, sizeof piece, "\\r");
        else if (*p == '\t')
            snprintf(piece, sizeof piece, "\\t");
        else if (*p < 0x20 || *p == 0x7F)
            snprintf(piece, sizeof piece, "\\x%02X", *p);
        size_t len = 0;
        while (piece[len])
            ++len;
        // An escape is never cut in half.
        if (n + len >= size)
            break;
        for (size_t i = 0; i < len; ++i)
            out[n++] = piece[i];
    }
    out[n] = '\0';
    return n;
}
