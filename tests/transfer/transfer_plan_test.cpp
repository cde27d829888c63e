// The plan shown before an upload is what the upload then does: the same packets and blocks,
// for both kinds of upload and both generations; and the estimate's words.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "comms/can_msg_ids.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "firmware_ops/firmware_ops.h"
#include "firmware_ops/transfer_plan.h"
#include "tests/transfer/upload_file_support.h"

namespace {

class TransferPlanTest : public ::testing::TestWithParam<emu::Generation> {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam());
        ASSERT_TRUE(comms.establish_connection());
        EXPECT_GT(comms.roundTripUs(), 0u);
        path = testing::TempDir() + "plan_" + std::to_string(getpid());
    }
    void TearDown() override {
        std::remove(path.c_str());
        emu_hid::reset();
    }
    static uint32_t writes() {
        uint32_t n = 0;
        for (const COMMS_MSG_t& f : emu_hid::unit().received()) {
            n += f.can_ID == canmsg_write_mx25() ? 1 : 0;
        }
        return n;
    }
    CommsManager comms;
    std::string path;
};

TEST_P(TransferPlanTest, PlanCountsWhatTheUploadSends) {
    struct Case {
        bool firmware;
        uint32_t size;
    };
    for (const Case c :
         {Case{true, 70000}, Case{true, 64}, Case{false, 2 * 65536 + 5}, Case{false, 65536}}) {
        emu_hid::unit().clear_received();
        const transfer_test::Bytes bytes = c.firmware ? transfer_test::firmware_image(c.size, 1)
                                                      : transfer_test::random_bytes(c.size, 2);
        ASSERT_TRUE(transfer_test::write_file(path, bytes));
        const TransferPlan plan =
            c.firmware ? plan_firmware_upload(path.c_str()) : plan_airport_upload(path.c_str());
        ASSERT_TRUE(plan.ok) << plan.problem;
        const size_t erased_before = emu_hid::unit().erased_blocks().size();
        ASSERT_EQ(c.firmware ? send_fw(&comms, path.c_str(), nullptr, nullptr)
                             : send_airport_db(&comms, path.c_str(), nullptr, nullptr),
                  UPLOAD_OK);
        EXPECT_EQ(plan.packets, writes()) << c.size;
        EXPECT_EQ(plan.blocks, emu_hid::unit().erased_blocks().size() - erased_before) << c.size;
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, TransferPlanTest,
                         ::testing::Values(emu::Generation::Current, emu::Generation::Legacy));

TEST(TransferPlan, RefusalsAndEstimates) {
    EXPECT_EQ(plan_firmware_upload("/nonexistent/fw.bin").problem,
              "cannot read the file: No such file or directory");
    const std::string path = testing::TempDir() + "plan_short_" + std::to_string(getpid());
    ASSERT_TRUE(transfer_test::write_file(path, transfer_test::Bytes(10, 1)));
    EXPECT_EQ(plan_firmware_upload(path.c_str()).problem,
              "the file is shorter than a firmware header (64 bytes)");
    // Header sizes that disagree with the file or with each other, each named.
    const auto le32 = [](transfer_test::Bytes* image, size_t at, uint32_t value) {
        for (size_t i = 0; i < 4; ++i) {
            (*image)[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    struct Case {
        uint32_t data;  // the image's data bytes, as written
        int64_t cut;    // bytes taken off the file's end
        int64_t total;  // the header's total_size, or -1 as written
        bool zeros;     // the whole file zeros
        const char* problem;
    };
    const Case cases[] = {
        {1000, 1, -1, false, "the header says 1000 bytes of data but the file holds 999"},
        {1000, 0, -1, true, "the header's total size is smaller than its data"},
        {100, 0, 64 * 65536 + 1, false, "the image does not fit its flash bank"},
        {65536 - 64, 0, 65536, false, ""},
    };
    for (const Case& c : cases) {
        transfer_test::Bytes image = transfer_test::firmware_image(c.data, 3);
        image.resize(image.size() - static_cast<size_t>(c.cut));
        if (c.total >= 0) {
            le32(&image, 8, static_cast<uint32_t>(c.total));
        }
        if (c.zeros) {
            std::fill(image.begin(), image.end(), 0);
        }
        ASSERT_TRUE(transfer_test::write_file(path, image));
        const TransferPlan planned = plan_firmware_upload(path.c_str());
        EXPECT_EQ(planned.problem, c.problem) << c.data;
        EXPECT_EQ(planned.ok, *c.problem == '\0') << c.data;
    }
    std::remove(path.c_str());

    TransferPlan plan;
    plan.packets = 851968;  // a 52 MiB database
    plan.blocks = 832;
    EXPECT_NEAR(transfer_seconds(plan, 1000), 851968 * 1100e-6 + 832 * 1e-3, 1e-6);
    EXPECT_EQ(about_duration_text(transfer_seconds(plan, 1000)), "about 16 min");
    EXPECT_EQ(about_duration_text(0.2), "about 1 s");
    EXPECT_EQ(about_duration_text(44.1), "about 45 s");
    EXPECT_EQ(about_duration_text(3 * 3600 + 125), "about 3 h 2 min");
}

}  // namespace
