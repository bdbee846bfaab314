#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "shell_quote.h"

namespace {

// What sh makes of `printf %s WORD`: the quoted text must come back byte for byte.
std::string through_shell(const std::string& word)
{
    std::string cmd = "printf %s " + word;
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

TEST(ShellQuote, HostileTextArrivesAsOneLiteralArgument)
{
    const char* hostile[] = {
        "plain", "", "a b", "m;touch x;:", "$(id)", "`id`", "it's", "''", "'\\''",
        "back\\slash", "new\nline", "\"dq\"", "semi;colon|pipe&amp>redir<in", "*?[glob]", "~user",
    };
    for (const char* text : hostile) {
        char word[256];
        ASSERT_GT(shell_quote(word, sizeof word, text), 0) << text;
        EXPECT_EQ(through_shell(word), text);
    }
}

TEST(ShellQuote, EmbeddedQuoteIsEscapedAndPlainTextOnlyWrapped)
{
    char word[64];
    EXPECT_EQ(shell_quote(word, sizeof word, "gre1"), 6);
    EXPECT_STREQ(word, "'gre1'");
    shell_quote(word, sizeof word, "a'b");
    EXPECT_STREQ(word, "'a'\\''b'");
}

TEST(ShellQuote, TextThatDoesNotFitGivesAnEmptyWordNotACutOne)
{
    char word[8];
    EXPECT_EQ(shell_quote(word, sizeof word, "123456"), -1);
    EXPECT_STREQ(word, "");
    EXPECT_EQ(shell_quote(word, sizeof word, "12345"), 7); // exactly fills: 5 + 2 quotes + terminator
    EXPECT_EQ(shell_quote(word, sizeof word, "1234'"), -1);
}

} // namespace
