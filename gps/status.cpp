#include "status.h"

#include "client_table.h"
#include "status_file.h"

namespace {

StatusFile forwarder_status("/var/run/quorral.status");

} // namespace

void gps_status_publish(const ForwarderStatus& s)
{
    if (!status_begin(forwarder_status))
        return;
    static const char* const PROTO_NAMES[] = {"tcp", "udp", "serial"};
    bool network = s.proto == 0 || s.proto == 1;
    bool connected = network ? client_state(s.client_index) == CONN_CONNECTED : s.proto == 2 && s.serial_open;
    StatusFile& f = forwarder_status;
    status_add(f, "proto", "%s", s.proto >= 0 && s.proto <= 2 ? PROTO_NAMES[s.proto] : "unknown");
    status_add(f, "server", "%s", network ? s.server : "/dev/ttyS0");
    status_add(f, "port", "%d", network ? s.port : 0);
    status_add(f, "connected", "%d", connected ? 1 : 0);
    status_add(f, "last_sentence", "%lld", static_cast<long long>(s.last_sentence));
    status_add(f, "sent", "%ld", s.chunks_sent);
    status_add(f, "dropped", "%ld", s.chunks_dropped);
    status_publish(f);
}
