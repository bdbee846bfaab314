// One line of the outbox spool: the destination number, a comma, the text.
#pragma once

// Number and text of a spool message, terminators included: 1 to 16
// characters of number; 160 bytes of text without the unicode option, with it
// a line's whole text, up to what six parts hold.
constexpr int SPOOL_NUMBER_SIZE = 17;
constexpr int SMS_TEXT_SIZE = 161;
constexpr int SPOOL_TEXT_SIZE = 2049;
// Line buffer of the spool without the unicode option: longer lines are cut.
constexpr int SPOOL_LINE_SIZE = 512;
// A spool line with the unicode option: number, comma, whole text, terminator.
constexpr int SPOOL_TEXT_LINE_SIZE = SPOOL_NUMBER_SIZE + SPOOL_TEXT_SIZE;
// Bytes of a spool text sent without the unicode option.
constexpr int SPOOL_SHORT_TEXT_MAX = SMS_TEXT_SIZE - 1;

struct SpoolLine {
    char number[SPOOL_NUMBER_SIZE]; // 1 to 16 characters
    char text[SPOOL_TEXT_SIZE];     // at most text_max bytes of parse_spool_line
    int comma; // position of the first comma: the number's length
};

enum class SpoolParse { Ok, NoComma, BadNumber };

// Splits one spool line at its first comma. The text keeps its newline and
// is cut after text_max bytes.
SpoolParse parse_spool_line(const char* line, SpoolLine* out, int text_max = SPOOL_SHORT_TEXT_MAX);
