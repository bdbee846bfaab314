#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <unistd.h>

#include "log.h"
#include "scratch_root.h"

namespace {

class LogTest : public ScratchRootTest {
protected:
    void SetUp() override
    {
        ScratchRootTest::SetUp();
        log_set_output(LOG_OUT_FILE);
        log_set_level(LOG_INFO);
        log_set_file("/test.log");
    }
    std::string file() const { return slurp(root_ + "/test.log"); }
};

TEST_F(LogTest, LineCarriesDateTimeMillisecondsSelectorAndMessage)
{
    log_print(LOG_ERROR, "[%s %d] Error： %s", "unit.cpp", 12, "boom");
    std::regex layout(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3},T0 \[unit\.cpp 12\] Error\xEF\xBC\x9A boom\n$)");
    EXPECT_TRUE(std::regex_match(file(), layout)) << file();
}

TEST_F(LogTest, LevelAboveConfiguredOneAndEmptyFormatWriteNothing)
{
    log_print(LOG_TRACE, "trace");
    log_print(LOG_DEBUG, "debug");
    const char* empty = "";
    log_print(LOG_ERROR, empty, 0);
    EXPECT_EQ(file(), "");
    log_print(LOG_INFO, "info");
    log_print(LOG_WARNING, "warning");
    std::string lines = file();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
    log_set_level(0);
    log_print(LOG_ERROR, "silenced");
    EXPECT_EQ(file().find("silenced"), std::string::npos);
}

TEST_F(LogTest, FormatEndingInNewlineLeavesAnEmptyLine)
{
    log_print(LOG_INFO, "a\n");
    EXPECT_EQ(file().substr(file().size() - 3), "a\n\n");
}

TEST_F(LogTest, SetFileDeletesExistingLogButKeepsRotation)
{
    std::ofstream(root_ + "/x.log") << "old\n";
    std::ofstream(root_ + "/x.log2") << "older\n";
    log_set_file("/x.log");
    EXPECT_NE(access((root_ + "/x.log").c_str(), F_OK), 0);
    EXPECT_EQ(slurp(root_ + "/x.log2"), "older\n");
    log_set_file("/does/not/exist.log"); // silently fine
}

TEST_F(LogTest, RotatesAfterTheWriteThatReachesTheLimit)
{
    std::ofstream(root_ + "/test.log2") << "previous rotation\n";
    std::string chunk(999, 'x');
    while (slurp(root_ + "/test.log").size() + 1040 < LOG_ROTATE_SIZE)
        log_print(LOG_INFO, "%s", chunk.c_str());
    log_print(LOG_INFO, "%s", chunk.c_str()); // crosses 200001: lands, then rotates
    log_print(LOG_INFO, "%s", "fresh");
    std::string rotated = slurp(root_ + "/test.log2");
    EXPECT_GE(rotated.size(), static_cast<size_t>(LOG_ROTATE_SIZE));
    EXPECT_EQ(rotated.find("previous rotation"), std::string::npos);
    std::string current = file();
    EXPECT_NE(current.find("fresh"), std::string::npos);
    EXPECT_EQ(std::count(current.begin(), current.end(), '\n'), 1);
}

TEST_F(LogTest, StandardStreamsCarryTheirSelector)
{
    log_set_output(LOG_OUT_STDERR);
    testing::internal::CaptureStderr();
    log_print(LOG_INFO, "to stderr");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::regex_search(err, std::regex(R"(\.\d{3},T2 to stderr\n$)"))) << err;
    log_set_output(LOG_OUT_STDOUT);
    testing::internal::CaptureStdout();
    log_print(LOG_INFO, "to stdout");
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\.\d{3},T1 to stdout\n$)"))) << out;
    EXPECT_EQ(file(), "");
}

TEST_F(LogTest, LongMessageIsCutNotOverrun)
{
    std::string big(LOG_MESSAGE_SIZE * 2, 'y');
    log_print(LOG_INFO, "%s", big.c_str());
    std::string line = file();
    size_t ys = std::count(line.begin(), line.end(), 'y');
    EXPECT_EQ(ys, static_cast<size_t>(LOG_MESSAGE_SIZE - 1));
}

} // namespace
