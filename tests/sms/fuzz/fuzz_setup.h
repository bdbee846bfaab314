// Shared set-up of the brenlow fuzz targets: logging off, journal and other
// fixed paths under a private temporary root.
#pragma once

#include <cstdlib>
#include <string>

#include "log.h"

namespace fuzz {

inline const std::string& private_root()
{
    static std::string root = [] {
        char templ[] = "/tmp/brenlowfuzz.XXXXXX";
        const char* made = mkdtemp(templ);
        if (!made)
            abort();
        std::string dir = made;
        std::string etc = dir + "/etc";
        std::string config = etc + "/config";
        if (system(("mkdir -p '" + config + "'").c_str()) != 0)
            abort();
        setenv("ROUTER_ROOT", dir.c_str(), 1);
        log_set_output(LOG_OUT_STDERR);
        log_set_level(0);
        return dir;
    }();
    return root;
}

// One line as the line reader hands it over: at most size - 1 bytes, terminated.
inline std::string as_line(const uint8_t* data, size_t size, size_t max)
{
    std::string text(reinterpret_cast<const char*>(data), size < max ? size : max);
    size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

} // namespace fuzz
