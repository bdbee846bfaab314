#include "brenlow_state.h"

#include <cstdio>

BrenlowState brenlow;

void set_modem_fd(int fd)
{
    brenlow.gsm_fd = fd;
    brenlow.cdma_fd = fd;
}

void set_device_path(const char* path)
{
    snprintf(brenlow.device_path, sizeof brenlow.device_path, "%s", path);
}

const char* get_device_path()
{
    return brenlow.device_path;
}
