// Shell commands: the two runners every shell action goes through, and the
// popen and system() seam under them that also serves the UCI access.
#pragma once

#include <cstdio>

// Runs cmd and keeps its first output line; returns pclose's status, or -1.
int run_cmd_line(const char* cmd, char* buf, int size);
// Runs cmd, waits for its end and discards its output; returns pclose's status, or -1.
int run_cmd(const char* cmd);

// popen for reading, with the command's leading absolute path resolved into the sandbox.
FILE* open_command(const char* cmd);
// system(), with the command's leading absolute path resolved into the sandbox.
int system_rooted(const char* cmd);
