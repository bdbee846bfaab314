// Reading a text file line by line into a fixed buffer, where a line longer
// than the buffer stays one line: its tail is skipped, never taken as lines
// of their own.
#pragma once

#include <cstdio>

// Reads the next line into buf (newline kept when it fits). Sets *cut when
// the line did not fit and its rest was skipped. False at the end of the file.
bool read_whole_line(FILE* file, char* buf, int size, bool* cut);
