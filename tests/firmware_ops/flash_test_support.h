// Helpers shared by the flash programming tests: a connected tool on the emulated unit of
// either generation, captured log output, image files and the frames the unit received.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "firmware_ops/firmware_ops.h"
#include "tests/comms/comms_test_support.h"

namespace flash_test {

using Bytes = std::vector<uint8_t>;

// The identifiers each generation's unit expects, written out so that a wrong accessor shows.
struct GenIds {
    const char* name;
    emu::Generation generation;
    uint32_t erase;
    uint32_t set_addr;
    uint32_t write;
    uint32_t get_partition;
    uint32_t airport_db_op;
    uint32_t ack;
    uint32_t mx25_ack;
};

inline const GenIds kCurrent = {
    "Current", emu::Generation::Current, 0x430, 0x440, 0x420, 0x730, 0x450, 0x0E0, 0x0F0};
inline const GenIds kLegacy = {
    "Legacy", emu::Generation::Legacy, 0x416, 0x417, 0x415, 0x287, 0x42F, 0x255, 0x256};

inline void PrintTo(const GenIds& g, std::ostream* os) {
    *os << g.name;
}

inline std::string gen_name(const testing::TestParamInfo<GenIds>& info) {
    return info.param.name;
}

// The raw reports of the USB link, as the comms tests build them.
using comms_test::input_report;
using comms_test::output_report;

// The identifier of a frame, copied out of the packed structure.
inline uint32_t id_of(const COMMS_MSG_t& f) {
    const uint32_t id = f.can_ID;
    return id;
}

inline Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    }
    return b;
}

// A firmware image file: the 64-byte header followed by `data`.
inline Bytes image(uint32_t total_size, uint32_t encrypted_size, const Bytes& data) {
    firmware_header_t h;
    std::memset(&h, 0, sizeof(h));
    h.magic = 0x45464953;
    h.version = 0x00020C00;
    h.total_size = total_size;
    h.plaintext_size = encrypted_size;
    h.encrypted_size = encrypted_size;
    h.crc32_plaintext = 0x11223344;
    h.crc32_encrypted = 0x55667788;
    h.iv[0] = 0xA0A1A2A3;
    h.iv[3] = 0xB0B1B2B3;
    h.offset = 64;
    Bytes out(sizeof(h) + data.size());
    std::memcpy(out.data(), &h, sizeof(h));
    std::copy(data.begin(), data.end(), out.begin() + static_cast<std::ptrdiff_t>(sizeof(h)));
    return out;
}

// A file in the test's temporary directory, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& name)
        : path_(testing::TempDir() + "flash_" + std::to_string(getpid()) + "_" + name) {}
    TempFile(const std::string& name, const Bytes& content) : TempFile(name) { write(content); }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void write(const Bytes& content) const {
        FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!content.empty()) {
            ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), f), content.size());
        }
        std::fclose(f);
    }
    // A sparse file of that length (no data blocks are written).
    void make_sparse(off_t length) const {
        write({});
        ASSERT_EQ(truncate(path_.c_str(), length), 0);
    }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

inline size_t open_fd_count() {
    size_t n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) {
        return 0;
    }
    while (readdir(d) != nullptr) {
        ++n;
    }
    closedir(d);
    return n;
}

inline bool contains_line(const std::string& log, const std::string& line) {
    return ("\n" + log).find("\n" + line + "\n") != std::string::npos;
}

// Every progress call of one operation.
struct ProgressCall {
    uint32_t current;
    uint32_t total;
    int phase;
    bool operator==(const ProgressCall& o) const {
        return current == o.current && total == o.total && phase == o.phase;
    }
};

// What a progress callback sees, with optional actions at a given call.
struct ProgressRecorder {
    std::vector<ProgressCall> calls;
    void* seen_user_data = nullptr;
    std::atomic<bool> cancel{false};
    int cancel_at_phase = -1;        // set `cancel` at the first call of this phase whose current
    uint32_t cancel_at_current = 0;  // is at least this
    std::string truncate_path;       // truncate this file to 0 at the first write progress
    uint32_t vanish_at_written = 0;  // the link disappears when this many bytes are written

    static void callback(uint32_t current, uint32_t total, int phase, void* user_data) {
        auto* self = static_cast<ProgressRecorder*>(user_data);
        self->seen_user_data = user_data;
        self->calls.push_back({current, total, phase});
        if (phase == self->cancel_at_phase && current >= self->cancel_at_current) {
            self->cancel = true;
        }
        if (phase == 1 && self->vanish_at_written != 0 && current == self->vanish_at_written) {
            emu_hid::vanish_after(0);
        }
        if (phase == 1 && !self->truncate_path.empty()) {
            EXPECT_EQ(truncate(self->truncate_path.c_str(), 0), 0);
            self->truncate_path.clear();
        }
    }
    std::vector<ProgressCall> of_phase(int phase) const {
        std::vector<ProgressCall> out;
        for (const auto& c : calls) {
            if (c.phase == phase) {
                out.push_back(c);
            }
        }
        return out;
    }
};

// The tool connected over the emulated USB link to a unit of the fixture's generation.
class FlashFixture : public testing::TestWithParam<GenIds> {
protected:
    void SetUp() override {
        emu_hid::reset();
        ids = GetParam();
        unit().set_generation(ids.generation);
        // A legacy unit that also answers the current identification request, so that the
        // handshake does not wait out the current probe; it is still addressed as legacy.
        unit().set_answers_current_whoami(true);
        connect();
    }
    void TearDown() override {
        comms.reset();
        reset_whoami_fwversion_cache();
    }

    // A fresh unit of the fixture's generation answering the query with `partition`.
    void restart(uint32_t partition) {
        comms.reset();
        emu_hid::reset();
        unit().set_generation(ids.generation);
        unit().set_answers_current_whoami(true);
        unit().set_partition_answer(partition);
        connect();
    }

    void connect() {
        comms = std::make_unique<CommsManager>();
        testing::internal::CaptureStdout();
        const bool ok = comms->establish_connection();
        const std::string log = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(ok) << log;
        ASSERT_EQ(device_firmware_at_least_0_2_12(), ids.generation == emu::Generation::Current);
        unit().clear_received();
        emu_hid::clear_output_reports();
    }

    static emu::EfisUnit& unit() { return emu_hid::unit(); }

    // Frames on one identifier that the unit received, in order.
    std::vector<COMMS_MSG_t> received_on(uint32_t can_id) const {
        std::vector<COMMS_MSG_t> out;
        for (const auto& f : unit().received()) {
            if (id_of(f) == can_id) {
                out.push_back(f);
            }
        }
        return out;
    }

    // Runs an operation with its standard output captured; checks that it leaves no file open.
    template <typename F>
    std::string logged(F&& op) {
        const size_t fds = open_fd_count();
        std::fflush(stdout);
        testing::internal::CaptureStdout();
        op();
        std::fflush(stdout);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(open_fd_count(), fds) << "a file was left open";
        return log;
    }

    GenIds ids{};
    std::unique_ptr<CommsManager> comms;
};

}  // namespace flash_test
