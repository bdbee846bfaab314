// Owners for descriptors and stdio handles, so no early return leaks one.
#pragma once

#include <cstdio>
#include <unistd.h>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

class UniqueFile {
public:
    explicit UniqueFile(FILE* f) : f_(f) {}
    UniqueFile(const UniqueFile&) = delete;
    UniqueFile& operator=(const UniqueFile&) = delete;
    ~UniqueFile()
    {
        if (f_)
            fclose(f_);
    }
    FILE* get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
    // Closes now and reports fclose's result, for callers that return it.
    int close_now()
    {
        int rc = f_ ? fclose(f_) : -1;
        f_ = nullptr;
        return rc;
    }

private:
    FILE* f_;
};
