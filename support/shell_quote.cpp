#include "shell_quote.h"

int shell_quote(char* out, size_t size, const char* text)
{
    if (size == 0)
        return -1;
    size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 >= size)
            return false;
        out[n++] = c;
        return true;
    };
    bool ok = put('\'');
    for (const char* p = text; ok && *p; ++p) {
        if (*p == '\'')
            ok = put('\'') && put('\\') && put('\'') && put('\'');
        else
            ok = put(*p);
    }
    ok = ok && put('\'');
    if (!ok) {
        out[0] = '\0';
        return -1;
    }
    out[n] = '\0';
    return static_cast<int>(n);
}
