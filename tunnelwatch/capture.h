// Packet capture: the peer's keepalive requests on the tunnel device and the
// answers to our own keepalives on every interface.
#pragma once

#include <pcap/pcap.h>

// Capture filter of both handles: IPv4 GRE, by number, so that it does not
// depend on "/etc/protocols". Without that file "proto gre" either fails to
// compile (the capture runs unfiltered) or compiles as protocol 0, and then
// nothing is captured and the tunnel is declared down.
constexpr const char* GRE_FILTER = "ip proto 47";

// 1 when name is a capture device other than "any" and not a loopback device, else -1.
int check_device(const char* name);

// Thread bodies.
void* handle_requests(void* dev);
void* handle_reply(void*);

// Capture callbacks; they take the captured bytes as they come, of any length.
void process_request(u_char* user, const pcap_pkthdr* header, const u_char* packet);
void process_reply(u_char* user, const pcap_pkthdr* header, const u_char* packet);

// Runs "/usr/sbin/skellan '<gname>' up|down" and waits for its end; a name
// too long for the command is logged and nothing runs.
void run_state_script(const char* word);
