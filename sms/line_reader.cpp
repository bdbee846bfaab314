#include "line_reader.h"

#include <cstring>

bool read_whole_line(FILE* file, char* buf, int size, bool* cut)
{
    *cut = false;
    if (!fgets(buf, size, file))
        return false;
    size_t len = strlen(buf);
    if (len > 0 && buf[len - 1] == '\n')
        return true;
    int c;
    while ((c = fgetc(file)) != EOF && c != '\n')
        *cut = true;
    return true;
}
