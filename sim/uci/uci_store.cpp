#include "uci_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool read_all(int fd, std::string& text)
{
    text.clear();
    char buf[4096];
    off_t offset = 0;
    for (;;) {
        ssize_t n = pread(fd, buf, sizeof buf, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(buf, static_cast<size_t>(n));
        offset += n;
    }
}

bool write_all(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void make_dirs(const std::string& dir)
{
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0755);
    mkdir(dir.c_str(), 0755);
}

bool lock(int fd, int how)
{
    while (flock(fd, how) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

std::vector<std::string> regular_files(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.empty() || name[0] == '.' || !valid_type(name))
            continue;
        struct stat st;
        if (stat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

UciPaths default_paths()
{
    const char* root = getenv("ROUTER_ROOT");
    std::string prefix = root ? root : "";
    return UciPaths{prefix + "/etc/config", prefix + "/tmp/.uci"};
}

bool PackageSession::read_delta_text(std::string& text)
{
    text.clear();
    return !lock_fd_.valid() || read_all(lock_fd_.get(), text);
}

OpenStatus PackageSession::open(bool exclusive)
{
    std::string file = paths_.confdir + "/" + name_;
    if (!valid_type(name_) || access(file.c_str(), F_OK) != 0)
        return OpenStatus::not_found;
    std::string delta_path = paths_.savedir + "/" + name_;
    if (exclusive) {
        make_dirs(paths_.savedir);
        lock_fd_.reset(::open(delta_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!lock_fd_.valid() || !lock(lock_fd_.get(), LOCK_EX))
            return OpenStatus::io_error;
    } else {
        // Readers never create anything; no delta file means no changes.
        lock_fd_.reset(::open(delta_path.c_str(), O_RDONLY | O_CLOEXEC));
        if (lock_fd_.valid() && !lock(lock_fd_.get(), LOCK_SH))
            return OpenStatus::io_error;
    }

    UniqueFd package_fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text;
    if (!package_fd.valid() || !read_all(package_fd.get(), text))
        return OpenStatus::io_error;
    package_ = UciPackage{};
    package_.name = name_;
    errors_.clear();
    if (!parse_package(text, package_, strict_, errors_))
        return OpenStatus::refused;

    std::string delta_text;
    if (!read_delta_text(delta_text))
        return OpenStatus::io_error;
    delta_.clear();
    // A change that no longer fits (its section went away by hand) is
    // dropped, as it would be on commit.
    for (const DeltaEntry& entry : parse_delta(name_, delta_text))
        if (apply_delta(package_, entry))
            delta_.push_back(entry);
    return OpenStatus::ok;
}

bool PackageSession::append(const DeltaEntry& entry)
{
    if (!lock_fd_.valid())
        return false;
    if (lseek(lock_fd_.get(), 0, SEEK_END) < 0 || !write_all(lock_fd_.get(), format_delta(name_, entry)))
        return false;
    delta_.push_back(entry);
    return true;
}

bool PackageSession::rewrite_delta(const std::vector<DeltaEntry>& entries)
{
    if (!lock_fd_.valid())
        return false;
    std::string text;
    for (const DeltaEntry& entry : entries)
        text += format_delta(name_, entry);
    // Truncated in place rather than replaced: a process waiting for the lock
    // holds this very file open.
    if (ftruncate(lock_fd_.get(), 0) != 0 || lseek(lock_fd_.get(), 0, SEEK_SET) < 0 || !write_all(lock_fd_.get(), text))
        return false;
    delta_ = entries;
    return true;
}

bool PackageSession::commit()
{
    if (!lock_fd_.valid())
        return false;
    std::string file = paths_.confdir + "/" + name_;
    std::string temp = paths_.confdir + "/." + name_ + ".uci-XXXXXX";
    UniqueFd fd(mkstemp(&temp[0]));
    if (!fd.valid())
        return false;
    bool ok = fchmod(fd.get(), 0644) == 0 && write_all(fd.get(), format_package(package_)) && fsync(fd.get()) == 0;
    fd.reset();
    if (!ok || rename(temp.c_str(), file.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return rewrite_delta({});
}

std::vector<std::string> list_packages(const UciPaths& paths)
{
    return regular_files(paths.confdir);
}

bool has_delta(const UciPaths& paths, const std::string& package)
{
    struct stat st;
    return stat((paths.savedir + "/" + package).c_str(), &st) == 0 && st.st_size > 0;
}
