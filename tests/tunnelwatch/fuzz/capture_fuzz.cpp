// Any captured bytes through both capture callbacks. libFuzzer hands each input
// over in a block of exactly its size, so a read past the capture is caught.
// The seeds are a request behind an Ethernet and a cooked header, and a reply,
// between 10.0.0.1 (remote) and 10.0.0.2 (local).
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>

#include "capture.h"
#include "watchdog.h"

namespace {

size_t captured;

// An answer is a slice of the capture: never longer than what came in.
ssize_t check_answer(int, const void*, size_t length, int, const sockaddr*, socklen_t)
{
    if (length > captured)
        abort();
    return static_cast<ssize_t>(length);
}

bool set_up()
{
    watch_state_reset();
    inet_pton(AF_INET, "10.0.0.2", &watch.settings.local.sin_addr);
    inet_pton(AF_INET, "10.0.0.1", &watch.settings.remote.sin_addr);
    watch.settings.gname = "fuzz";
    watch.send_fn = check_answer;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = set_up();
    (void)ready;
    // Kept up, so an accepted reply does not start the up script on every run.
    watch.isup = 1;
    captured = size;
    pcap_pkthdr header = {};
    header.caplen = static_cast<bpf_u_int32>(size);
    header.len = header.caplen;
    process_request(nullptr, &header, data);
    process_reply(nullptr, &header, data);
    return 0;
}
