// Outside text (UCI values, device paths, tunnel names, SMS numbers) that is
// pasted into a shell command goes through here, so the shell sees one literal
// argument whatever bytes it holds.
#pragma once

#include <cstddef>

// Writes text as one single-quoted shell word into out: every embedded quote
// becomes '\'' so the word cannot be closed early. Returns the length written,
// or -1 when it does not fit (out then holds "" so a cut word never runs).
int shell_quote(char* out, size_t size, const char* text);
