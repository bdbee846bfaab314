// Sends Debug log lines of the code under test to a private file and reads them back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "log.h"

class LogCapture {
public:
    LogCapture()
    {
        char dir[] = "/tmp/codecs_log_XXXXXX";
        if (mkdtemp(dir))
            dir_ = dir;
        path_ = dir_ + "/debug.log";
        log_set_output(LOG_OUT_FILE);
        log_set_level(LOG_DEBUG);
        log_set_file(path_.c_str());
    }
    ~LogCapture()
    {
        log_set_level(LOG_INFO);
        remove(path_.c_str());
        remove((path_ + "2").c_str());
        rmdir(dir_.c_str());
    }
    std::string text() const
    {
        std::string out;
        if (FILE* f = fopen(path_.c_str(), "r")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                out.append(buf, n);
            fclose(f);
        }
        return out;
    }

private:
    std::string dir_;
    std::string path_;
};
