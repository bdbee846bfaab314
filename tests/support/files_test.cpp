#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "dio.h"
#include "files.h"
#include "scratch_root.h"

namespace {

using FilesTest = ScratchRootTest;
using DioTest = ScratchRootTest;

TEST_F(FilesTest, FilesResolveUnderTheRoot)
{
    EXPECT_EQ(append_text_file("/note", "100% done\n"), 0);
    EXPECT_EQ(append_text_file("/note", "more\n"), 0);
    EXPECT_EQ(slurp(root_ + "/note"), "100% done\nmore\n");
    EXPECT_EQ(write_text_file("/note", "fresh"), 0);
    EXPECT_EQ(slurp(root_ + "/note"), "fresh");
    EXPECT_TRUE(path_exists("/note"));
    EXPECT_EQ(remove_file("/note"), 0);
    EXPECT_FALSE(path_exists("/note"));
    EXPECT_EQ(append_text_file("/missing/dir/file", "x"), -1);
}

TEST_F(DioTest, DigitalInputsResolveUnderTheRoot)
{
    system(("mkdir -p " + root_ + "/sys/class/gpio/dio2").c_str());
    std::ofstream(root_ + "/sys/class/gpio/dio2/value") << "1\n";
    EXPECT_EQ(read_dio(2), 1);
    EXPECT_EQ(read_dio(7), 0);
}

} // namespace
