// Short fuzz pass for every build: the committed seeds and a few thousand fixed-seed
// mutations of them through both decoders and back through the encoders.
#include <dirent.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz_entry.h"

namespace {

std::vector<std::string> seeds(const char* mode)
{
    std::string dir = std::string(SOURCE_DIR) + "/tests/sms/codecs/fuzz/corpus/" + mode;
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return out;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        FILE* f = fopen((dir + "/" + e->d_name).c_str(), "rb");
        if (!f)
            continue;
        std::string text;
        char buf[1024];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        fclose(f);
        out.push_back(text);
    }
    closedir(d);
    return out;
}

std::string mutate(std::string s, std::mt19937& rng)
{
    static const char hex[] = "0123456789ABCDEFabcdef";
    int edits = 1 + rng() % 4;
    for (int i = 0; i < edits; i++) {
        size_t at = s.empty() ? 0 : rng() % s.size();
        switch (rng() % 6) {
        case 0:
            if (!s.empty())
                s[at] = hex[rng() % 22];
            break;
        case 1:
            if (!s.empty())
                s[at] = static_cast<char>(rng() % 256);
            break;
        case 2:
            s.insert(at, 1, hex[rng() % 22]);
            break;
        case 3:
            if (!s.empty())
                s.erase(at, 1 + rng() % 4);
            break;
        case 4:
            s.resize(at);
            break;
        default:
            // Length octets set to extremes reach the cutting paths.
            if (s.size() >= 2) {
                at &= ~static_cast<size_t>(1);
                s[at] = 'F';
                s[at + 1] = (rng() & 1) ? 'F' : '0';
            }
            break;
        }
    }
    return s;
}

void run(const std::string& text)
{
    const uint8_t* data = reinterpret_cast<const uint8_t*>(text.data());
    fuzz::gsm_input(data, text.size());
    fuzz::cdma_input(data, text.size());
    std::string raw = std::string(1, '\0') + text;
    fuzz::cdma_input(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
}

} // namespace

TEST(FuzzSmoke, SeedsAndMutationsDecodeWithinBounds)
{
    std::vector<std::string> all = seeds("gsm");
    std::vector<std::string> cdma = seeds("cdma");
    ASSERT_FALSE(all.empty());
    ASSERT_FALSE(cdma.empty());
    all.insert(all.end(), cdma.begin(), cdma.end());
    std::mt19937 rng(20261208);
    for (const std::string& seed : all) {
        run(seed);
        for (int i = 0; i < 250; i++)
            run(mutate(seed, rng));
    }
}
