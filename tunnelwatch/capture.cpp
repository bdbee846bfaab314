#include "capture.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "keepalive.h"
#include "shell.h"
#include "shell_quote.h"
#include "syslog_log.h"
#include "watchdog.h"

namespace {

// Captured bytes kept per packet: far more than a keepalive needs.
constexpr int SNAPSHOT_LENGTH = 1024;
// Kernel ring of one capture handle, 64 KiB: with the filter in the kernel
// only GRE reaches it, and this held every keepalive at one a second beside a
// flooded link. libpcap's default (about 2 MB a handle) was most of the
// daemon's memory, and grew resident as the kernel went round the ring.
constexpr int CAPTURE_BUFFER_SIZE = 64 * 1024;

// Link headers in front of the outer IPv4 header.
constexpr size_t COOKED_HEADER = 16;   // Linux cooked capture ("any")
constexpr size_t ETHERNET_HEADER = 14;
constexpr size_t IP_HEADER = 20;
constexpr size_t GRE_HEADER = 4;
// Inner IPv4 header of a request behind each link header.
constexpr size_t INNER_AFTER_COOKED = COOKED_HEADER + IP_HEADER + GRE_HEADER;     // 40
constexpr size_t INNER_AFTER_ETHERNET = ETHERNET_HEADER + IP_HEADER + GRE_HEADER; // 38

constexpr uint8_t IP_VERSION_IHL = 0x45;
constexpr uint8_t PROTO_GRE = 47;

uint16_t get16(const u_char* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

bool same_address(const u_char* at, const sockaddr_in& address)
{
    return memcmp(at, &address.sin_addr, 4) == 0;
}

// Checks of one IPv4 header that lies whole inside the capture.
bool is_gre_between(const u_char* ip, const sockaddr_in& src, const sockaddr_in& dst)
{
    return ip[0] == IP_VERSION_IHL && ip[9] == PROTO_GRE && same_address(ip + 12, src)
        && same_address(ip + 16, dst);
}

// Compiles and installs the GRE filter; failures leave the capture unfiltered.
void install_filter(pcap_t* handle)
{
    bpf_program program;
    if (pcap_compile(handle, &program, GRE_FILTER, 1, 0) < 0) {
        syslog_notice("can't compile filter");
        return;
    }
    if (pcap_setfilter(handle, &program) < 0)
        syslog_notice("can't set filter");
    pcap_freecode(&program);
}

// A capture that blocks until a packet comes (read timeout 0) and hands each
// packet over as it arrives. Immediate mode is needed for that: with the
// block-based ring of recent kernels a read timeout of 0 would hold packets
// until a whole ring block fills, and answers would come minutes late or never.
// On failure errbuf holds libpcap's text.
pcap_t* open_capture(const char* dev, char* errbuf)
{
    pcap_t* handle = pcap_create(dev, errbuf);
    if (!handle)
        return nullptr;
    pcap_set_snaplen(handle, SNAPSHOT_LENGTH);
    pcap_set_promisc(handle, 0);
    pcap_set_timeout(handle, 0);
    pcap_set_immediate_mode(handle, 1);
    pcap_set_buffer_size(handle, CAPTURE_BUFFER_SIZE);
    if (pcap_activate(handle) < 0) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(handle));
        pcap_close(handle);
        return nullptr;
    }
    return handle;
}

} // namespace

int check_device(const char* name)
{
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) < 0) {
        // One device the kernel cannot describe fails the whole listing; say
        // which, or a watchdog restarted over and over leaves no trace why.
        char text[LOG_TEXT_SIZE + PCAP_ERRBUF_SIZE];
        snprintf(text, sizeof text, "can't list capture devices: %s", errbuf);
        syslog_error(text);
        cleanup_and_exit(1);
    }
    if (!devices) {
        debug_only("No interfaces exist");
        return -1;
    }
    int found = -1;
    for (pcap_if_t* d = devices; d; d = d->next) {
        if (strcmp(d->name, "any") == 0 || (d->flags & PCAP_IF_LOOPBACK))
            continue;
        if (strcmp(d->name, name) == 0) {
            found = 1;
            break;
        }
    }
    if (found < 0)
        debug_only("No valid specified network interface");
    pcap_freealldevs(devices);
    return found;
}

namespace {

// Opens and prepares the capture on the tunnel device. The first open failing
// is fatal; a reopen after the device went away retries instead (returns null).
pcap_t* open_request_capture(const char* dev, bool first)
{
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = open_capture(dev, errbuf);
    if (!handle) {
        char text[LOG_TEXT_SIZE + PCAP_ERRBUF_SIZE];
        snprintf(text, sizeof text, "%s%s -> %s", "Couldn't open device ", dev, errbuf);
        syslog_error(text);
        if (first)
            cleanup_and_exit(1);
        return nullptr;
    }
    watch.request_handle = handle;
    if (pcap_setdirection(handle, PCAP_D_IN) < 0)
        syslog_error("failed to set pcap direction");
    install_filter(handle);
    debug_only("(handle_requests) successfully prepared");
    if (pcap_setnonblock(handle, 0, errbuf) < 0) {
        syslog_error("can't set nonblocking pcap");
        cleanup_and_exit(1);
    }
    return handle;
}

// Unpublishes a handle whose loop ended on an error. Once the stop handler has
// started it may hold the handle, so the handle is then left to the exit.
void drop_request_capture(pcap_t* handle)
{
    watch.request_handle = nullptr;
    if (!watch.stop_requested)
        pcap_close(handle);
}

} // namespace

void* handle_requests(void* arg)
{
    const char* dev = static_cast<const char*>(arg);
    debug_only("(handle_requests) entered function. Preparing...");
    if (!dev || !dev[0]) {
        syslog_error("no device is specified for request handle");
        cleanup_and_exit(1);
    }
    bool first = true;
    while (watch.running) {
        // The tunnel device may come up after the watchdog: wait for it.
        while (check_device(dev) < 0 && watch.running)
            sleep(1);
        if (!watch.running)
            break;
        pcap_t* handle = open_request_capture(dev, first);
        if (!handle) {
            sleep(1);
            continue;
        }
        first = false;
        watch.requests_ready = 1;
        // A stop that came before the handle was published had nothing to break.
        int rc = watch.running ? pcap_loop(handle, -1, process_request, nullptr) : 0;
        if (rc != PCAP_ERROR || !watch.running)
            break;
        // The device went away (a modem reconnect removes it): without this the
        // peer's keepalives would go unanswered until the next restart.
        syslog_noticef("capture on %s ended: %s", dev, pcap_geterr(handle));
        drop_request_capture(handle);
    }
    debug_only("(handle_requests) exited function");
    return nullptr;
}

void* handle_reply(void*)
{
    // A stop before the request capture is ready ends this thread too.
    while (!watch.requests_ready && watch.running)
        usleep(10000);
    if (!watch.running)
        return nullptr;
    debug_only("(handle_reply) entered function. Preparing...");
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = open_capture("any", errbuf);
    if (!handle) {
        syslog_error(errbuf);
        cleanup_and_exit(1);
    }
    watch.reply_handle = handle;
    if (pcap_setdirection(handle, PCAP_D_IN) < 0)
        syslog_notice("failed to set reply_handle direction");
    install_filter(handle);
    if (pcap_setnonblock(handle, 0, errbuf) < 0)
        syslog_notice("couldn't set nonblock pcap");
    debug_only("(handle_reply) successfully prepared.");
    watch.reply_ready = 1;
    if (watch.running)
        pcap_loop(handle, -1, process_reply, nullptr);
    debug_only("(handle_reply) exited function.");
    return nullptr;
}

void process_request(u_char*, const pcap_pkthdr* header, const u_char* packet)
{
    const size_t caplen = header->caplen;
    const WatchSettings& s = watch.settings;
    size_t offset = INNER_AFTER_ETHERNET;
    if (caplen > INNER_AFTER_COOKED && packet[INNER_AFTER_COOKED] == IP_VERSION_IHL)
        offset = INNER_AFTER_COOKED;
    if (caplen < offset + IP_HEADER)
        return;
    const u_char* inner = packet + offset;
    // The inner packet goes from the answering side (us) back to the sender.
    if (!is_gre_between(inner, s.local, s.remote))
        return;
    // Only the remote's own keepalives count and are answered: a third host
    // could otherwise keep a dead tunnel up, or use us to send packets.
    const u_char* outer = inner - GRE_HEADER - IP_HEADER;
    if (outer[0] != IP_VERSION_IHL || !same_address(outer + 12, s.remote)) {
        char text[LOG_TEXT_SIZE];
        char from[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, outer + 12, from, sizeof from);
        snprintf(text, sizeof text, "(process_request) keepalive request from %s dropped: not the remote", from);
        syslog_notice_limited(&watch.lines.request_forged, text);
        return;
    }
    const size_t total = get16(inner + 2);

    debug_only_limited(&watch.lines.request_approved, "(process_request) peer packet approved");
    watch.request_got = 1;
    watch.last_request = static_cast<unsigned>(time(nullptr));

    unsigned sent = 0;
    // A length past the capture would send bytes we never received.
    bool fits = total >= IP_HEADER && total <= caplen - offset;
    if (!fits || !nonblock_write(watch.request_socket, inner, total, s.remote.sin_addr, &sent))
        syslog_notice_limited(&watch.lines.reply_unsent, "unable to send a reply to GRE keepalive request");
}

void process_reply(u_char*, const pcap_pkthdr* header, const u_char* packet)
{
    const WatchSettings& s = watch.settings;
    if (header->caplen < COOKED_HEADER + KEEPALIVE_REPLY_SIZE)
        return;
    const u_char* ip = packet + COOKED_HEADER;
    const u_char* gre = ip + IP_HEADER;
    if (!is_gre_between(ip, s.remote, s.local) || get16(ip + 2) != KEEPALIVE_REPLY_SIZE
        || get16(gre + 2) != 0)
        return;

    debug_only_limited(&watch.lines.reply_approved, "(process_reply) reply approved. Tunnel is reachable");
    watch.reply_got = 1;
    watch.last_reply = static_cast<unsigned>(time(nullptr));
    if (watch.isup == 0)
        run_state_script("up");
    watch.isup = 1;
}

void run_state_script(const char* word)
{
    // The name comes from the configuration: quoted, it reaches the script as
    // one word whatever it holds, and nothing in it runs.
    char name[SCRIPT_CMD_SIZE];
    char cmd[SCRIPT_CMD_SIZE];
    int n = -1;
    if (shell_quote(name, sizeof name, watch.settings.gname) >= 0)
        n = snprintf(cmd, sizeof cmd, "/usr/sbin/skellan %s %s", name, word);
    // A cut command would lose its closing quote or its word: run none.
    if (n < 0 || static_cast<size_t>(n) >= sizeof cmd) {
        syslog_noticef("tunnel name too long for \"/usr/sbin/skellan <name> %s\", script not run", word);
        return;
    }
    syslog_debug(cmd);
    watch.state_since = static_cast<unsigned>(time(nullptr));
    run_cmd(cmd);
}
