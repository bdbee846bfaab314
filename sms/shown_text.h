// Outside text shown in the journal or a log line: control characters are
// escaped, so one message always makes exactly one line and cannot plant
// lines of its own.
#pragma once

#include <cstddef>

// An escaped copy fits one field of a log or journal line; longer copies are cut.
constexpr int SHOWN_TEXT_SIZE = 1024;

// Copies text into out with bytes below 0x20 and 0x7F escaped: \n, \r, \t
// by name, others as \xNN. Always terminates out; returns its length.
size_t escape_controls(char* out, size_t size, const char* text);

// An escaped copy for one log or journal call: Shown(msg->text).c_str().
class Shown {
public:
    explicit Shown(const char* text) { escape_controls(text_, sizeof text_, text ? text : ""); }
    const char* c_str() const { return text_; }

private:
    char text_[SHOWN_TEXT_SIZE];
};
