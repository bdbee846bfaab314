// Where packages and their deltas live, and safe access to them for
// several uci processes at once.
#pragma once

#include <string>
#include <vector>

#include "uci_delta.h"
#include "uci_model.h"
#include "unique_fd.h"

struct UciPaths {
    std::string confdir; // committed package files
    std::string savedir; // one delta file per package with uncommitted changes
};

// $ROUTER_ROOT/etc/config and $ROUTER_ROOT/tmp/.uci (the router's own
// paths when ROUTER_ROOT is unset).
UciPaths default_paths();

enum class OpenStatus {
    ok,
    not_found,   // no such package file
    refused,     // a syntax error in the file: the package is refused whole
    io_error,
};

// A package with its delta applied, read under a lock on the delta file so
// that a concurrent commit is seen whole or not at all. Every writer holds
// the lock exclusively from its read to its write.
class PackageSession {
public:
    // strict: a syntax error refuses the package, as the real tool does by
    // default; otherwise bad statements are skipped and listed.
    PackageSession(const UciPaths& paths, const std::string& package, bool strict)
        : paths_(paths), name_(package), strict_(strict)
    {
    }

    // Locks and loads. exclusive: for writers, creates the delta file.
    OpenStatus open(bool exclusive);

    UciPackage& package() { return package_; }
    const std::vector<DeltaEntry>& delta() const { return delta_; }
    // The refusal, or the statements skipped when not strict.
    const std::vector<ParseError>& errors() const { return errors_; }

    // Records a change (the caller has applied it to package() already).
    bool append(const DeltaEntry& entry);
    // Replaces the recorded changes, e.g. after a partial revert.
    bool rewrite_delta(const std::vector<DeltaEntry>& entries);
    // Writes package() to its file (temporary file, then rename) and clears the delta.
    bool commit();

private:
    bool read_delta_text(std::string& text);

    UciPaths paths_;
    std::string name_;
    UniqueFd lock_fd_;
    bool strict_;
    UciPackage package_;
    std::vector<DeltaEntry> delta_;
    std::vector<ParseError> errors_;
};

// Package files in confdir, sorted by name.
std::vector<std::string> list_packages(const UciPaths& paths);
// Whether the package has uncommitted changes on file.
bool has_delta(const UciPaths& paths, const std::string& package);
