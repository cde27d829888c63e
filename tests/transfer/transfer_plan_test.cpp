// The plan shown before an upload is what the upload then does: the same packets and blocks,
// for both kinds of upload and both generations; and the estimate's words.
#include <gtest/gtest.h>
#include <unistd.h>

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
    transfer_test::Bytes cut = transfer_test::firmware_image(1000, 3);
    cut.resize(cut.size() - 1);
    ASSERT_TRUE(transfer_test::write_file(path, cut));
    EXPECT_EQ(plan_firmware_upload(path.c_str()).problem,
              "the file ends before the image its header describes");
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
