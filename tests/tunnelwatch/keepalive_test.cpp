#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <cerrno>
#include <cstring>

#include "keepalive.h"
#include "watchdog.h"

namespace {

in_addr addr(const char* text)
{
    in_addr a;
    inet_pton(AF_INET, text, &a);
    return a;
}

uint16_t get16(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

// Ones' complement sum of a header, checksum included.
uint32_t ones_sum(const uint8_t* h, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += get16(h + i);
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}

TEST(Keepalive, IdentificationIsDrawnPlusOneOutsideAndWraps)
{
    uint8_t p[KEEPALIVE_SIZE];
    fill_keepalive(p, 0x12340041, addr("10.0.0.1"), addr("10.0.0.2"));
    EXPECT_EQ(get16(p + 4), 0x0042);
    EXPECT_EQ(get16(p + 28), 0x0041);
    fill_keepalive(p, 0x7FFFFFFF, addr("10.0.0.1"), addr("10.0.0.2"));
    EXPECT_EQ(get16(p + 4), 0x0000);
    EXPECT_EQ(get16(p + 28), 0xFFFF);
}

TEST(Keepalive, AddressesRunLocalRemoteThenRemoteLocal)
{
    uint8_t p[KEEPALIVE_SIZE];
    fill_keepalive(p, 7, addr("10.0.0.1"), addr("10.0.0.2"));
    const uint8_t expect[4][4] = {{10, 0, 0, 1}, {10, 0, 0, 2}, {10, 0, 0, 2}, {10, 0, 0, 1}};
    const int at[4] = {12, 16, 36, 40};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(memcmp(p + at[i], expect[i], 4), 0) << "address at offset " << at[i];
}

TEST(Keepalive, FixedFieldsAreLaidByteForByte)
{
    uint8_t p[KEEPALIVE_SIZE];
    fill_keepalive(p, 0, addr("192.168.7.1"), addr("172.16.0.9"));
    // Outer header, outer GRE, inner header, inner GRE.
    EXPECT_EQ(p[0], 0x45);
    EXPECT_EQ(p[1], 0xC0);
    EXPECT_EQ(get16(p + 2), 48);
    EXPECT_EQ(get16(p + 6), 0x4000);
    EXPECT_EQ(p[8], 64);
    EXPECT_EQ(p[9], 47);
    EXPECT_EQ(get16(p + 20), 0);
    EXPECT_EQ(get16(p + 22), 0x0800);
    EXPECT_EQ(p[24], 0x45);
    EXPECT_EQ(p[25], 0xC0);
    EXPECT_EQ(get16(p + 26), 24);
    EXPECT_EQ(get16(p + 30), 0x4000);
    EXPECT_EQ(p[32], 64);
    EXPECT_EQ(p[33], 47);
    EXPECT_EQ(get16(p + 44), 0);
    EXPECT_EQ(get16(p + 46), 0);
}

TEST(Keepalive, BothChecksumsMakeTheHeaderSumAllOnes)
{
    uint8_t p[KEEPALIVE_SIZE];
    const unsigned drawn[] = {0, 1, 0x41, 0xFFFF, 0xFFFE, 0x8000, 0x12345678, 0x7FFFFFFF};
    const char* ends[][2] = {{"10.0.0.1", "10.0.0.2"}, {"255.255.255.255", "255.255.255.254"},
                             {"0.0.0.0", "1.2.3.4"}, {"192.168.200.17", "80.1.255.3"}};
    for (unsigned n : drawn) {
        for (auto& e : ends) {
            fill_keepalive(p, n, addr(e[0]), addr(e[1]));
            EXPECT_EQ(ones_sum(p, 20), 0xFFFFu) << "outer, drawn " << n << " " << e[0];
            EXPECT_EQ(ones_sum(p + 24, 20), 0xFFFFu) << "inner, drawn " << n << " " << e[0];
        }
    }
}

TEST(Keepalive, ChecksumMatchesKnownHeaderAndIgnoresOddByte)
{
    // The classic worked example of RFC 1071 style header checksums.
    const uint8_t header[20] = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                                0x00, 0x00, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7};
    uint16_t sum = ip_checksum(header, sizeof header);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&sum);
    EXPECT_EQ(bytes[0], 0xb8);
    EXPECT_EQ(bytes[1], 0x61);
    uint8_t odd[21];
    memcpy(odd, header, 20);
    odd[20] = 0xAB;
    EXPECT_EQ(ip_checksum(odd, sizeof odd), sum);
    const uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ip_checksum(ones, sizeof ones), 0);
}

// A socket stand-in that fails with a chosen errno a number of times.
struct FakeSocket {
    static int calls;
    static int failures;
    static int error;
    static ssize_t send(int, const void*, size_t length, int, const sockaddr* to, socklen_t)
    {
        ++calls;
        EXPECT_EQ(reinterpret_cast<const sockaddr_in*>(to)->sin_family, AF_INET);
        EXPECT_EQ(reinterpret_cast<const sockaddr_in*>(to)->sin_port, 0);
        if (calls <= failures) {
            errno = error;
            return -1;
        }
        return static_cast<ssize_t>(length);
    }
};
int FakeSocket::calls;
int FakeSocket::failures;
int FakeSocket::error;

class NonblockWrite : public ::testing::Test {
protected:
    void SetUp() override
    {
        watch_state_reset();
        watch.send_fn = FakeSocket::send;
        FakeSocket::calls = 0;
    }
    void TearDown() override { watch_state_reset(); }
    int send(int failures, int error, unsigned* sent)
    {
        FakeSocket::failures = failures;
        FakeSocket::error = error;
        uint8_t p[KEEPALIVE_SIZE] = {};
        return nonblock_write(3, p, sizeof p, addr("10.0.0.2"), sent);
    }
};

TEST_F(NonblockWrite, BusySocketIsTriedSixTimesThenGivenUp)
{
    unsigned sent = 0;
    EXPECT_EQ(send(1000, EAGAIN, &sent), 0);
    EXPECT_EQ(FakeSocket::calls, 6);
    EXPECT_EQ(sent, 0u);
}

TEST_F(NonblockWrite, InterruptedThenFreeSocketSends)
{
    unsigned sent = 0;
    EXPECT_EQ(send(3, EINTR, &sent), 1);
    EXPECT_EQ(FakeSocket::calls, 4);
    EXPECT_EQ(sent, KEEPALIVE_SIZE);
}

TEST_F(NonblockWrite, OtherErrorGivesUpAtOnceWithNotice)
{
    unsigned sent = 0;
    testing::internal::CaptureStderr();
    openlog("tolvane", LOG_PERROR, LOG_DAEMON);
    int rc = send(1000, ENETUNREACH, &sent);
    closelog();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(FakeSocket::calls, 1);
    EXPECT_NE(err.find("(notice) unable to send packet"), std::string::npos) << err;
}

} // namespace
