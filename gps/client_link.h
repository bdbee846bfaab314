// The packed words of the GPS clients: an entry's link (state, socket and
// attempt generation in one atomic word) and a thread's start argument
// (entry and generation in a pointer). Both carry the same generation bits.
#pragma once

#include <cstdint>

enum {
    CONN_NEVER = 0,
    CONN_CLOSED = 1,
    CONN_CONNECTING = 2,
    CONN_CONNECTED = 3,
};

// 32 bits: the router's MIPS has no lock-free 64-bit atomics.
using ClientLink = uint32_t;

constexpr int LINK_STATE_BITS = 2;
constexpr int LINK_GENERATION_BITS = 10;
constexpr int LINK_SOCKET_BITS = 20;
constexpr uint32_t LINK_GENERATION_MASK = (1u << LINK_GENERATION_BITS) - 1;
static_assert(LINK_STATE_BITS + LINK_GENERATION_BITS + LINK_SOCKET_BITS == 32, "the link is one 32-bit word");
static_assert(CONN_CONNECTED < (1 << LINK_STATE_BITS), "every state fits its bits");

// Sockets above this number cannot be packed; the clients refuse them.
constexpr int LINK_MAX_SOCKET = (1 << LINK_SOCKET_BITS) - 2;

// Layout: bits 0-1 state, 2-11 generation, 12-31 socket + 1 (0: no socket).
constexpr ClientLink make_link(int state, int socket, uint32_t generation)
{
    return static_cast<ClientLink>(state & ((1 << LINK_STATE_BITS) - 1)) |
           ((generation & LINK_GENERATION_MASK) << LINK_STATE_BITS) |
           (static_cast<ClientLink>(socket + 1) << (LINK_STATE_BITS + LINK_GENERATION_BITS));
}
constexpr int link_state(ClientLink link) { return static_cast<int>(link & ((1u << LINK_STATE_BITS) - 1)); }
constexpr uint32_t link_generation(ClientLink link) { return (link >> LINK_STATE_BITS) & LINK_GENERATION_MASK; }
constexpr int link_socket(ClientLink link)
{
    return static_cast<int>(link >> (LINK_STATE_BITS + LINK_GENERATION_BITS)) - 1;
}
static_assert(link_socket(make_link(CONN_CONNECTED, LINK_MAX_SOCKET, 0)) == LINK_MAX_SOCKET, "largest socket");
static_assert(link_socket(make_link(CONN_CLOSED, -1, LINK_GENERATION_MASK)) == -1, "no socket");
static_assert(link_generation(make_link(CONN_CONNECTING, 5, LINK_GENERATION_MASK + 4)) == 3, "generation wraps");

// The thread argument: bits 0-7 entry index, 8 and up the generation.
constexpr int THREAD_ARG_INDEX_BITS = 8;

struct ThreadArg {
    int index;
    uint32_t generation;
};

inline void* pack_thread_arg(int index, uint32_t generation)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(((generation & LINK_GENERATION_MASK) << THREAD_ARG_INDEX_BITS) |
                                                          (index & ((1 << THREAD_ARG_INDEX_BITS) - 1))));
}

inline ThreadArg unpack_thread_arg(void* arg)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(arg);
    return ThreadArg{static_cast<int>(value & ((1u << THREAD_ARG_INDEX_BITS) - 1)),
                     static_cast<uint32_t>(value >> THREAD_ARG_INDEX_BITS)};
}
static_assert(THREAD_ARG_INDEX_BITS + LINK_GENERATION_BITS <= 32, "the thread argument fits a 32-bit pointer");
