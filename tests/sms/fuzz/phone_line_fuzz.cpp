// A line of the phone file: the entry kept is always a terminated number of at
// most 16 characters, whatever the line holds.
#include <cstdint>
#include <cstring>

#include "fuzz_setup.h"
#include "sms_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::private_root();
    std::string line = fuzz::as_line(data, size, PHONE_LINE_SIZE - 1);
    PhoneEntry entry;
    int kept = parse_phone_line(line.c_str(), &entry);
    if (kept != 0 && !memchr(entry.number, 0, sizeof entry.number))
        abort();
    if (kept == 1 && strlen(entry.number) < 2)
        abort();
    FieldSpan spans[4];
    int n = split_fields(line.c_str(), spans, 4, ',');
    for (int i = 0; i < n; ++i)
        if (spans[i].start < 0 || spans[i].length < 0 ||
            static_cast<size_t>(spans[i].start + spans[i].length) > line.size())
            abort();
    return 0;
}
