// A stand-in for the router's uci tool: reads and changes the UCI packages of
// a simulated router root, with uncommitted changes kept in delta files.
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "uci_store.h"

namespace {

struct Options {
    UciPaths paths = default_paths();
    bool quiet = false;
    bool strict = true; // -S: skip bad statements instead of refusing the package
    ShowStyle show;
    std::string delim = " ";
};

struct Key {
    std::string package;
    std::string section; // as written: a name or @type[n]
    std::string option;
    std::string value;
    bool has_value = false;
};

enum class Status { ok = 0, not_found, invalid, io_error };

Options g_opts;

int fail(Status status)
{
    if (!g_opts.quiet) {
        const char* text = status == Status::not_found ? "Entry not found"
                         : status == Status::invalid   ? "Invalid argument"
                                                       : "I/O error";
        fprintf(stderr, "uci: %s\n", text);
    }
    return 1;
}

void print_parse_errors(const PackageSession& session)
{
    if (g_opts.quiet)
        return;
    for (const ParseError& e : session.errors())
        fprintf(stderr, "uci: %s\n", format_parse_error(e).c_str());
}

// Opens a package for a command; on failure reports why (the parse error
// of a refused package, as the real tool does) and returns false.
bool open_package(PackageSession& session, bool exclusive)
{
    OpenStatus status = session.open(exclusive);
    print_parse_errors(session);
    if (status == OpenStatus::ok)
        return true;
    if (status != OpenStatus::refused)
        fail(status == OpenStatus::not_found ? Status::not_found : Status::io_error);
    return false;
}

// package[.section[.option]][=value]
bool parse_key(const std::string& arg, Key& key)
{
    size_t eq = arg.find('=');
    std::string path = arg.substr(0, eq);
    key.has_value = eq != std::string::npos;
    if (key.has_value)
        key.value = arg.substr(eq + 1);
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = path.find('.', start);
        parts.push_back(path.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (parts.size() > 3 || !valid_type(parts[0]))
        return false;
    for (const std::string& part : parts)
        if (part.empty())
            return false;
    key.package = parts[0];
    if (parts.size() > 1)
        key.section = parts[1];
    if (parts.size() > 2)
        key.option = parts[2];
    return true;
}

void print(const std::string& text)
{
    fwrite(text.data(), 1, text.size(), stdout);
}

int cmd_get(const Key& key)
{
    if (key.has_value)
        return fail(Status::invalid);
    PackageSession session(g_opts.paths, key.package, g_opts.strict);
    if (!open_package(session, false))
        return 1;
    // A package alone prints nothing: only whether it reads.
    if (key.section.empty())
        return 0;
    UciSection* section = session.package().find_section(key.section);
    if (!section)
        return fail(Status::not_found);
    if (key.option.empty()) {
        print(section->type + "\n");
        return 0;
    }
    UciOption* option = section->find_option(key.option);
    if (!option)
        return fail(Status::not_found);
    print(join_values(*option, g_opts.delim) + "\n");
    return 0;
}

// show and export of every package go on past one that does not read.
int cmd_show(const std::vector<Key>& keys, bool every_package)
{
    for (const Key& key : keys) {
        PackageSession session(g_opts.paths, key.package, g_opts.strict);
        if (!open_package(session, false)) {
            if (every_package)
                continue;
            return 1;
        }
        UciPackage& pkg = session.package();
        if (key.section.empty()) {
            print(show_package(pkg, g_opts.show));
            continue;
        }
        UciSection* section = pkg.find_section(key.section);
        if (!section)
            return fail(Status::not_found);
        if (key.option.empty()) {
            print(show_section(pkg, *section, g_opts.show));
            continue;
        }
        UciOption* option = section->find_option(key.option);
        if (!option)
            return fail(Status::not_found);
        print(show_option(pkg, *section, *option, g_opts.show));
    }
    return 0;
}

int cmd_export(const std::vector<Key>& keys, bool every_package)
{
    for (const Key& key : keys) {
        PackageSession session(g_opts.paths, key.package, g_opts.strict);
        if (!open_package(session, false)) {
            if (every_package)
                continue;
            return 1;
        }
        print(export_package(session.package()));
    }
    return 0;
}

// Whether a set changes nothing: the real tool then records no change,
// so a commit leaves the file alone.
bool set_is_no_change(UciPackage& pkg, const DeltaEntry& entry)
{
    UciSection* section = pkg.find_section(entry.section);
    if (!section)
        return false;
    if (entry.option.empty())
        return section->type == entry.value;
    UciOption* option = section->find_option(entry.option);
    return option && !option->is_list && option->values.size() == 1 && option->values[0] == entry.value;
}

// set, add_list, del_list, delete and rename: one change recorded in the delta.
int cmd_change(DeltaOp op, const Key& key)
{
    bool needs_value = op != DeltaOp::remove;
    if (key.section.empty() || key.has_value != needs_value)
        return fail(Status::invalid);
    if (op != DeltaOp::set && op != DeltaOp::remove && op != DeltaOp::rename && key.option.empty())
        return fail(Status::invalid);
    if (!key.option.empty() && !valid_name(key.option))
        return fail(Status::invalid);
    PackageSession session(g_opts.paths, key.package, g_opts.strict);
    if (!open_package(session, true))
        return 1;
    UciPackage& pkg = session.package();
    DeltaEntry entry{op, key.section, key.option, key.value};
    UciSection* section = pkg.find_section(key.section);
    if (section) {
        entry.section = section->name;
    } else if (op == DeltaOp::set && key.option.empty()) {
        if (key.value.empty())
            return 0; // no such section to delete
        if (!valid_name(key.section))
            return fail(Status::invalid);
    } else {
        return fail(Status::not_found);
    }
    if (op == DeltaOp::set && key.value.empty()) {
        // Setting nothing deletes; with nothing there, there is nothing to record.
        if (!key.option.empty() && !section->find_option(key.option))
            return 0;
        entry.op = DeltaOp::remove;
    } else if (op == DeltaOp::set && set_is_no_change(pkg, entry)) {
        return 0;
    }
    if (!apply_delta(pkg, entry))
        return fail(entry.op == DeltaOp::remove ? Status::not_found : Status::invalid);
    return session.append(entry) ? 0 : fail(Status::io_error);
}

int cmd_add(const std::vector<std::string>& args)
{
    if (args.size() != 2 || !valid_type(args[0]) || !valid_type(args[1]))
        return fail(Status::invalid);
    PackageSession session(g_opts.paths, args[0], g_opts.strict);
    if (!open_package(session, true))
        return 1;
    UciPackage& pkg = session.package();
    DeltaEntry entry{DeltaOp::add_section, pkg.new_anonymous_name(args[1]), "", args[1]};
    if (!apply_delta(pkg, entry) || !session.append(entry))
        return fail(Status::io_error);
    print(entry.section + "\n");
    return 0;
}

int cmd_commit(const std::vector<std::string>& packages, bool every_package)
{
    // One package that cannot be committed does not hold back the others.
    int rc = 0;
    for (const std::string& name : packages) {
        PackageSession session(g_opts.paths, name, g_opts.strict);
        // Without changes nothing is written (spares the flash), and no
        // delta file is made: the package is only read, to report a fault.
        // Changes that appear meanwhile wait for the next commit: writing
        // needs the exclusive lock.
        bool changed = has_delta(g_opts.paths, name);
        if (!open_package(session, changed))
            rc = 1;
        else if (changed && !session.delta().empty() && !session.commit())
            rc = fail(Status::io_error);
    }
    return every_package ? 0 : rc;
}

int cmd_revert(const Key& key)
{
    if (key.has_value)
        return fail(Status::invalid);
    PackageSession session(g_opts.paths, key.package, g_opts.strict);
    if (!open_package(session, true))
        return 1;
    std::vector<DeltaEntry> kept;
    if (!key.section.empty()) {
        UciSection* section = session.package().find_section(key.section);
        std::string name = section ? section->name : key.section;
        for (const DeltaEntry& entry : session.delta()) {
            bool hit = entry.section == name && (key.option.empty() || entry.option == key.option);
            if (!hit)
                kept.push_back(entry);
        }
    }
    return session.rewrite_delta(kept) ? 0 : fail(Status::io_error);
}

int cmd_changes(const std::vector<std::string>& packages, bool every_package)
{
    for (const std::string& name : packages) {
        PackageSession session(g_opts.paths, name, g_opts.strict);
        if (!open_package(session, false)) {
            if (every_package)
                continue;
            return 1;
        }
        for (const DeltaEntry& entry : session.delta())
            print(format_change(name, entry));
    }
    return 0;
}

void usage()
{
    fprintf(stderr,
            "Usage: uci [-q] [-X] [-c confdir] [-P savedir] [-d delim] <command> [<arguments>]\n"
            "Commands:\n"
            "\tget      <config>.<section>[.<option>]\n"
            "\tset      <config>.<section>[.<option>]=<value>\n"
            "\tadd_list <config>.<section>.<option>=<value>\n"
            "\tdel_list <config>.<section>.<option>=<value>\n"
            "\tdelete   <config>.<section>[.<option>]\n"
            "\trename   <config>.<section>[.<option>]=<name>\n"
            "\tadd      <config> <section-type>\n"
            "\tshow     [<config>[.<section>[.<option>]]]\n"
            "\texport   [<config>]\n"
            "\tchanges  [<config>]\n"
            "\tcommit   [<config>]\n"
            "\trevert   <config>[.<section>[.<option>]]\n"
            "\tbatch    (commands from standard input, one a line)\n");
}

int run(const std::string& command, const std::vector<std::string>& args)
{
    struct ChangeCommand {
        const char* name;
        DeltaOp op;
    };
    static const ChangeCommand changes[] = {
        {"set", DeltaOp::set},           {"add_list", DeltaOp::add_list}, {"del_list", DeltaOp::del_list},
        {"delete", DeltaOp::remove},     {"rename", DeltaOp::rename},
    };
    for (const ChangeCommand& c : changes) {
        if (command != c.name)
            continue;
        Key key;
        if (args.size() != 1 || !parse_key(args[0], key))
            return fail(Status::invalid);
        // "delete pkg.sec.list=value" takes one value out of a list.
        if (c.op == DeltaOp::remove && key.has_value)
            return cmd_change(DeltaOp::del_list, key);
        return cmd_change(c.op, key);
    }
    if (command == "add")
        return cmd_add(args);

    if (command == "get" || command == "revert") {
        Key key;
        if (args.size() != 1 || !parse_key(args[0], key))
            return fail(Status::invalid);
        return command == "get" ? cmd_get(key) : cmd_revert(key);
    }

    // Commands that default to every package file, each read as the real
    // tool reads it (so a file that is not UCI is reported, then passed over).
    bool every_package = args.empty();
    std::vector<std::string> names = every_package ? list_packages(g_opts.paths) : args;
    if (command == "commit" || command == "changes") {
        for (const std::string& name : names)
            if (!valid_type(name))
                return fail(Status::invalid);
        return command == "commit" ? cmd_commit(names, every_package) : cmd_changes(names, every_package);
    }
    if (command == "show" || command == "export") {
        std::vector<Key> keys;
        for (const std::string& name : names) {
            Key key;
            if (!parse_key(name, key) || key.has_value || (command == "export" && !key.section.empty()))
                return fail(Status::invalid);
            keys.push_back(key);
        }
        return command == "show" ? cmd_show(keys, every_package) : cmd_export(keys, every_package);
    }
    usage();
    return 1;
}

// "uci batch": one command a line on standard input, quoted as in a
// package file. As with the real tool, a failing line is reported on
// standard error and the rest still runs; the batch itself succeeds.
int run_batch()
{
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, stdin)) > 0)
        text.append(buf, n);
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < text.size()) {
        if (!next_statement(text, pos, words)) {
            fail(Status::invalid); // an open quote runs to the end: nothing is left
            break;
        }
        if (words.empty())
            continue;
        std::string command = words[0];
        words.erase(words.begin());
        if (command == "exit")
            break;
        if (command == "batch")
            fail(Status::invalid);
        else
            run(command, words);
        fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int c;
    while ((c = getopt(argc, argv, "+c:d:P:t:qXsSnNm")) != -1) {
        switch (c) {
        case 'c':
            g_opts.paths.confdir = optarg;
            break;
        case 'P':
        case 't':
            g_opts.paths.savedir = optarg;
            break;
        case 'd':
            g_opts.delim = optarg;
            g_opts.show.delim = optarg;
            break;
        case 'q':
            g_opts.quiet = true;
            break;
        case 'X':
            g_opts.show.real_names = true;
            break;
        case 's':
            g_opts.strict = true;
            break;
        case 'S':
            g_opts.strict = false;
            break;
        case 'n': case 'N': case 'm':
            break; // accepted for compatibility; no effect here
        default:
            usage();
            return 1;
        }
    }
    if (optind >= argc) {
        usage();
        return 1;
    }
    std::string command = argv[optind];
    std::vector<std::string> args(argv + optind + 1, argv + argc);
    int rc = command == "batch" && args.empty() ? run_batch() : run(command, args);
    return fflush(stdout) == 0 ? rc : 1;
}
