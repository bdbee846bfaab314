// UCI access, shell commands and small text and file utilities, gathered
// for callers that want them all; each role has its own header.
#pragma once

#include <cstddef>

#include "clock_text.h"
#include "dio.h"
#include "files.h"
#include "shell.h"
#include "text.h"
#include "uci_access.h"
