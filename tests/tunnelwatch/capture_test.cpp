// The capture callbacks get whatever the wire brings: every packet here is
// handed over in a buffer of exactly its captured length, so a read past it
// shows up under AddressSanitizer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "capture.h"
#include "keepalive.h"
#include "sandbox.h"
#include "watchdog.h"

namespace {

using Bytes = std::vector<u_char>;

constexpr const char* LOCAL = "10.0.0.2";
constexpr const char* REMOTE = "10.0.0.1";

in_addr addr(const char* text)
{
    in_addr a;
    inet_pton(AF_INET, text, &a);
    return a;
}

// What went out through the sendto seam.
struct SentPackets {
    static std::vector<Bytes> packets;
    static std::vector<in_addr> targets;
    static ssize_t send(int, const void* data, size_t length, int, const sockaddr* to, socklen_t)
    {
        const u_char* bytes = static_cast<const u_char*>(data);
        packets.emplace_back(bytes, bytes + length);
        targets.push_back(reinterpret_cast<const sockaddr_in*>(to)->sin_addr);
        return static_cast<ssize_t>(length);
    }
};
std::vector<Bytes> SentPackets::packets;
std::vector<in_addr> SentPackets::targets;

// The peer's keepalive as it reaches us: its local is our remote.
Bytes peer_keepalive()
{
    Bytes p(KEEPALIVE_SIZE);
    fill_keepalive(p.data(), 0x1234, addr(REMOTE), addr(LOCAL));
    return p;
}

Bytes with_link_header(size_t link_length, const Bytes& ip)
{
    Bytes frame(link_length, 0);
    frame[link_length - 2] = 0x08; // IPv4 ethertype / cooked protocol
    frame.insert(frame.end(), ip.begin(), ip.end());
    return frame;
}

Bytes ethernet_request() { return with_link_header(14, peer_keepalive()); }
Bytes cooked_request() { return with_link_header(16, peer_keepalive()); }

// The answer to our own keepalive: its inner packet, from the peer to us.
Bytes cooked_reply()
{
    Bytes p(KEEPALIVE_SIZE);
    fill_keepalive(p.data(), 0x99, addr(LOCAL), addr(REMOTE));
    return with_link_header(16, Bytes(p.begin() + 24, p.end()));
}

void set16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<u_char>(v >> 8);
    b[at + 1] = static_cast<u_char>(v);
}

using Callback = void (*)(u_char*, const pcap_pkthdr*, const u_char*);

// Hands the first length bytes over in a heap block of exactly that size.
void deliver(Callback cb, const Bytes& frame, size_t length)
{
    std::unique_ptr<u_char[]> exact(new u_char[length]);
    if (length)
        memcpy(exact.get(), frame.data(), length);
    pcap_pkthdr header = {};
    header.caplen = static_cast<bpf_u_int32>(length);
    header.len = static_cast<bpf_u_int32>(frame.size());
    cb(nullptr, &header, exact.get());
}

void deliver(Callback cb, const Bytes& frame) { deliver(cb, frame, frame.size()); }

class Capture : public ::testing::Test {
protected:
    void SetUp() override
    {
        watch_state_reset();
        inet_pton(AF_INET, LOCAL, &watch.settings.local.sin_addr);
        inet_pton(AF_INET, REMOTE, &watch.settings.remote.sin_addr);
        watch.settings.gname = "gre9";
        watch.send_fn = SentPackets::send;
        SentPackets::packets.clear();
        SentPackets::targets.clear();
        setenv("ROUTER_ROOT", sandbox.root().c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("ROUTER_ROOT");
        watch_state_reset();
    }
    Sandbox sandbox;
};

TEST_F(Capture, RequestBehindEitherLinkHeaderIsAnsweredWithItsInnerPacket)
{
    const Bytes keepalive = peer_keepalive();
    const Bytes inner(keepalive.begin() + 24, keepalive.end());
    for (const Bytes& frame : {ethernet_request(), cooked_request()}) {
        SentPackets::packets.clear();
        watch.request_got = 0;
        deliver(process_request, frame);
        EXPECT_EQ(watch.request_got, 1);
        ASSERT_EQ(SentPackets::packets.size(), 1u) << "link header " << frame.size() - KEEPALIVE_SIZE;
        EXPECT_EQ(SentPackets::packets[0], inner);
        EXPECT_EQ(SentPackets::targets[0].s_addr, addr(REMOTE).s_addr);
    }
}

TEST_F(Capture, RequestCutAnywhereIsNeitherReadPastNorAnswered)
{
    for (const Bytes& frame : {ethernet_request(), cooked_request()}) {
        for (size_t length = 0; length < frame.size(); ++length) {
            watch.request_got = 0;
            deliver(process_request, frame, length);
            // The inner header must be whole to count; its 24 bytes to be answered.
            size_t header_end = frame.size() - KEEPALIVE_REPLY_SIZE + 20;
            EXPECT_EQ(watch.request_got, length >= header_end ? 1 : 0) << length;
        }
    }
    EXPECT_TRUE(SentPackets::packets.empty());
}

TEST_F(Capture, RequestLongerThanItsCaptureIsCountedButNotSent)
{
    Bytes frame = ethernet_request();
    set16(frame, 14 + 24 + 2, 1400);
    deliver(process_request, frame);
    EXPECT_EQ(watch.request_got, 1);
    set16(frame, 14 + 24 + 2, 8); // shorter than its own header
    deliver(process_request, frame);
    EXPECT_TRUE(SentPackets::packets.empty());
}

TEST_F(Capture, ForeignPacketsAreNeitherCountedNorAnswered)
{
    const size_t inner = 14 + 24;
    std::vector<Bytes> foreign;
    Bytes f = ethernet_request();
    f[inner] = 0x46; // header with options
    foreign.push_back(f);
    f = ethernet_request();
    f[inner] = 0x65; // not version 4
    foreign.push_back(f);
    f = ethernet_request();
    f[inner + 9] = 17; // UDP
    foreign.push_back(f);
    f = ethernet_request();
    f[inner + 15] = 9; // other source
    foreign.push_back(f);
    f = ethernet_request();
    f[inner + 19] = 9; // other destination
    foreign.push_back(f);
    Bytes swapped(KEEPALIVE_SIZE);
    fill_keepalive(swapped.data(), 1, addr(LOCAL), addr(REMOTE)); // our own keepalive
    foreign.push_back(with_link_header(14, swapped));
    foreign.push_back(Bytes(200, 0x45));
    foreign.push_back(Bytes(1024, 0xFF));
    for (const Bytes& p : foreign)
        deliver(process_request, p);
    EXPECT_EQ(watch.request_got, 0);
    EXPECT_TRUE(SentPackets::packets.empty());
}

size_t count_of(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

// Anyone on the link can send GRE: a request whose outer source is not the
// remote is dropped, and a flood of bad packets is logged once per kind.
TEST_F(Capture, RequestsNotFromTheRemoteAreDroppedAndFloodsAreLoggedOnce)
{
    Bytes forged = ethernet_request();
    forged[14 + 15] = 9; // outer source 10.0.0.9
    Bytes unanswerable = cooked_request();
    set16(unanswerable, 16 + 24 + 2, 1400); // longer than what arrived
    testing::internal::CaptureStderr();
    openlog("tolvane", LOG_PERROR, LOG_DAEMON);
    for (int i = 0; i < 1000; ++i)
        deliver(process_request, forged);
    EXPECT_EQ(watch.request_got, 0);
    for (int i = 0; i < 1000; ++i)
        deliver(process_request, unanswerable);
    EXPECT_EQ(watch.request_got, 1);
    // The next line of a kind, once its minute is over, says how many were held back.
    watch.lines.request_forged.period_ms = 0;
    deliver(process_request, forged);
    closelog();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(SentPackets::packets.empty());
    EXPECT_EQ(count_of(err, "keepalive request from 10.0.0.9 dropped: not the remote"), 2u) << err;
    EXPECT_NE(err.find("not the remote (999 more held back)"), std::string::npos) << err;
    EXPECT_EQ(count_of(err, "unable to send a reply to GRE keepalive request"), 1u) << err;
}

TEST_F(Capture, ReplyWhileDownRunsUpScriptOnce)
{
    watch.isup = 0;
    deliver(process_reply, cooked_reply());
    deliver(process_reply, cooked_reply());
    EXPECT_EQ(watch.reply_got, 1);
    EXPECT_EQ(watch.isup, 1);
    const std::string calls = sandbox.calls();
    EXPECT_NE(calls.find("/usr/sbin/skellan gre9 up\n"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("skellan"), calls.rfind("skellan")) << calls;
}

TEST_F(Capture, ReplyWhileUpRunsNoScript)
{
    deliver(process_reply, cooked_reply());
    EXPECT_EQ(watch.reply_got, 1);
    EXPECT_EQ(sandbox.calls(), "");
}

TEST_F(Capture, ReplyCutOrAlteredIsIgnored)
{
    watch.isup = 0;
    const Bytes good = cooked_reply();
    for (size_t length = 0; length < good.size(); ++length)
        deliver(process_reply, good, length);
    std::vector<Bytes> altered;
    Bytes r = good;
    set16(r, 16 + 2, 48); // a whole keepalive, not its answer
    altered.push_back(r);
    r = good;
    set16(r, 16 + 22, 0x0800); // GRE carrying IPv4
    altered.push_back(r);
    r = good;
    r[16 + 9] = 6;
    altered.push_back(r);
    r = good;
    r[16] = 0x44;
    altered.push_back(r);
    r = good;
    std::swap_ranges(r.begin() + 28, r.begin() + 32, r.begin() + 32); // source and destination swapped
    altered.push_back(r);
    for (const Bytes& p : altered)
        deliver(process_reply, p);
    EXPECT_EQ(watch.reply_got, 0);
    EXPECT_EQ(watch.isup, 0);
    EXPECT_EQ(sandbox.calls(), "");
}

// "/usr/sbin/skellan '<name>' up" fills the 127 characters with a name of 104.
TEST_F(Capture, TunnelNameTooLongForTheCommandRunsNoScript)
{
    static const std::string longest(SCRIPT_CMD_SIZE - 1 - 18 - 2 - 3, 'g');
    watch.settings.gname = longest.c_str();
    watch.isup = 0;
    deliver(process_reply, cooked_reply());
    EXPECT_NE(sandbox.calls().find("/usr/sbin/skellan " + longest + " up\n"), std::string::npos) << sandbox.calls();

    // One more character would cut the closing quote or the word off: a cut
    // command must not run at all.
    sandbox.write("/calls.log", "");
    static const std::string too_long = longest + "g";
    watch.settings.gname = too_long.c_str();
    watch.isup = 0;
    deliver(process_reply, cooked_reply());
    EXPECT_EQ(watch.isup, 1);
    EXPECT_EQ(sandbox.calls(), "");
}

// Both handles use one filter; it must pass every packet the callbacks accept
// on either link type and keep the rest in the kernel, by number alone.
TEST(CaptureFilter, SelectsIpv4GreOnEitherLinkType)
{
    Bytes udp = peer_keepalive();
    udp[9] = 17;
    struct Case {
        int link;
        Bytes frame;
        bool pass;
    };
    const Case cases[] = {
        {DLT_EN10MB, ethernet_request(), true},
        {DLT_LINUX_SLL, cooked_request(), true},
        {DLT_LINUX_SLL, cooked_reply(), true},
        {DLT_EN10MB, with_link_header(14, udp), false},
        {DLT_LINUX_SLL, with_link_header(16, udp), false},
    };
    for (const Case& c : cases) {
        pcap_t* dead = pcap_open_dead(c.link, 1024);
        ASSERT_NE(dead, nullptr);
        bpf_program program;
        ASSERT_EQ(pcap_compile(dead, &program, GRE_FILTER, 1, 0), 0) << pcap_geterr(dead);
        pcap_pkthdr header = {};
        header.caplen = header.len = static_cast<bpf_u_int32>(c.frame.size());
        EXPECT_EQ(pcap_offline_filter(&program, &header, c.frame.data()) != 0, c.pass)
            << "link type " << c.link << ", " << c.frame.size() << " bytes";
        pcap_freecode(&program);
        pcap_close(dead);
    }
}

} // namespace
