#include "spool_line.h"

#include <cstdio>
#include <cstring>

SpoolParse parse_spool_line(const char* line, SpoolLine* out, int text_max)
{
    memset(out, 0, sizeof *out);
    const char* comma = strchr(line, ',');
    if (!comma)
        return SpoolParse::NoComma;
    int len = static_cast<int>(comma - line);
    out->comma = len;
    if (len < 1 || len >= static_cast<int>(sizeof out->number))
        return SpoolParse::BadNumber;
    memcpy(out->number, line, len);
    int max = text_max < static_cast<int>(sizeof out->text) - 1 ? text_max : static_cast<int>(sizeof out->text) - 1;
    snprintf(out->text, max + 1, "%s", comma + 1);
    return SpoolParse::Ok;
}
