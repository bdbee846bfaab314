// The one place where the fixed absolute paths of the router are resolved.
// In production ROUTER_ROOT is unset and every path is used as it stands;
// on a development machine it names a sandbox that holds the router's tree.
#pragma once

#include <cstddef>

// Longest resolved path or command we build, root prefix included.
constexpr int ROOTED_PATH_SIZE = 512;

// The sandbox prefix, "" when ROUTER_ROOT is unset.
const char* router_root();

// Writes the root-prefixed form of an absolute path into out. A relative
// path, or a command found through PATH, passes unchanged; a command whose
// first word is an absolute path gets that word rooted. Returns 0,
// or -1 when it did not fit (out then holds the cut text, still terminated).
int router_path(char* out, size_t size, const char* path);

// A rooted path held by value, for the common "resolve then open" use.
class RootedPath {
public:
    explicit RootedPath(const char* path);
    // printf-style: the path is formatted first, then rooted.
    static RootedPath format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
    const char* c_str() const { return buf_; }

private:
    RootedPath() = default;
    char buf_[ROOTED_PATH_SIZE] = {};
};
