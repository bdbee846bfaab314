// The uci stand-in run as the daemons and a person run it.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "uci_run.h"

namespace {

const char* SYSTEM_PACKAGE =
    "# written by hand\n"
    "config system\n"
    "\toption hostname 'Router'   # trailing comment\n"
    "\toption zonename \"UTC \\\"main\\\"\"\n"
    "\tlist ntp a.pool\n"
    "\tlist ntp 'b pool'\n"
    "\n"
    "config timeserver 'ntp'\n"
    "\toption enabled 1\n"
    "config system\n"
    "\toption hostname second\n";

class UciTool : public ::testing::Test {
protected:
    void SetUp() override { root.write("/etc/config/system", SYSTEM_PACKAGE); }

    std::string get(const std::string& key) const
    {
        UciResult r = root.run("get '" + key + "'");
        EXPECT_EQ(r.status, 0) << key << ": " << r.err;
        return r.out;
    }

    UciRoot root;
};

TEST_F(UciTool, GetReadsOptionsListsAndAnonymousSections)
{
    EXPECT_EQ(get("system.@system[0].hostname"), "Router\n");
    EXPECT_EQ(get("system.@system[1].hostname"), "second\n");
    EXPECT_EQ(get("system.@system[-1].hostname"), "second\n");
    EXPECT_EQ(get("system.@system[-2].hostname"), "Router\n");
    EXPECT_EQ(get("system.@system[0].zonename"), "UTC \"main\"\n");
    // An item with a blank is quoted, so the two items stay apart.
    EXPECT_EQ(get("system.@system[0].ntp"), "a.pool 'b pool'\n");
    EXPECT_EQ(get("system.ntp"), "timeserver\n");
    EXPECT_EQ(get("system.@timeserver[0].enabled"), "1\n");
    EXPECT_EQ(get("system.@system[0]"), "system\n");
    // A package alone only tells whether it reads.
    EXPECT_EQ(get("system"), "");
    EXPECT_EQ(root.run("get nopackage").err, "uci: Entry not found\n");
}

TEST_F(UciTool, MissingKeyExitsOneWithNothingOnStdout)
{
    for (const char* key : {"system.ntp.nothing", "system.nosection.x", "system.nosection", "nopackage.a.b",
                            "system.@system[2].hostname", "system.@system[-3].hostname", "system.@other[0]"}) {
        UciResult r = root.run(std::string("get ") + key);
        EXPECT_EQ(r.status, 1) << key;
        EXPECT_EQ(r.out, "") << key;
        EXPECT_EQ(r.err, "uci: Entry not found\n") << key;
        UciResult quiet = root.run(std::string("-q get ") + key);
        EXPECT_EQ(quiet.status, 1) << key;
        EXPECT_EQ(quiet.out + quiet.err, "") << key;
    }
}

TEST_F(UciTool, SetIsSeenBeforeCommitButKeptApartFromThePackage)
{
    ASSERT_EQ(root.run("-q set system.ntp.enabled='0'").status, 0);
    ASSERT_EQ(root.run("set system.@system[0].hostname=Box").status, 0);
    EXPECT_EQ(get("system.ntp.enabled"), "0\n");
    EXPECT_EQ(get("system.@system[0].hostname"), "Box\n");
    EXPECT_EQ(root.read("/etc/config/system"), SYSTEM_PACKAGE);
    EXPECT_NE(root.read("/tmp/.uci/system"), "");
    UciResult changes = root.run("changes");
    EXPECT_NE(changes.out.find("system.ntp.enabled='0'\n"), std::string::npos) << changes.out;
}

TEST_F(UciTool, CommitPersistsAndClearsTheDelta)
{
    ASSERT_EQ(root.run("set system.ntp.enabled=0").status, 0);
    ASSERT_EQ(root.run("add_list system.ntp.server=10.0.0.1").status, 0);
    ASSERT_EQ(root.run("add_list system.ntp.server=10.0.0.2").status, 0);
    ASSERT_EQ(root.run("-q commit system").status, 0);
    EXPECT_EQ(root.run("changes system").out, "");
    // Without the delta the values must come from the rewritten file.
    root.write("/tmp/.uci/system", "");
    EXPECT_EQ(get("system.ntp.enabled"), "0\n");
    EXPECT_EQ(get("system.ntp.server"), "10.0.0.1 10.0.0.2\n");
    EXPECT_EQ(get("system.@system[0].ntp"), "a.pool 'b pool'\n");
    EXPECT_EQ(get("system.@system[1].hostname"), "second\n");
    EXPECT_NE(root.read("/etc/config/system").find("\tlist server '10.0.0.2'\n"), std::string::npos);
    // No temporary file is left beside the package.
    std::vector<std::string> names;
    if (DIR* d = opendir((root.root() + "/etc/config").c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.' || e->d_name[1] > '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    EXPECT_EQ(names, std::vector<std::string>{"system"});
}

TEST_F(UciTool, CommitWithoutPackageCommitsEveryChangedOne)
{
    root.write("/etc/config/sms", "config sms 'general'\n\toption debug '1'\n");
    ASSERT_EQ(root.run("set sms.general.debug=5").status, 0);
    ASSERT_EQ(root.run("set system.ntp.enabled=0").status, 0);
    ASSERT_EQ(root.run("commit").status, 0);
    EXPECT_EQ(root.run("changes").out, "");
    EXPECT_NE(root.read("/etc/config/sms").find("option debug '5'"), std::string::npos);
    EXPECT_NE(root.read("/etc/config/system").find("option enabled '0'"), std::string::npos);
}

TEST_F(UciTool, RevertDropsUncommittedChanges)
{
    ASSERT_EQ(root.run("set system.ntp.enabled=0").status, 0);
    ASSERT_EQ(root.run("set system.ntp.mode=client").status, 0);
    ASSERT_EQ(root.run("revert system.ntp.mode").status, 0);
    EXPECT_EQ(get("system.ntp.enabled"), "0\n");
    EXPECT_EQ(root.run("-q get system.ntp.mode").status, 1);
    ASSERT_EQ(root.run("revert system").status, 0);
    EXPECT_EQ(get("system.ntp.enabled"), "1\n");
    EXPECT_EQ(root.run("changes").out, "");
    ASSERT_EQ(root.run("commit system").status, 0);
    EXPECT_EQ(root.read("/etc/config/system"), SYSTEM_PACKAGE); // nothing to write
}

TEST_F(UciTool, ValuesWithBlanksQuotesAndSignsSurviveCommit)
{
    ASSERT_EQ(root.run("-q set system.ntp.text='two  words'").status, 0);
    ASSERT_EQ(root.run("set system.ntp.quote=\"it's = 100%\"").status, 0);
    ASSERT_EQ(root.run("set system.ntp.neg=-42").status, 0);
    ASSERT_EQ(root.run("commit system").status, 0);
    EXPECT_EQ(get("system.ntp.text"), "two  words\n");
    EXPECT_EQ(get("system.ntp.quote"), "it's = 100%\n");
    EXPECT_EQ(get("system.ntp.neg"), "-42\n");
}

TEST_F(UciTool, ShowPrintsTheOpenWrtFormat)
{
    UciResult all = root.run("show system");
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.out,
              "system.@system[0]=system\n"
              "system.@system[0].hostname='Router'\n"
              "system.@system[0].zonename='UTC \"main\"'\n"
              "system.@system[0].ntp='a.pool' 'b pool'\n"
              "system.ntp=timeserver\n"
              "system.ntp.enabled='1'\n"
              "system.@system[1]=system\n"
              "system.@system[1].hostname='second'\n");
    EXPECT_EQ(root.run("show system.ntp").out, "system.ntp=timeserver\nsystem.ntp.enabled='1'\n");
    EXPECT_EQ(root.run("show system.@system[1].hostname").out, "system.@system[1].hostname='second'\n");
    EXPECT_EQ(root.run("-q show system.none").status, 1);
}

TEST_F(UciTool, SectionsAreAddedNamedAndDeleted)
{
    UciResult added = root.run("add system led");
    ASSERT_EQ(added.status, 0);
    ASSERT_EQ(added.out.rfind("cfg", 0), 0u) << added.out;
    std::string name = added.out.substr(0, added.out.size() - 1);
    ASSERT_EQ(root.run("set system." + name + ".trigger=none").status, 0);
    ASSERT_EQ(root.run("set system.extra=thing").status, 0);
    ASSERT_EQ(root.run("set system.extra.value=1").status, 0);
    ASSERT_EQ(root.run("delete system.ntp").status, 0);
    ASSERT_EQ(root.run("commit system").status, 0);
    EXPECT_EQ(get("system.@led[0].trigger"), "none\n");
    EXPECT_EQ(get("system.extra"), "thing\n");
    EXPECT_EQ(root.run("-q get system.ntp").status, 1);
    std::string file = root.read("/etc/config/system");
    EXPECT_NE(file.find("config led\n"), std::string::npos) << file;
    EXPECT_NE(file.find("config thing 'extra'\n"), std::string::npos) << file;
}

TEST_F(UciTool, WritesNeedAnExistingPackageAndSection)
{
    EXPECT_EQ(root.run("-q set nopackage.a.b=1").status, 1);
    EXPECT_FALSE(root.exists("/tmp/.uci/nopackage"));
    EXPECT_EQ(root.run("-q set system.nosection.b=1").status, 1);
    EXPECT_EQ(root.run("-q set system.nosection.b=").status, 1);
    EXPECT_EQ(root.run("-q set system.ntp.bad-name=1").status, 1);
    EXPECT_EQ(root.run("-q set system.ntp.enabled").status, 1);
    EXPECT_EQ(root.run("-q delete system.ntp.nothing").status, 1);
    EXPECT_EQ(root.run("changes").out, "");
}

TEST_F(UciTool, ConcurrentSettersAndCommittersAllLand)
{
    root.write("/etc/config/moskar", "config moskar 'traffic'\n\toption enabled '1'\n");
    constexpr int WRITERS = 6;
    constexpr int SETS = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < WRITERS; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < SETS; ++i) {
                std::string key = "moskar.traffic.w" + std::to_string(w) + "_" + std::to_string(i);
                failures += root.run("-q set " + key + "='" + std::to_string(i) + " v'").status != 0;
                if (i % 4 == 3)
                    failures += root.run("-q commit moskar").status != 0;
                if (w == 0)
                    failures += root.run("-q get moskar.traffic.enabled").out != "1\n";
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_EQ(root.run("commit moskar").status, 0);
    UciResult shown = root.run("show moskar");
    EXPECT_EQ(shown.err, "");
    for (int w = 0; w < WRITERS; ++w)
        for (int i = 0; i < SETS; ++i) {
            std::string line = "moskar.traffic.w" + std::to_string(w) + "_" + std::to_string(i) + "='" + std::to_string(i) + " v'\n";
            EXPECT_NE(shown.out.find(line), std::string::npos) << line;
        }
}

} // namespace

namespace {

TEST(UciToolDirs, ConfdirAndSavedirOptionsMoveTheStore)
{
    UciRoot root;
    root.write("/etc/config/net", "config iface 'lan'\n\toption proto 'dhcp'\n");
    std::string conf = root.root() + "/etc/config";
    std::string save = root.root() + "/elsewhere";
    EXPECT_EQ(root.run("-c '" + conf + "' -P '" + save + "' set net.lan.proto=static").status, 0);
    EXPECT_TRUE(root.exists("/elsewhere/net"));
    EXPECT_FALSE(root.exists("/tmp/.uci/net"));
    EXPECT_EQ(root.run("-q get net.lan.proto").out, "dhcp\n");
    EXPECT_EQ(root.run("-P '" + save + "' get net.lan.proto").out, "static\n");
    EXPECT_EQ(root.run("-c /nonexistent -q get net.lan.proto").status, 1);
}

} // namespace

namespace {

TEST(UciToolLists, ListValuesAreAddedAndTakenOutOneByOne)
{
    UciRoot root;
    root.write("/etc/config/net", "config iface 'lan'\n\tlist dns '1.1.1.1'\n\toption proto 'dhcp'\n");
    EXPECT_EQ(root.run("add_list net.lan.dns=8.8.8.8").status, 0);
    EXPECT_EQ(root.run("add_list net.lan.dns=9.9.9.9").status, 0);
    EXPECT_EQ(root.run("del_list net.lan.dns=1.1.1.1").status, 0);
    EXPECT_EQ(root.run("delete net.lan.dns=9.9.9.9").status, 0);
    EXPECT_EQ(root.run("get net.lan.dns").out, "8.8.8.8\n");
    // add_list on a plain option turns it into a list; set turns it back.
    EXPECT_EQ(root.run("add_list net.lan.proto=static").status, 0);
    EXPECT_EQ(root.run("-d , get net.lan.proto").out, "dhcp,static\n");
    EXPECT_EQ(root.run("set net.lan.dns=4.4.4.4").status, 0);
    EXPECT_EQ(root.run("commit net").status, 0);
    EXPECT_EQ(root.read("/etc/config/net"),
              "\nconfig iface 'lan'\n\toption dns '4.4.4.4'\n\tlist proto 'dhcp'\n\tlist proto 'static'\n\n");
}

} // namespace

namespace {

TEST(UciToolBatch, BatchReportsAFailingLineAndGoesOn)
{
    UciRoot root;
    root.write("/etc/config/net", "config iface 'lan'\n");
    UciResult r = root.shell("uci batch <<'EOF'\n"
                           "set net.lan.proto='static'\n"
                           "# a comment\n"
                           "set net.lan.name=\"two words\"\n"
                           "set net.nosection.x=1\n"
                           "set net.lan.bad-name=1\n"
                           "add_list net.lan.dns=1.1.1.1\n"
                           "commit net\n"
                           "EOF\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "uci: Entry not found\nuci: Invalid argument\n");
    EXPECT_EQ(root.run("changes").out, "");
    EXPECT_EQ(root.run("show net").out,
              "net.lan=iface\nnet.lan.proto='static'\nnet.lan.name='two words'\nnet.lan.dns='1.1.1.1'\n");
}

} // namespace

namespace {

ino_t inode_of(const UciRoot& root, const std::string& rel)
{
    struct stat st {};
    return stat((root.root() + rel).c_str(), &st) == 0 ? st.st_ino : 0;
}

const char* NET_PACKAGE = "config iface 'lan'\n"
                          "\toption proto 'dhcp'\n"
                          "\toption empty ''\n"
                          "\toption gone 'x'\n"
                          "\toption gone ''\n"
                          "\toption bare\n";

TEST(UciToolEmpty, AnEmptyOptionDoesNotExist)
{
    UciRoot root;
    root.write("/etc/config/net", NET_PACKAGE);
    for (const char* key : {"net.lan.empty", "net.lan.gone", "net.lan.bare"}) {
        UciResult r = root.run(std::string("get ") + key);
        EXPECT_EQ(r.status, 1) << key;
        EXPECT_EQ(r.out, "") << key;
        EXPECT_EQ(r.err, "uci: Entry not found\n") << key;
    }
    EXPECT_EQ(root.run("show net").out, "net.lan=iface\nnet.lan.proto='dhcp'\n");
    EXPECT_EQ(root.run("export net").out, "package net\n\nconfig iface 'lan'\n\toption proto 'dhcp'\n\n");
    ASSERT_EQ(root.run("set net.lan.proto=static").status, 0);
    ASSERT_EQ(root.run("commit net").status, 0);
    EXPECT_EQ(root.read("/etc/config/net"), "\nconfig iface 'lan'\n\toption proto 'static'\n\n");
}

TEST(UciToolEmpty, SettingNothingRecordsADeletion)
{
    UciRoot root;
    root.write("/etc/config/net", NET_PACKAGE);
    ASSERT_EQ(root.run("set net.lan.proto=").status, 0);
    EXPECT_EQ(root.run("changes").out, "-net.lan.proto\n");
    EXPECT_EQ(root.run("-q get net.lan.proto").status, 1);
    // Nothing there to delete: nothing recorded.
    ASSERT_EQ(root.run("set net.lan.empty=''").status, 0);
    ASSERT_EQ(root.run("set net.other=").status, 0);
    EXPECT_EQ(root.run("changes net").out, "-net.lan.proto\n");
    ASSERT_EQ(root.run("commit net").status, 0);
    EXPECT_EQ(root.read("/etc/config/net"), "\nconfig iface 'lan'\n\n");
}

TEST(UciToolNoChange, SetToTheSameValueLeavesTheFileAlone)
{
    UciRoot root;
    root.write("/etc/config/net", NET_PACKAGE);
    ino_t before = inode_of(root, "/etc/config/net");
    ASSERT_EQ(root.run("set net.lan.proto=dhcp").status, 0);
    ASSERT_EQ(root.run("set net.lan=iface").status, 0);
    EXPECT_EQ(root.run("changes").out, "");
    ASSERT_EQ(root.run("commit net").status, 0);
    EXPECT_EQ(inode_of(root, "/etc/config/net"), before);
    EXPECT_EQ(root.read("/etc/config/net"), NET_PACKAGE);

    // The same through one batch, as a daemon writes its cycle.
    UciResult r = root.shell("uci -q batch <<'EOF'\nset net.lan.proto='dhcp'\ncommit net\nEOF\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(inode_of(root, "/etc/config/net"), before);
    r = root.shell("uci -q batch <<'EOF'\nset net.lan.proto='dhcp'\nset net.lan.mtu='1400'\ncommit net\nEOF\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(inode_of(root, "/etc/config/net"), before);
    EXPECT_EQ(root.run("get net.lan.mtu").out, "1400\n");

    // Back to a committed value after an uncommitted change is a change.
    ASSERT_EQ(root.run("set net.lan.proto=static").status, 0);
    ASSERT_EQ(root.run("set net.lan.proto=dhcp").status, 0);
    EXPECT_EQ(root.run("changes").out, "net.lan.proto='static'\nnet.lan.proto='dhcp'\n");
}

struct BadFile {
    const char* text;
    const char* error;
};

TEST(UciToolStrict, ASyntaxErrorRefusesThePackageWhole)
{
    const BadFile cases[] = {
        {"option orphan 1\nconfig general 'general'\n\toption ok '1'\n",
         "uci: Parse error (option/list command found before the first section) at line 1, byte 0\n"},
        {"config general 'general'\n\toption ok '1'\n\toption x 'unterminated\n",
         "uci: Parse error (EOF with unterminated ') at line 3, byte 24\n"},
        {"config general 'general'\n\toption ok '1'\n\tbogus line\n",
         "uci: Parse error (invalid command) at line 3, byte 1\n"},
        {"config general 'general'\n\toption ok '1'\n\toption two words here\n",
         "uci: Parse error (too many arguments) at line 3, byte 18\n"},
    };
    for (const BadFile& bad : cases) {
        UciRoot root;
        root.write("/etc/config/good", "config general 'general'\n\toption ok '1'\n");
        root.write("/etc/config/bad", bad.text);
        UciResult r = root.run("get bad.general.ok");
        EXPECT_EQ(r.status, 1) << bad.text;
        EXPECT_EQ(r.out, "") << bad.text;
        EXPECT_EQ(r.err, bad.error) << bad.text;
        EXPECT_EQ(root.run("get bad").err, bad.error) << bad.text;
        UciResult quiet = root.run("-q get bad.general.ok");
        EXPECT_EQ(quiet.status, 1);
        EXPECT_EQ(quiet.out + quiet.err, "");
        EXPECT_EQ(root.run("-q show bad").status, 1);
        EXPECT_EQ(root.run("-q set bad.general.ok=2").status, 1);
        EXPECT_EQ(root.run("-q commit bad").status, 1);
        EXPECT_EQ(root.read("/etc/config/bad"), bad.text);
        EXPECT_EQ(root.run("get good.general.ok").out, "1\n");
    }
}

TEST(UciToolStrict, JunkNeverCrashesTheParser)
{
    UciRoot root;
    for (const char* junk : {"'", "config", "config a 'b", "\"\\", "list x y\nconfig", "config x y z w\n",
                             "\\", "config 'bad name!'\n", "c t\no x\nl y\np"}) {
        root.write("/etc/config/junk", junk);
        int shown = root.run("-q show junk").status;
        EXPECT_TRUE(shown == 0 || shown == 1) << junk;
        int status = root.run("-q -S set junk.y.z=1").status;
        EXPECT_TRUE(status == 0 || status == 1) << junk;
    }
    root.write("/etc/config/system", "config timeserver 'ntp'\n\toption enabled '1'\n");
    root.write("/tmp/.uci/system", "garbage\n-\n+system.=x\nsystem.ntp.enabled='7'\nsystem.ntp.torn='x");
    EXPECT_EQ(root.run("get system.ntp.enabled").out, "7\n");
}

TEST(UciToolStrict, NonStrictSkipsBadStatementsAndSaysSo)
{
    UciRoot root;
    root.write("/etc/config/broken", "option orphan 1\n"
                                     "config general 'general'\n"
                                     "\toption debug '5'\n"
                                     "\tbogus line here\n"
                                     "config 'bad name!'\n"
                                     "\toption lost 1\n"
                                     "config second 'second'\n"
                                     "\toption ok yes\n");
    UciResult r = root.run("-S get broken.second.ok");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "yes\n");
    EXPECT_EQ(r.err, "uci: Parse error (option/list command found before the first section) at line 1, byte 0\n"
                     "uci: Parse error (invalid command) at line 4, byte 1\n"
                     "uci: Parse error (invalid character in type field) at line 5, byte 7\n"
                     "uci: Parse error (option/list command found before the first section) at line 6, byte 1\n");
    UciResult quiet = root.run("-q -S get broken.general.debug");
    EXPECT_EQ(quiet.out, "5\n");
    EXPECT_EQ(quiet.err, "");
}

TEST(UciToolStrict, ANonUciFileIsReportedByTheEveryPackageForms)
{
    UciRoot root;
    const char* journal = "2026-05-01 10:00:00 Received SMS: sender: 123; msg: hello\n";
    root.write("/etc/config/sms_record", journal);
    root.write("/etc/config/system", "config timeserver 'ntp'\n\toption enabled '1'\n");
    const std::string error = "uci: Parse error (invalid command) at line 1, byte 0\n";
    ASSERT_EQ(root.run("set system.ntp.enabled=0").status, 0);
    UciResult changes = root.run("changes");
    EXPECT_EQ(changes.status, 0);
    EXPECT_EQ(changes.out, "system.ntp.enabled='0'\n");
    EXPECT_EQ(changes.err, error);
    UciResult shown = root.run("show");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, "system.ntp=timeserver\nsystem.ntp.enabled='0'\n");
    EXPECT_EQ(shown.err, error);
    UciResult exported = root.run("export");
    EXPECT_EQ(exported.status, 0);
    EXPECT_EQ(exported.err, error);
    UciResult committed = root.run("commit");
    EXPECT_EQ(committed.status, 0);
    EXPECT_EQ(committed.err, error);
    EXPECT_EQ(root.read("/etc/config/system"), "\nconfig timeserver 'ntp'\n\toption enabled '0'\n\n");
    EXPECT_EQ(root.read("/etc/config/sms_record"), journal);
    EXPECT_FALSE(root.exists("/tmp/.uci/sms_record"));
    UciResult one = root.run("show sms_record");
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.err, error);
    EXPECT_EQ(root.run("-q show").err, "");
}

TEST(UciToolLists, ShowUsesTheDelimiterAndQuotesEveryItem)
{
    UciRoot root;
    root.write("/etc/config/system", "config system 'a'\n\tlist pool x\n\tlist pool 'b pool'\n\tlist pool \"it's\"\n");
    EXPECT_EQ(root.run("get system.a.pool").out, "x 'b pool' it's\n");
    EXPECT_EQ(root.run("show system.a.pool").out, "system.a.pool='x' 'b pool' 'it'\\''s'\n");
    EXPECT_EQ(root.run("-d , show system.a.pool").out, "system.a.pool='x','b pool','it'\\''s'\n");
}

} // namespace
