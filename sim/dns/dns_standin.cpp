// A DNS server stand-in for tests: answers A queries on UDP port 53 from a
// hosts file read anew for every query, so a test makes a name resolvable by
// writing one line. Unknown names get "no such name"; with --quiet-for N every
// query of the first N seconds gets no answer at all, as from a name server
// that is not up yet.
//
//   dns_standin ADDRESS HOSTS_FILE [--quiet-for SECONDS]
//
// HOSTS_FILE lines: "name a.b.c.d". Prints "listening" once bound, then one
// line per query.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t HEADER = 12;
constexpr size_t MAX_PACKET = 512;
constexpr int TYPE_A = 1;
constexpr int CLASS_IN = 1;
constexpr int RCODE_NXDOMAIN = 3;

double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The question's name as dotted text; returns the offset after the question's
// type and class, or 0 when the packet is malformed.
size_t read_question(const unsigned char* p, size_t len, char* name, size_t size, int* type)
{
    size_t at = HEADER;
    size_t out = 0;
    for (;;) {
        if (at >= len)
            return 0;
        size_t label = p[at++];
        if (label == 0)
            break;
        if (label > 63 || at + label > len || out + label + 2 > size)
            return 0;
        if (out)
            name[out++] = '.';
        for (size_t i = 0; i < label; ++i)
            name[out++] = static_cast<char>(tolower(p[at + i]));
        at += label;
    }
    name[out] = 0;
    if (at + 4 > len)
        return 0;
    *type = p[at] << 8 | p[at + 1];
    return at + 4;
}

// The address of name in the hosts file; false when it is not there.
bool lookup(const char* hosts, const char* name, in_addr* addr)
{
    FILE* f = fopen(hosts, "r");
    if (!f)
        return false;
    char line[512];
    bool found = false;
    while (!found && fgets(line, sizeof line, f)) {
        char host[256], ip[64];
        if (sscanf(line, "%255s %63s", host, ip) == 2 && strcasecmp(host, name) == 0 && inet_aton(ip, addr))
            found = true;
    }
    fclose(f);
    return found;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 5 && strcmp(argv[3], "--quiet-for") == 0)) {
        fprintf(stderr, "usage: %s ADDRESS HOSTS_FILE [--quiet-for SECONDS]\n", argv[0]);
        return 2;
    }
    const char* hosts = argv[2];
    const double quiet_until = now_s() + (argc == 5 ? atof(argv[4]) : 0);
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(53);
    if (sock < 0 || !inet_aton(argv[1], &addr.sin_addr) ||
        bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        perror("dns_standin");
        return 1;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    printf("listening\n");
    for (;;) {
        unsigned char packet[MAX_PACKET + 16];
        sockaddr_in from;
        socklen_t from_len = sizeof from;
        ssize_t n = recvfrom(sock, packet, MAX_PACKET, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
        if (n < static_cast<ssize_t>(HEADER))
            continue;
        char name[256];
        int type = 0;
        size_t end = read_question(packet, static_cast<size_t>(n), name, sizeof name, &type);
        if (end == 0)
            continue;
        if (now_s() < quiet_until) {
            printf("quiet %s\n", name);
            continue;
        }
        in_addr found;
        bool known = lookup(hosts, name, &found);
        // The reply: the query's header and question, then the answer if any.
        unsigned char reply[MAX_PACKET + 16];
        memcpy(reply, packet, end);
        reply[2] = 0x84 | (packet[2] & 0x01); // response, authoritative, RD copied
        reply[3] = known ? 0 : RCODE_NXDOMAIN;
        reply[4] = 0, reply[5] = 1;           // one question
        memset(reply + 6, 0, 6);              // no answers, authority or additional yet
        size_t len = end;
        if (known && type == TYPE_A) {
            const unsigned char answer[] = {0xC0, HEADER, 0, TYPE_A, 0, CLASS_IN, 0, 0, 0, 0, 0, 4};
            memcpy(reply + len, answer, sizeof answer);
            len += sizeof answer;
            memcpy(reply + len, &found, 4);
            len += 4;
            reply[7] = 1;
        }
        sendto(sock, reply, len, 0, reinterpret_cast<sockaddr*>(&from), from_len);
        printf("%s %s type %d\n", known ? "answered" : "no such name", name, type);
    }
}
