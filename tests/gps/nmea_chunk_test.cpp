#include "nmea_chunk.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

const std::string GGA = "$GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*69\r\n";
const std::string RMC = "$GPRMC,123519.00,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W*44\r\n";
const std::string VTG = "$GPVTG,084.4,T,087.5,M,022.4,N,041.5,K,A*25\r\n";
const std::string RMC2 = "$GPRMC,123520.00,A,4807.0393,N,01131.0021,E,022.4,084.4,230394,003.1,W*4B\r\n";

// Runs the extraction on an exact-size copy, so AddressSanitizer sees any overread.
std::string extract(const std::string& chunk, size_t size = GPS_BUFFER_SIZE, int* returned = nullptr)
{
    std::vector<char> src(chunk.begin(), chunk.end());
    std::vector<char> dst(size, 'x');
    int n = extract_gprmc(src.data(), src.size(), dst.data(), dst.size());
    if (returned)
        *returned = n;
    EXPECT_EQ(dst[size - 1], '\0');
    return std::string(dst.data(), static_cast<size_t>(n));
}

} // namespace

TEST(ExtractGprmc, SeveralSentencesGiveExactlyTheFirstRmcUpToTheNextDollar)
{
    EXPECT_EQ(extract(GGA + RMC + VTG + GGA + RMC2 + VTG), RMC);
    EXPECT_EQ(extract(RMC + RMC2 + VTG), RMC);
}

TEST(ExtractGprmc, RmcEndingTheChunkOrMissingGivesNothing)
{
    EXPECT_EQ(extract(GGA + VTG + RMC), "");
    EXPECT_EQ(extract(GGA + VTG), "");
    EXPECT_EQ(extract("$GPRMC,"), "");
    EXPECT_EQ(extract(""), "");
    // "$GPRMA," and a cut tag are not RMC sentences.
    EXPECT_EQ(extract("$GPRMA,1*00\r\n$GPRMC" + VTG), "");
}

TEST(ExtractGprmc, ClearsTheWholeDestinationFirst)
{
    std::vector<char> dst(64, 'x');
    std::string chunk = GGA;
    extract_gprmc(chunk.data(), chunk.size(), dst.data(), dst.size());
    EXPECT_EQ(std::string(dst.size(), '\0'), std::string(dst.data(), dst.size()));
}

TEST(ExtractGprmc, ZeroBytesNeitherHideNorCutTheSentence)
{
    std::string noise("\0\0\x01", 3);
    EXPECT_EQ(extract(noise + GGA + noise + RMC + VTG), RMC);
    std::string with_zero = "$GPRMC,1" + std::string(1, '\0') + "2\r\n";
    int n = 0;
    EXPECT_EQ(extract(with_zero + VTG, GPS_BUFFER_SIZE, &n), with_zero);
    EXPECT_EQ(n, static_cast<int>(with_zero.size()));
}

TEST(ExtractGprmc, LongSentenceIsCutToTheDestinationLessItsTerminator)
{
    std::string chunk = RMC + VTG;
    EXPECT_EQ(extract(chunk, 16), RMC.substr(0, 15));
}

TEST(ExtractGprmc, FullReadBufferOfRmcTextStaysInBounds)
{
    std::string chunk = "$GPRMC," + std::string(GPS_BUFFER_SIZE - 8, 'A') + "$";
    ASSERT_EQ(chunk.size(), static_cast<size_t>(GPS_BUFFER_SIZE));
    EXPECT_EQ(extract(chunk).size(), static_cast<size_t>(GPS_BUFFER_SIZE - 1));
}

TEST(ExtractGprmc, ArbitraryBytesStayInBoundsAndYieldOnlyRmcText)
{
    std::mt19937 rng(7);
    const std::string alphabet("$GPRMC,\r\n\0AZ", 13);
    for (int round = 0; round < 3000; ++round) {
        std::string chunk(rng() % 200, '\0');
        for (char& c : chunk)
            c = (rng() % 4 == 0) ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
        if (rng() % 3 == 0)
            chunk.insert(rng() % (chunk.size() + 1), "$GPRMC,");
        size_t size = 1 + rng() % 64;
        std::string out = extract(chunk, size);
        if (!out.empty()) {
            EXPECT_EQ(out.compare(0, std::min<size_t>(7, out.size()), std::string("$GPRMC,").substr(0, out.size())), 0);
            EXPECT_NE(chunk.find(out), std::string::npos);
        }
    }
}
