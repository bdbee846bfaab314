// Digital I/O: the board's sysfs value files.
#pragma once

int read_dio(int n);
