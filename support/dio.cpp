#include "dio.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "paths.h"
#include "unique_fd.h"

int read_dio(int n)
{
    UniqueFd fd(open(RootedPath::format("/sys/class/gpio/dio%d/value", n).c_str(), O_RDONLY));
    if (!fd.valid())
        return 0;
    char value[32] = {};
    if (read(fd.get(), value, 31) < 0)
        return 0;
    return atoi(value);
}
