// Shared by the support tests: a file's whole text, and a scratch router
// root that ROUTER_ROOT points at for the length of one test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ScratchRootTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/supporttest.XXXXXX";
        root_ = mkdtemp(templ);
        setenv("ROUTER_ROOT", root_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("ROUTER_ROOT");
        system(("rm -rf " + root_).c_str());
    }
    // An executable shell script at a path under the root.
    void script(const std::string& where, const std::string& body)
    {
        std::string file = root_ + where;
        std::ofstream(file) << "#!/bin/sh\n" << body;
        chmod(file.c_str(), 0755);
    }
    std::string root_;
};
