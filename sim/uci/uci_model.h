// The in-memory form of one UCI package, its text parser and writers.
#pragma once

#include <string>
#include <vector>

struct UciOption {
    std::string name;
    bool is_list = false;
    std::vector<std::string> values; // one value unless is_list
};

struct UciSection {
    std::string type;
    std::string name;       // generated ("cfg...") when anonymous
    bool anonymous = false; // written without a name on commit
    std::vector<UciOption> options;

    UciOption* find_option(const std::string& option_name);
};

struct UciPackage {
    std::string name;
    std::vector<UciSection> sections;

    // A section by name or by "@type[index]" (negative counts from the end).
    UciSection* find_section(const std::string& ref);
    // Index of a section among those of its type, as show prints it.
    int type_index(const UciSection& section) const;
    // A name for a new anonymous section that no section has yet.
    std::string new_anonymous_name(const std::string& type) const;
};

// A statement the parser could not take, where the real tool reports it:
// line counts the newline-terminated lines read so far, byte is the offset
// within the statement's line.
struct ParseError {
    std::string reason;
    int line = 0;
    size_t byte = 0;
};

// "Parse error (reason) at line N, byte B", as uci prints it after "uci: ".
std::string format_parse_error(const ParseError& error);

// Fills pkg from the text of a package file. strict (the tool's default):
// the first bad statement refuses the whole text, returning false with that
// one error. Otherwise each bad statement is skipped and listed in errors.
// An option with an empty value does not exist: it is dropped, and it
// deletes an option of that name set earlier.
bool parse_package(const std::string& text, UciPackage& pkg, bool strict, std::vector<ParseError>& errors);

// The file form written on commit.
std::string format_package(const UciPackage& pkg);
// "uci export": the file form led by a package line.
std::string export_package(const UciPackage& pkg);
// How "uci show" prints: anonymous sections by name or as @type[n], and
// the delimiter between list items.
struct ShowStyle {
    bool real_names = false;
    std::string delim = " ";
};

// "uci show" lines for the whole package, one section or one option.
std::string show_package(const UciPackage& pkg, const ShowStyle& style);
std::string show_section(const UciPackage& pkg, const UciSection& section, const ShowStyle& style);
std::string show_option(const UciPackage& pkg, const UciSection& section, const UciOption& option,
                        const ShowStyle& style);

// A value in single quotes, an embedded quote written as '\''.
std::string quote_value(const std::string& value);
// Values of an option joined by delim, as "uci get" prints them: a list
// item holding a blank is quoted so that the items can be told apart.
std::string join_values(const UciOption& option, const std::string& delim);

// Name checks: sections and options take letters, digits and '_';
// packages and section types also '-'.
bool valid_name(const std::string& name);
bool valid_type(const std::string& type);

// Splits one statement of UCI text into its words, honouring ' and "
// quotes, backslash escapes and comments. pos advances past the statement
// (its newline included). starts, when given, receives each word's offset
// in text. Returns false on an unterminated quote, with quote set to it.
bool next_statement(const std::string& text, size_t& pos, std::vector<std::string>& words,
                    std::vector<size_t>* starts = nullptr, char* quote = nullptr);
