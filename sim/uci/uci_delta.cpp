#include "uci_delta.h"

#include <algorithm>

namespace {

struct OpMark {
    DeltaOp op;
    char mark; // leading character in the delta file, 0 for plain set
};

constexpr OpMark OP_MARKS[] = {
    {DeltaOp::add_section, '+'}, {DeltaOp::remove, '-'}, {DeltaOp::add_list, '|'},
    {DeltaOp::del_list, '~'},    {DeltaOp::rename, '@'},
};

char mark_of(DeltaOp op)
{
    for (const OpMark& m : OP_MARKS)
        if (m.op == op)
            return m.mark;
    return 0;
}

std::string key_of(const std::string& package, const DeltaEntry& entry)
{
    std::string key = package + "." + entry.section;
    if (!entry.option.empty())
        key += "." + entry.option;
    return key;
}

bool apply_to_option(UciSection& section, const DeltaEntry& entry)
{
    UciOption* option = section.find_option(entry.option);
    switch (entry.op) {
    case DeltaOp::set:
        // An empty value removes the option, as the real tool does.
        if (entry.value.empty()) {
            if (option)
                section.options.erase(section.options.begin() + (option - section.options.data()));
            return true;
        }
        if (!option) {
            section.options.push_back(UciOption{entry.option, false, {}});
            option = &section.options.back();
        }
        option->is_list = false;
        option->values.assign(1, entry.value);
        return true;
    case DeltaOp::add_list:
        if (!option) {
            section.options.push_back(UciOption{entry.option, true, {}});
            option = &section.options.back();
        }
        option->is_list = true;
        option->values.push_back(entry.value);
        return true;
    case DeltaOp::del_list: {
        if (!option)
            return false;
        auto& values = option->values;
        values.erase(std::remove(values.begin(), values.end(), entry.value), values.end());
        if (values.empty())
            section.options.erase(section.options.begin() + (option - section.options.data()));
        return true;
    }
    case DeltaOp::remove:
        if (!option)
            return false;
        section.options.erase(section.options.begin() + (option - section.options.data()));
        return true;
    case DeltaOp::rename:
        if (!option || !valid_name(entry.value) || section.find_option(entry.value))
            return false;
        option->name = entry.value;
        return true;
    case DeltaOp::add_section:
        return false;
    }
    return false;
}

} // namespace

bool apply_delta(UciPackage& pkg, const DeltaEntry& entry)
{
    UciSection* section = pkg.find_section(entry.section);
    if (entry.op == DeltaOp::add_section) {
        if (section || !valid_name(entry.section) || !valid_type(entry.value))
            return false;
        pkg.sections.push_back(UciSection{entry.value, entry.section, true, {}});
        return true;
    }
    if (entry.option.empty()) {
        switch (entry.op) {
        case DeltaOp::set:
            if (!valid_type(entry.value))
                return false;
            if (section) {
                section->type = entry.value;
                return true;
            }
            if (!valid_name(entry.section))
                return false;
            pkg.sections.push_back(UciSection{entry.value, entry.section, false, {}});
            return true;
        case DeltaOp::remove:
            if (!section)
                return false;
            pkg.sections.erase(pkg.sections.begin() + (section - pkg.sections.data()));
            return true;
        case DeltaOp::rename:
            if (!section || !valid_name(entry.value) || pkg.find_section(entry.value))
                return false;
            section->name = entry.value;
            section->anonymous = false;
            return true;
        default:
            return false;
        }
    }
    if (!section || !valid_name(entry.option))
        return false;
    return apply_to_option(*section, entry);
}

std::string format_delta(const std::string& package, const DeltaEntry& entry)
{
    std::string line;
    if (char mark = mark_of(entry.op))
        line += mark;
    line += key_of(package, entry);
    if (entry.op != DeltaOp::remove)
        line += "=" + quote_value(entry.value);
    return line + "\n";
}

std::string format_change(const std::string& package, const DeltaEntry& entry)
{
    std::string key = key_of(package, entry);
    switch (entry.op) {
    case DeltaOp::remove:
        return "-" + key + "\n";
    case DeltaOp::add_list:
        return key + "+=" + quote_value(entry.value) + "\n";
    case DeltaOp::del_list:
        return key + "-=" + quote_value(entry.value) + "\n";
    case DeltaOp::rename:
        return key + "@" + quote_value(entry.value) + "\n";
    default:
        return key + "=" + quote_value(entry.value) + "\n";
    }
}

std::vector<DeltaEntry> parse_delta(const std::string& package, const std::string& text)
{
    std::vector<DeltaEntry> entries;
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < text.size()) {
        if (!next_statement(text, pos, words))
            break; // a torn last line: drop it
        if (words.size() != 1 || words[0].empty())
            continue;
        std::string word = words[0];
        DeltaEntry entry;
        for (const OpMark& m : OP_MARKS) {
            if (word[0] == m.mark) {
                entry.op = m.op;
                word.erase(0, 1);
                break;
            }
        }
        size_t eq = word.find('=');
        std::string key = word.substr(0, eq);
        if (eq != std::string::npos)
            entry.value = word.substr(eq + 1);
        else if (entry.op != DeltaOp::remove)
            continue;
        size_t dot1 = key.find('.');
        if (dot1 == std::string::npos || key.substr(0, dot1) != package)
            continue;
        size_t dot2 = key.find('.', dot1 + 1);
        entry.section = key.substr(dot1 + 1, dot2 == std::string::npos ? std::string::npos : dot2 - dot1 - 1);
        if (dot2 != std::string::npos)
            entry.option = key.substr(dot2 + 1);
        if (entry.section.empty() || (dot2 != std::string::npos && entry.option.empty()))
            continue;
        entries.push_back(entry);
    }
    return entries;
}
