// Uncommitted changes of a package: one line per change in its delta file,
// replayed over the committed file by every reader.
#pragma once

#include <string>
#include <vector>

#include "uci_model.h"

enum class DeltaOp {
    set,         // option value, or section type when option is empty
    add_section, // new anonymous section; value holds its type
    remove,      // option, or the whole section when option is empty
    add_list,
    del_list,
    rename,      // value holds the new name of the option or section
};

struct DeltaEntry {
    DeltaOp op = DeltaOp::set;
    std::string section; // the section's real name, never an @type[n] reference
    std::string option;
    std::string value;
};

// Applies one change. Returns false when it does not fit the package
// (missing section or option, name taken), leaving the package unchanged.
bool apply_delta(UciPackage& pkg, const DeltaEntry& entry);

// The delta file line of an entry, newline included.
std::string format_delta(const std::string& package, const DeltaEntry& entry);
// The "uci changes" line of an entry, newline included.
std::string format_change(const std::string& package, const DeltaEntry& entry);
// Entries of a delta file's text; lines of other packages or bad lines are skipped.
std::vector<DeltaEntry> parse_delta(const std::string& package, const std::string& text);
