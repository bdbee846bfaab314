#include "uci_model.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Reads one word starting at pos (not at a blank). Returns false on an
// unterminated quote, leaving pos at the end of the text.
bool read_word(const std::string& text, size_t& pos, std::string& word)
{
    while (pos < text.size()) {
        char c = text[pos];
        if (is_blank(c) || c == '\n')
            return true;
        if (c == '\'') {
            size_t end = text.find('\'', pos + 1);
            if (end == std::string::npos) {
                pos = text.size();
                return false;
            }
            word.append(text, pos + 1, end - pos - 1);
            pos = end + 1;
        } else if (c == '"') {
            ++pos;
            while (pos < text.size() && text[pos] != '"') {
                if (text[pos] == '\\' && pos + 1 < text.size())
                    ++pos;
                word += text[pos++];
            }
            if (pos >= text.size())
                return false;
            ++pos;
        } else if (c == '\\' && pos + 1 < text.size()) {
            // A backslash before the newline continues the statement.
            if (text[pos + 1] != '\n')
                word += text[pos + 1];
            pos += 2;
        } else {
            word += c;
            ++pos;
        }
    }
    return true;
}

unsigned type_hash(const std::string& type)
{
    unsigned h = 2166136261u;
    for (unsigned char c : type)
        h = (h ^ c) * 16777619u;
    return (h ^ (h >> 16)) & 0xffffu;
}

bool name_char(char c, bool allow_dash)
{
    return isalnum(static_cast<unsigned char>(c)) || c == '_' || (allow_dash && c == '-');
}

bool check_chars(const std::string& text, bool allow_dash)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!name_char(c, allow_dash))
            return false;
    return true;
}

std::string section_ref(const UciPackage& pkg, const UciSection& section, bool real_names)
{
    if (section.anonymous && !real_names)
        return "@" + section.type + "[" + std::to_string(pkg.type_index(section)) + "]";
    return section.name;
}

int count_newlines(const std::string& text, size_t from, size_t to)
{
    int n = 0;
    for (size_t i = from; i < to && i < text.size(); ++i)
        n += text[i] == '\n';
    return n;
}

} // namespace

UciOption* UciSection::find_option(const std::string& option_name)
{
    for (UciOption& option : options)
        if (option.name == option_name)
            return &option;
    return nullptr;
}

UciSection* UciPackage::find_section(const std::string& ref)
{
    if (ref.size() > 3 && ref[0] == '@' && ref.back() == ']') {
        size_t open = ref.find('[');
        if (open == std::string::npos || open < 2)
            return nullptr;
        std::string type = ref.substr(1, open - 1);
        std::string number = ref.substr(open + 1, ref.size() - open - 2);
        char* end = nullptr;
        long index = strtol(number.c_str(), &end, 10);
        if (number.empty() || *end != '\0')
            return nullptr;
        std::vector<UciSection*> of_type;
        for (UciSection& section : sections)
            if (section.type == type)
                of_type.push_back(&section);
        long count = static_cast<long>(of_type.size());
        if (index < 0)
            index += count;
        if (index < 0 || index >= count)
            return nullptr;
        return of_type[index];
    }
    for (UciSection& section : sections)
        if (section.name == ref)
            return &section;
    return nullptr;
}

int UciPackage::type_index(const UciSection& section) const
{
    int index = 0;
    for (const UciSection& other : sections) {
        if (&other == &section)
            return index;
        if (other.type == section.type)
            ++index;
    }
    return -1;
}

std::string UciPackage::new_anonymous_name(const std::string& type) const
{
    for (size_t index = sections.size();; ++index) {
        char name[32];
        snprintf(name, sizeof name, "cfg%02zx%04x", index, type_hash(type));
        bool taken = false;
        for (const UciSection& section : sections)
            taken = taken || section.name == name;
        if (!taken)
            return name;
    }
}

bool next_statement(const std::string& text, size_t& pos, std::vector<std::string>& words)
{
    words.clear();
    while (pos < text.size()) {
        char c = text[pos];
        if (c == '\n') {
            ++pos;
            return true;
        }
        if (is_blank(c)) {
            ++pos;
        } else if (c == '#') {
            while (pos < text.size() && text[pos] != '\n')
                ++pos;
        } else {
            std::string word;
            if (!read_word(text, pos, word))
                return false;
            words.push_back(word);
        }
    }
    return true;
}

void parse_package(const std::string& text, UciPackage& pkg, std::vector<std::string>& warnings)
{
    UciSection* current = nullptr;
    std::vector<std::string> words;
    size_t pos = 0;
    int line = 1;
    while (pos < text.size()) {
        size_t start = pos;
        bool complete = next_statement(text, pos, words);
        int this_line = line;
        line += count_newlines(text, start, pos);
        auto warn = [&](const char* what) {
            warnings.push_back(pkg.name + ":" + std::to_string(this_line) + ": " + what);
        };
        if (!complete) {
            warn("unterminated quote");
            break;
        }
        if (words.empty())
            continue;
        const std::string& keyword = words[0];
        if (keyword == "package")
            continue;
        if (keyword == "config") {
            current = nullptr;
            if (words.size() < 2 || words.size() > 3 || !valid_type(words[1])) {
                warn("bad config line, section skipped");
                continue;
            }
            if (words.size() == 3 && !valid_name(words[2])) {
                warn("bad section name, section skipped");
                continue;
            }
            if (words.size() == 3)
                current = pkg.find_section(words[2]);
            if (current) {
                // A repeated name reopens the section, as later lines win.
                current->type = words[1];
                continue;
            }
            UciSection section;
            section.type = words[1];
            section.anonymous = words.size() == 2;
            section.name = section.anonymous ? pkg.new_anonymous_name(section.type) : words[2];
            pkg.sections.push_back(section);
            current = &pkg.sections.back();
        } else if (keyword == "option" || keyword == "list") {
            if (!current) {
                warn("option outside a section, skipped");
                continue;
            }
            if (words.size() != 3 || !valid_name(words[1])) {
                warn("bad option line, skipped");
                continue;
            }
            bool is_list = keyword == "list";
            UciOption* option = current->find_option(words[1]);
            if (!option) {
                current->options.push_back(UciOption{words[1], is_list, {}});
                option = &current->options.back();
            }
            if (is_list) {
                option->is_list = true;
            } else {
                option->is_list = false;
                option->values.clear();
            }
            option->values.push_back(words[2]);
        } else {
            warn("unknown statement, skipped");
        }
    }
}

std::string quote_value(const std::string& value)
{
    std::string out = "'";
    for (char c : value) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string join_values(const UciOption& option, const std::string& delim)
{
    std::string out;
    for (size_t i = 0; i < option.values.size(); ++i) {
        if (i)
            out += delim;
        out += option.values[i];
    }
    return out;
}

bool valid_name(const std::string& name)
{
    return check_chars(name, false);
}

bool valid_type(const std::string& type)
{
    return check_chars(type, true);
}

std::string format_package(const UciPackage& pkg)
{
    std::string out;
    for (const UciSection& section : pkg.sections) {
        out += "\nconfig " + section.type;
        if (!section.anonymous)
            out += " " + quote_value(section.name);
        out += "\n";
        for (const UciOption& option : section.options)
            for (const std::string& value : option.values)
                out += std::string(option.is_list ? "\tlist " : "\toption ") + option.name + " " + quote_value(value) + "\n";
    }
    return out + "\n";
}

std::string export_package(const UciPackage& pkg)
{
    return "package " + pkg.name + "\n" + format_package(pkg);
}

std::string show_option(const UciPackage& pkg, const UciSection& section, const UciOption& option, bool real_names)
{
    std::string out = pkg.name + "." + section_ref(pkg, section, real_names) + "." + option.name + "=";
    for (size_t i = 0; i < option.values.size(); ++i) {
        if (i)
            out += " ";
        out += quote_value(option.values[i]);
    }
    return out + "\n";
}

std::string show_section(const UciPackage& pkg, const UciSection& section, bool real_names)
{
    std::string out = pkg.name + "." + section_ref(pkg, section, real_names) + "=" + section.type + "\n";
    for (const UciOption& option : section.options)
        out += show_option(pkg, section, option, real_names);
    return out;
}

std::string show_package(const UciPackage& pkg, bool real_names)
{
    std::string out;
    for (const UciSection& section : pkg.sections)
        out += show_section(pkg, section, real_names);
    return out;
}
