// The router packaging: default configurations read through the uci
// stand-in, and the init scripts' start_service run against a procd stand-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "uci_run.h"

namespace {

std::string source(const std::string& relative)
{
    return std::string(SOURCE_DIR) + "/" + relative;
}

std::string read_source(const std::string& relative)
{
    UciRoot scratch;
    return scratch.shell("cat '" + source(relative) + "'").out;
}

struct PackageOptions {
    const char* package;
    std::vector<std::string> keys; // section.option, every one the daemon or its init script reads
};

std::vector<std::string> traffic_keys(const std::string& section)
{
    std::vector<std::string> keys;
    for (const char* option : {"ifname", "debug", "debugoutput", "enabled", "period", "start_hour", "phone",
                               "start_month", "start_week", "datamax", "percent", "used", "endtime", "alarmsent",
                               "turnoff", "ulspeed", "dlspeed", "rendtime", "force_shutdown"})
        keys.push_back(section + "." + option);
    return keys;
}

std::vector<PackageOptions> all_packages()
{
    std::vector<std::string> sms = {"general.device", "general.module", "general.cdma", "general.device2",
                                    "command.enabled", "general.alarmenabled", "command.smsack", "command.fixplus",
                                    "general.debug", "rssi.rssialarm", "rssi.sigthres", "rssi.failedthres",
                                    "rssi.normalthres"};
    for (const char* slot : {"reboot", "cellstatus", "cellup", "celldown", "dio0set", "dio0reset", "dio1set",
                             "dio1reset", "dio2set", "dio2reset", "dio3set", "dio3reset", "diostatus", "wifion",
                             "wifioff", "operlist", "operset", "forcecellup", "simswitch"})
        sms.push_back(std::string("command.") + slot);
    std::vector<std::string> moskar = traffic_keys("traffic");
    for (const std::string& key : traffic_keys("traffic2"))
        moskar.push_back(key);
    return {
        {"sms", sms},
        {"moskar", moskar},
        {"quorral", {"general.enabled", "general.device", "general.proto", "general.sendsn", "general.onlyrmc",
                     "general.interval", "general.serverip", "general.serverport", "general.baudrate",
                     "general.parity", "general.databits", "general.stopbits", "general.debug"}},
        {"dastral", {"general.enabled", "general.device", "general.port", "general.debug", "general.output",
                     "general.baudrate", "general.parity", "general.databits", "general.stopbits"}},
        {"tolvane", {"gre1.enabled", "gre1.remote", "gre1.local", "gre1.dev", "gre1.gname", "gre1.mode",
                     "gre1.seconds", "gre1.retry", "gre1.timeout", "gre1.debug"}},
    };
}

bool empty_in_default(const std::string& package, const std::string& key)
{
    static const std::vector<std::string> empty = {"sms.general.device2", "moskar.traffic.phone",
                                                   "moskar.traffic.rendtime", "moskar.traffic2.ifname",
                                                   "moskar.traffic2.phone", "moskar.traffic2.rendtime"};
    for (const std::string& k : empty)
        if (k == package + "." + key)
            return true;
    return false;
}

class Packaging : public ::testing::Test {
protected:
    void install_config(const std::string& package)
    {
        root.write("/etc/config/" + package, read_source("openwrt/files/" + package + ".config"));
    }

    // Runs start_service of an init script; one line per procd call.
    std::string start_service(const std::string& daemon)
    {
        UciResult r = root.shell(". '" + source("tests/sim/uci/procd_shim.sh") + "'\n. '" +
                                 source("openwrt/files/" + daemon + ".init") + "'\nstart_service\n");
        EXPECT_EQ(r.err, "") << daemon;
        return r.out;
    }

    void set(const std::string& assignment) { ASSERT_EQ(root.run("set " + assignment).status, 0) << assignment; }

    UciRoot root;
};

TEST_F(Packaging, DefaultConfigsHoldEveryOptionAndParseCleanly)
{
    for (const PackageOptions& p : all_packages()) {
        install_config(p.package);
        UciResult shown = root.run(std::string("show ") + p.package);
        EXPECT_EQ(shown.status, 0) << p.package;
        EXPECT_EQ(shown.err, "") << p.package;
        for (const std::string& key : p.keys) {
            // OpenWrt's uci has no option of an empty value: those stand in
            // the file to document them, and readers take their default.
            if (empty_in_default(p.package, key))
                continue;
            UciResult got = root.run("get " + std::string(p.package) + "." + key);
            EXPECT_EQ(got.status, 0) << p.package << "." << key;
        }
    }
    UciResult percent = root.run("get moskar.traffic.percent");
    EXPECT_EQ(percent.out, "80 90 100\n");
    EXPECT_EQ(root.run("get sms.command.reboot").out, "reboot\n");
    EXPECT_EQ(root.run("get sms.general.debug").out, "3\n");
    EXPECT_EQ(root.run("get quorral.general.parity").out, "N\n");
    EXPECT_EQ(root.run("get dastral.general.port").out, "/dev/ttyS0\n");
    EXPECT_EQ(root.run("get moskar.@traffic[1].used").out, "0\n");
}

TEST_F(Packaging, InitScriptsPassTheSyntaxCheck)
{
    for (const char* daemon : {"brenlow", "moskar", "quorral", "dastral", "tolvane"}) {
        UciResult r = root.shell("sh -n '" + source(std::string("openwrt/files/") + daemon + ".init") + "'");
        EXPECT_EQ(r.status, 0) << daemon << ": " << r.err;
    }
}

TEST_F(Packaging, BrenlowStartsOnePerPresentModem)
{
    install_config("sms");
    std::string out = start_service("brenlow");
    EXPECT_EQ(out.find("instance"), std::string::npos) << out;
    EXPECT_NE(out.find("log [-t] [brenlow] [/dev/ttyUSB2 missing, modem1 not started]"), std::string::npos) << out;

    set("sms.general.device=/dev/null");
    set("sms.general.cdma=1");
    set("sms.general.device2=/dev/zero");
    out = start_service("brenlow");
    EXPECT_NE(out.find("command [/usr/sbin/brenlow] [/dev/null] [/var/run/brenlow.pid] [0] [1] [1]\n"),
              std::string::npos) << out;
    EXPECT_NE(out.find("command [/usr/sbin/brenlow] [/dev/zero] [/var/run/brenlow2.pid] [0] [2] [1]\n"),
              std::string::npos) << out;
}

TEST_F(Packaging, MoskarRestartsOnlyWhenAPersonChangesItsSettings)
{
    install_config("moskar");
    std::string out = start_service("moskar");
    EXPECT_NE(out.find("command [/usr/sbin/moskar] [usb0] [/var/run/moskar1.pid] [1]\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("moskar2.pid"), std::string::npos) << out; // traffic2 has no interface

    // The daemon's own writes leave the instance unchanged for procd ...
    set("moskar.traffic.used=123456");
    set("moskar.traffic.ulspeed=12.50");
    ASSERT_EQ(root.run("commit moskar").status, 0);
    EXPECT_EQ(start_service("moskar"), out);
    // ... a new allowance or router name (in the alarm text) does not.
    set("moskar.traffic.datamax=2000");
    std::string changed = start_service("moskar");
    EXPECT_NE(changed, out);
    root.write("/etc/config/system", "config system\n\toption hostname 'Router'\n");
    EXPECT_NE(start_service("moskar"), changed);

    set("moskar.traffic2.ifname=usb1");
    EXPECT_NE(start_service("moskar").find("command [/usr/sbin/moskar] [usb1] [/var/run/moskar2.pid] [2]\n"),
              std::string::npos);
}

TEST_F(Packaging, QuorralAndDastralStartOnlyWhenEnabled)
{
    install_config("quorral");
    install_config("dastral");
    EXPECT_EQ(start_service("quorral").find("instance"), std::string::npos);
    EXPECT_EQ(start_service("dastral").find("instance"), std::string::npos);
    set("quorral.general.enabled=1");
    set("dastral.general.enabled=1");
    EXPECT_NE(start_service("quorral").find("command [/usr/sbin/quorral] [/dev/ttyUSB1] [/var/run/quorral.pid]\n"),
              std::string::npos);
    EXPECT_NE(start_service("dastral").find(
                  "command [/usr/sbin/dastral] [/dev/ttyUSB3] [/var/run/dastral.pid] [/dev/ttyS0]\n"),
              std::string::npos);
}

// Counts the bracketed words of a printed command, program included.
int command_words(const std::string& out, const std::string& instance)
{
    size_t at = out.find("instance [" + instance + "]\n");
    if (at == std::string::npos)
        return -1;
    size_t line = out.find("command ", at);
    size_t end = out.find('\n', line);
    int words = 0;
    for (size_t i = line; i < end; ++i)
        words += out[i] == '[';
    return words;
}

TEST_F(Packaging, TolvaneStartsEachEnabledTunnelWithinItsWordLimit)
{
    install_config("tolvane");
    EXPECT_EQ(start_service("tolvane").find("instance"), std::string::npos);

    set("tolvane.gre1.enabled=1");
    set("tolvane.gre1.debug=1");
    set("tolvane.gre2=tunnel");
    set("tolvane.gre2.enabled=1");
    set("tolvane.gre2.remote=10.9.0.2");
    set("tolvane.gre2.local=10.9.0.1");
    set("tolvane.gre2.dev=eth1");
    set("tolvane.gre2.mode=receive");
    set("tolvane.gre2.timeout=40");
    set("tolvane.gre3=tunnel");
    set("tolvane.gre3.enabled=1");
    set("tolvane.gre3.remote=10.8.0.2");
    set("tolvane.gre3.local=10.8.0.1");
    set("tolvane.gre3.dev=eth2");
    set("tolvane.gre3.gname=mode");
    std::string out = start_service("tolvane");
    EXPECT_NE(out.find("command [/usr/sbin/tolvane] [remote] [10.0.0.2] [local] [10.0.0.1] [dev] [eth0] [gname] [gre1] "
                       "[mode] [send] [pid] [/var/run/tolvane-gre1.pid] [seconds] [5] [retry] [5] [debug] [1]\n"),
              std::string::npos) << out;
    EXPECT_NE(out.find("command [/usr/sbin/tolvane] [remote] [10.9.0.2] [local] [10.9.0.1] [dev] [eth1] [gname] [gre2] "
                       "[mode] [receive] [pid] [/var/run/tolvane-gre2.pid] [timeout] [40]\n"),
              std::string::npos) << out;
    EXPECT_LT(command_words(out, "gre1"), 20);
    EXPECT_EQ(out.find("instance [gre3]"), std::string::npos) << out;
    EXPECT_NE(out.find("tunnel gre3: dev and gname must not be a key word"), std::string::npos) << out;
}

} // namespace
