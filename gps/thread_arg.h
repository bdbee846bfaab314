// What a client thread is started with: its entry and the attempt's generation.
#pragma once

#include <cstdint>

struct ThreadArg {
    int index;
    uint32_t generation;
};

inline void* pack_thread_arg(int index, uint32_t generation)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(((generation & 0x3FFu) << 8) | (index & 0xFF)));
}

inline ThreadArg unpack_thread_arg(void* arg)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(arg);
    return ThreadArg{static_cast<int>(value & 0xFF), static_cast<uint32_t>(value >> 8)};
}
