#include "store.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string slot_path(const std::string& dir, int index)
{
    return dir + "/" + std::to_string(index);
}

} // namespace

bool store_read(const std::string& dir, int index, std::string& pdu)
{
    if (index < 0 || index >= STORE_SLOTS)
        return false;
    FILE* f = fopen(slot_path(dir, index).c_str(), "r");
    if (!f)
        return false;
    pdu.clear();
    int c;
    while ((c = fgetc(f)) != EOF && c != '\n' && c != '\r')
        pdu.push_back(static_cast<char>(c));
    fclose(f);
    return !pdu.empty(); // a modem never shows an empty message
}

bool store_write(const std::string& dir, int index, const std::string& pdu)
{
    if (index < 0 || index >= STORE_SLOTS)
        return false;
    std::string tmp = dir + "/.slot" + std::to_string(index) + "." + std::to_string(getpid());
    FILE* f = fopen(tmp.c_str(), "w");
    if (!f)
        return false;
    bool ok = fprintf(f, "%s\n", pdu.c_str()) > 0;
    ok = fclose(f) == 0 && ok;
    if (ok)
        ok = rename(tmp.c_str(), slot_path(dir, index).c_str()) == 0;
    if (!ok)
        unlink(tmp.c_str());
    return ok;
}

bool store_delete(const std::string& dir, int index)
{
    return index >= 0 && index < STORE_SLOTS && unlink(slot_path(dir, index).c_str()) == 0;
}

int store_count(const std::string& dir)
{
    int n = 0;
    for (int i = 0; i < STORE_SLOTS; ++i)
        n += access(slot_path(dir, i).c_str(), F_OK) == 0;
    return n;
}

int store_lowest_free(const std::string& dir, int first)
{
    for (int i = first; i < STORE_SLOTS; ++i)
        if (access(slot_path(dir, i).c_str(), F_OK) != 0)
            return i;
    return -1;
}
