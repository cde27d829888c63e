// An upload told to stop (the window closing) stops between two packets and leaves the
// link idle, for both kinds of upload and both firmware generations.
#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "comms/can_msg_ids.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "firmware_ops/firmware_ops.h"
#include "tests/transfer/upload_file_support.h"

namespace {

using transfer_test::Bytes;

// Sets the cancel flag once `after_bytes` data bytes were acknowledged.
struct CancelAfter {
    std::atomic<bool>* cancel;
    uint32_t after_bytes;
    uint32_t last_write_current = 0;
    uint32_t write_calls_after_cancel = 0;
};

void cancel_progress(uint32_t current, uint32_t /*total*/, int phase, void* user_data) {
    auto* c = static_cast<CancelAfter*>(user_data);
    if (phase != 1) {
        return;
    }
    if (c->cancel->load()) {
        ++c->write_calls_after_cancel;
    }
    c->last_write_current = current;
    if (current >= c->after_bytes) {
        c->cancel->store(true);
    }
}

uint32_t frames_on(uint32_t can_id) {
    uint32_t n = 0;
    for (const COMMS_MSG_t& f : emu_hid::unit().received()) {
        const uint32_t id = f.can_ID;
        if (id == can_id) {
            ++n;
        }
    }
    return n;
}

class UploadCancel : public ::testing::TestWithParam<emu::Generation> {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam());
        ASSERT_TRUE(comms.establish_connection());
        path = "/tmp/efis_transfer_cancel_" + std::to_string(getpid()) + ".bin";
    }
    void TearDown() override { std::remove(path.c_str()); }

    // The link still serves the next user: a value read is answered.
    void expect_link_idle() {
        uint32_t value = 0;
        EXPECT_TRUE(get_value_checked(&comms, SETTINGS_COMMS, 0, &value));
    }

    CommsManager comms;
    std::string path;
};

TEST_P(UploadCancel, FirmwareStopsBetweenPackets) {
    const Bytes image = transfer_test::firmware_image(64 * 100, 7);
    ASSERT_TRUE(transfer_test::write_file(path, image));
    std::atomic<bool> cancel{false};
    CancelAfter ctx{&cancel, 64 * 10};
    emu_hid::unit().clear_received();

    const upload_result_t result = send_fw(&comms, path.c_str(), cancel_progress, &ctx, &cancel);

    EXPECT_EQ(result, UPLOAD_CANCELLED);
    EXPECT_EQ(ctx.last_write_current, 64u * 10);
    EXPECT_EQ(ctx.write_calls_after_cancel, 0u);
    // The header and the ten data packets acknowledged before the stop.
    EXPECT_EQ(frames_on(canmsg_write_mx25()), 11u);
    expect_link_idle();
}

TEST_P(UploadCancel, AirportStopsBetweenPacketsAndDoesNotReopen) {
    const Bytes db = transfer_test::random_bytes(64 * 100 + 5, 11);
    ASSERT_TRUE(transfer_test::write_file(path, db));
    std::atomic<bool> cancel{false};
    CancelAfter ctx{&cancel, 64 * 20};
    emu_hid::unit().clear_received();

    const upload_result_t result =
        send_airport_db(&comms, path.c_str(), cancel_progress, &ctx, &cancel);

    EXPECT_EQ(result, UPLOAD_CANCELLED);
    EXPECT_EQ(ctx.last_write_current, 64u * 20);
    EXPECT_EQ(ctx.write_calls_after_cancel, 0u);
    EXPECT_EQ(frames_on(canmsg_write_mx25()), 20u);
    // Close only: an incomplete database is not opened again.
    EXPECT_EQ(frames_on(canmsg_airport_db_op()), 1u);
    expect_link_idle();
}

INSTANTIATE_TEST_SUITE_P(Generations, UploadCancel,
                         ::testing::Values(emu::Generation::Current, emu::Generation::Legacy),
                         [](const ::testing::TestParamInfo<emu::Generation>& info) {
                             return info.param == emu::Generation::Current ? "Current" : "Legacy";
                         });

}  // namespace
