#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "EFIS_shared/crc.h"

namespace {

// Bytewise CRC-32/MPEG-2: polynomial 0x04C11DB7, init 0xFFFFFFFF, no reflection, no xorout.
uint32_t crc32_mpeg2(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : bytes) {
        crc ^= static_cast<uint32_t>(b) << 24;
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

std::vector<uint8_t> big_endian_bytes(const uint32_t* words, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i) {
        for (int s = 24; s >= 0; s -= 8) {
            out.push_back(static_cast<uint8_t>(words[i] >> s));
        }
    }
    return out;
}

TEST(EfisCrc, KnownVectors) {
    uint32_t word = 0;
    EXPECT_EQ(EFIS_crc(&word, 0), 0xFFFFFFFFu);
    word = 0x00000000;
    EXPECT_EQ(EFIS_crc(&word, 1), 0xC704DD7Bu);
    word = 0x12345678;
    EXPECT_EQ(EFIS_crc(&word, 1), 0xDF8A8A2Bu);
    word = 0xFFFFFFFF;
    EXPECT_EQ(EFIS_crc(&word, 1), 0x00000000u);
}

TEST(EfisCrc, EqualsMpeg2OverWordsMostSignificantByteFirst) {
    std::mt19937 rng(20261208);
    for (int trial = 0; trial < 200; ++trial) {
        uint32_t words[31];
        const uint32_t n = rng() % 32;
        for (uint32_t& w : words) {
            w = rng();
        }
        EXPECT_EQ(EFIS_crc(words, n), crc32_mpeg2(big_endian_bytes(words, n))) << trial;
    }
}

Settings_t random_record(std::mt19937& rng) {
    Settings_t s;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&s);
    for (size_t i = 0; i < sizeof(s); ++i) {
        bytes[i] = static_cast<unsigned char>(rng());
    }
    s.crc32 = 0;
    s.num_elements = 31;
    return s;
}

TEST(SettingsCrc, CoversTheWordsFromMagicOnRandomRecords) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 100; ++trial) {
        Settings_t s = random_record(rng);
        uint32_t words[31];
        std::memcpy(words, reinterpret_cast<unsigned char*>(&s) + 4, sizeof(words));
        EXPECT_EQ(settings_CalcCRC(&s), crc32_mpeg2(big_endian_bytes(words, 31)));
    }
}

TEST(SettingsCrc, SpecialValues) {
    std::mt19937 rng(1);
    Settings_t s = random_record(rng);
    s.crc32 = 0xFFFFFFFF;
    EXPECT_EQ(settings_CalcCRC(&s), 0u);
    s.crc32 = 0x1234;
    s.num_elements = 0;
    EXPECT_EQ(settings_CalcCRC(&s), 0xFFFFFFFFu);
}

TEST(SettingsCrc, EveryCoveredByteMattersAndCrcFieldDoesNot) {
    std::mt19937 rng(3);
    Settings_t s = random_record(rng);
    const uint32_t base = settings_CalcCRC(&s);
    for (size_t offset = 4; offset < sizeof(Settings_t); ++offset) {
        Settings_t changed = s;
        reinterpret_cast<unsigned char*>(&changed)[offset] ^= 0x01;
        if (offset >= 12 && offset < 16) {
            continue;  // num_elements changes the extent, covered below
        }
        EXPECT_NE(settings_CalcCRC(&changed), base) << offset;
    }
    Settings_t crc_changed = s;
    crc_changed.crc32 = 0xABCDEF01;
    EXPECT_EQ(settings_CalcCRC(&crc_changed), base);
}

TEST(SettingsCrc, CountFollowsNumElements) {
    std::mt19937 rng(5);
    Settings_t s = random_record(rng);
    uint32_t words[31];
    std::memcpy(words, reinterpret_cast<unsigned char*>(&s) + 4, sizeof(words));
    for (uint32_t n = 0; n <= 31; ++n) {
        s.num_elements = n;
        words[2] = n;  // num_elements is the third covered word
        EXPECT_EQ(settings_CalcCRC(&s), EFIS_crc(words, n)) << n;
    }
}

// A record claiming more words than it holds is clamped to its 31 words: the CRC never
// reads past the 128 bytes (ASan would report it) and equals the 31-word CRC.
TEST(SettingsCrc, OversizedElementCountIsClampedToTheRecord) {
    std::mt19937 rng(9);
    for (uint32_t n : {32u, 33u, 100u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        auto* heap = new Settings_t(random_record(rng));
        heap->num_elements = n;
        uint32_t words[31];
        std::memcpy(words, reinterpret_cast<unsigned char*>(heap) + 4, sizeof(words));
        EXPECT_EQ(settings_CalcCRC(heap), EFIS_crc(words, 31)) << n;
        delete heap;
    }
}

}  // namespace
