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
// unterminated quote, leaving pos at the end of the text and the quote in open.
bool read_word(const std::string& text, size_t& pos, std::string& word, char& open)
{
    while (pos < text.size()) {
        char c = text[pos];
        if (is_blank(c) || c == '\n')
            return true;
        if (c == '\'') {
            size_t end = text.find('\'', pos + 1);
            if (end == std::string::npos) {
                pos = text.size();
                open = c;
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
            if (pos >= text.size()) {
                open = c;
                return false;
            }
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

bool next_statement(const std::string& text, size_t& pos, std::vector<std::string>& words, std::vector<size_t>* starts,
                    char* quote)
{
    words.clear();
    if (starts)
        starts->clear();
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
            if (starts)
                starts->push_back(pos);
            std::string word;
            char open = 0;
            if (!read_word(text, pos, word, open)) {
                if (quote)
                    *quote = open;
                return false;
            }
            words.push_back(word);
        }
    }
    return true;
}

std::string format_parse_error(const ParseError& error)
{
    return "Parse error (" + error.reason + ") at line " + std::to_string(error.line) + ", byte " +
           std::to_string(error.byte);
}

namespace {

// The keyword of a statement, in full or by its first letter as the real
// parser takes it; 0 when it is none of them.
char keyword_of(const std::string& word)
{
    for (const char* keyword : {"package", "config", "option", "list"})
        if (word == keyword || (word.size() == 1 && word[0] == keyword[0]))
            return keyword[0];
    return 0;
}

// What is wrong with one statement, "" when nothing. bad_word: the index
// of the word the fault is reported at.
const char* check_statement(char keyword, const std::vector<std::string>& words, bool in_section, size_t& bad_word)
{
    bad_word = 0;
    switch (keyword) {
    case 'p':
        return words.size() > 2 ? (bad_word = 2, "too many arguments") : "";
    case 'c':
        if (words.size() < 2)
            return "insufficient arguments";
        if (!valid_type(words[1]))
            return bad_word = 1, "invalid character in type field";
        if (words.size() > 2 && !words[2].empty() && !valid_name(words[2]))
            return bad_word = 2, "invalid character in name field";
        return words.size() > 3 ? (bad_word = 3, "too many arguments") : "";
    case 'o':
    case 'l':
        if (!in_section)
            return "option/list command found before the first section";
        if (words.size() < 2)
            return "insufficient arguments";
        if (!valid_name(words[1]))
            return bad_word = 1, "invalid character in name field";
        return words.size() > 3 ? (bad_word = 3, "too many arguments") : "";
    default:
        return "invalid command";
    }
}

void apply_statement(char keyword, const std::vector<std::string>& words, UciPackage& pkg, UciSection*& current)
{
    if (keyword == 'p')
        return;
    if (keyword == 'c') {
        bool anonymous = words.size() < 3 || words[2].empty();
        current = anonymous ? nullptr : pkg.find_section(words[2]);
        if (current) {
            // A repeated name reopens the section, as later lines win.
            current->type = words[1];
            return;
        }
        UciSection section;
        section.type = words[1];
        section.anonymous = anonymous;
        section.name = anonymous ? pkg.new_anonymous_name(section.type) : words[2];
        pkg.sections.push_back(section);
        current = &pkg.sections.back();
        return;
    }
    std::string value = words.size() > 2 ? words[2] : "";
    UciOption* option = current->find_option(words[1]);
    if (keyword == 'o' && value.empty()) {
        // An empty option does not exist; it takes away an earlier one.
        if (option)
            current->options.erase(current->options.begin() + (option - current->options.data()));
        return;
    }
    if (!option) {
        current->options.push_back(UciOption{words[1], keyword == 'l', {}});
        option = &current->options.back();
    }
    if (keyword == 'l') {
        option->is_list = true;
    } else {
        option->is_list = false;
        option->values.clear();
    }
    option->values.push_back(value);
}

} // namespace

bool parse_package(const std::string& text, UciPackage& pkg, bool strict, std::vector<ParseError>& errors)
{
    UciSection* current = nullptr;
    std::vector<std::string> words;
    std::vector<size_t> starts;
    size_t pos = 0;
    int line = 0;       // newline-terminated lines read, as the real parser counts
    size_t line_start = 0;
    while (pos < text.size()) {
        size_t start = pos;
        char quote = 0;
        bool complete = next_statement(text, pos, words, &starts, &quote);
        // The statement's line begins at the last newline before it.
        for (size_t i = line_start; i < start; ++i)
            if (text[i] == '\n')
                line_start = i + 1;
        for (size_t i = start; i < pos; ++i)
            line += text[i] == '\n';
        if (!complete) {
            // The quote runs to the end of the text: reported there.
            errors.push_back({std::string("EOF with unterminated ") + quote, line, text.size() - line_start});
            return false;
        }
        if (words.empty())
            continue;
        char keyword = keyword_of(words[0]);
        size_t bad_word = 0;
        const char* fault = check_statement(keyword, words, current != nullptr, bad_word);
        if (*fault) {
            size_t at = bad_word < starts.size() ? starts[bad_word] : starts.back() + words.back().size();
            errors.push_back({fault, line, at - line_start});
            if (strict)
                return false;
            if (keyword == 'c')
                current = nullptr; // the options below it have no section to go to
            continue;
        }
        apply_statement(keyword, words, pkg, current);
    }
    return errors.empty() || !strict;
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
    if (!option.is_list)
        return option.values.empty() ? "" : option.values[0];
    std::string out;
    for (size_t i = 0; i < option.values.size(); ++i) {
        if (i)
            out += delim;
        const std::string& item = option.values[i];
        out += item.find_first_of(" \t\r\n") == std::string::npos ? item : quote_value(item);
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

std::string show_option(const UciPackage& pkg, const UciSection& section, const UciOption& option,
                        const ShowStyle& style)
{
    std::string out = pkg.name + "." + section_ref(pkg, section, style.real_names) + "." + option.name + "=";
    for (size_t i = 0; i < option.values.size(); ++i) {
        if (i)
            out += style.delim;
        out += quote_value(option.values[i]);
    }
    return out + "\n";
}

std::string show_section(const UciPackage& pkg, const UciSection& section, const ShowStyle& style)
{
    std::string out = pkg.name + "." + section_ref(pkg, section, style.real_names) + "=" + section.type + "\n";
    for (const UciOption& option : section.options)
        out += show_option(pkg, section, option, style);
    return out;
}

std::string show_package(const UciPackage& pkg, const ShowStyle& style)
{
    std::string out;
    for (const UciSection& section : pkg.sections)
        out += show_section(pkg, section, style);
    return out;
}
