#include "status.h"

#include "status_file.h"

namespace {

StatusFile bridge_status("/var/run/dastral.status");

} // namespace

void bridge_status_publish(const BridgeStatus& s)
{
    if (!status_begin(bridge_status))
        return;
    StatusFile& f = bridge_status;
    status_add(f, "board_port", "%s", s.board_port);
    status_add(f, "module_port", "%s", s.module_port);
    status_add(f, "to_module", "%llu", s.to_module);
    status_add(f, "to_board", "%llu", s.to_board);
    status_add(f, "last_activity", "%lld", static_cast<long long>(s.last_activity));
    status_publish(f);
}
