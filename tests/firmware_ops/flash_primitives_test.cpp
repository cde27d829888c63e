// Erase, set-address and partition query against the emulated unit of both generations.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "flash_test_support.h"

namespace flash_test {
namespace {

class FlashPrimitives : public FlashFixture {};

TEST_P(FlashPrimitives, BlockEraseRequestBytesAndCompletion) {
    ProgressRecorder progress;
    bool ok = false;
    const std::string log = logged([&] {
        ok = mx25_erase(comms.get(), OP_BLOCK_ERASE, 0x0123, &ProgressRecorder::callback, &progress,
                        4, 9);
    });
    EXPECT_TRUE(ok) << log;
    const auto reports = emu_hid::output_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], output_report(ids.erase, 3, {0xBE, 0x23, 0x01}));
    EXPECT_TRUE(contains_line(
        log, "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=291)"));
    EXPECT_TRUE(contains_line(log, "mx25_erase: ACK received, erase command acknowledged"));
    EXPECT_TRUE(
        contains_line(log, "mx25_erase: Erase completed successfully (address=0x01230000)"));
    EXPECT_EQ(unit().erased_blocks(), std::vector<uint32_t>{0x0123});
    ASSERT_EQ(progress.calls.size(), 1u);
    EXPECT_EQ(progress.calls[0], (ProgressCall{5, 9, 0}));
    EXPECT_EQ(progress.seen_user_data, &progress);
}

// The address the tool expects in the flash acknowledgement of each kind of erase: a unit
// that echoes another address fails the erase, except for a chip erase.
struct AddressCase {
    const char* name;
    FlashOpType op;
    uint16_t number;
    const char* mismatch_line;  // null: the erase is accepted whatever the address
};

const AddressCase kAddressCases[] = {
    {"Block897", OP_BLOCK_ERASE, 897, "mx25_erase: Address mismatch (expected=0x03810000, got="},
    {"Sector3", OP_SECTOR_ERASE, 3, "mx25_erase: Address mismatch (expected=0x00003000, got="},
    {"Chip", OP_CHIP_ERASE, 0, nullptr},
};

TEST_P(FlashPrimitives, EraseChecksTheEchoedAddress) {
    for (const auto& c : kAddressCases) {
        SCOPED_TRACE(c.name);
        unit().clear_faults();
        bool ok = false;
        std::string log =
            logged([&] { ok = mx25_erase(comms.get(), c.op, c.number, nullptr, nullptr, 0, 1); });
        EXPECT_TRUE(ok) << log;
        EXPECT_NE(log.find("mx25_erase: Erase completed successfully"), std::string::npos) << log;

        emu::Fault wrong;
        wrong.answer = emu::AnswerKind::FlashAck;
        wrong.wrong_address = true;
        unit().set_fault(ids.erase, wrong);
        ProgressRecorder progress;
        log = logged([&] {
            ok = mx25_erase(comms.get(), c.op, c.number, &ProgressRecorder::callback, &progress, 0,
                            1);
        });
        if (c.mismatch_line == nullptr) {
            EXPECT_TRUE(ok) << log;
            EXPECT_EQ(progress.calls.size(), 1u);
        } else {
            EXPECT_FALSE(ok) << log;
            EXPECT_NE(log.find(c.mismatch_line), std::string::npos) << log;
            EXPECT_TRUE(progress.calls.empty());
        }
    }
}

TEST_P(FlashPrimitives, SectorEraseRequestCarriesSectorNumber) {
    logged(
        [&] { EXPECT_TRUE(mx25_erase(comms.get(), OP_SECTOR_ERASE, 3, nullptr, nullptr, 0, 1)); });
    const auto reports = emu_hid::output_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], output_report(ids.erase, 3, {0xAE, 0x03, 0x00}));
}

TEST_P(FlashPrimitives, FailedCommandAckNeitherWaitsForFlashAckNorReports) {
    // The unit still erases and answers with its flash acknowledgement; the tool must not
    // take that as the erase's outcome once the command acknowledgement failed.
    emu::Fault other;
    other.answer = emu::AnswerKind::CommandAck;
    other.ack_other_command = true;
    unit().set_fault(ids.erase, other);
    ProgressRecorder progress;
    bool ok = true;
    const std::string log = logged([&] {
        ok = mx25_erase(comms.get(), OP_BLOCK_ERASE, 5, &ProgressRecorder::callback, &progress, 0,
                        1);
    });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(contains_line(log, "mx25_erase: ACK validation failed")) << log;
    EXPECT_EQ(log.find("mx25_erase: Erase operation failed or timeout"), std::string::npos);
    EXPECT_EQ(log.find("mx25_erase: Erase completed successfully"), std::string::npos);
    EXPECT_EQ(log.find("wait_for_mx25_ack"), std::string::npos) << log;
    EXPECT_TRUE(progress.calls.empty());
}

TEST_P(FlashPrimitives, EraseFlashAckFailures) {
    struct Case {
        const char* name;
        emu::Fault fault;
        const char* line;
    };
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    emu::Fault wrong_op;
    wrong_op.answer = emu::AnswerKind::FlashAck;
    wrong_op.wrong_op_code = true;
    const Case cases[] = {
        {"Refused", refuse, "mx25_erase: Erase operation failed or timeout"},
        {"WrongOp", wrong_op, "mx25_erase: Op type mismatch in response (expected=0xBE, got="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unit().set_fault(ids.erase, c.fault);
        ProgressRecorder progress;
        bool ok = true;
        const std::string log = logged([&] {
            ok = mx25_erase(comms.get(), OP_BLOCK_ERASE, 7, &ProgressRecorder::callback, &progress,
                            0, 1);
        });
        EXPECT_FALSE(ok);
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_TRUE(progress.calls.empty());
    }
}

TEST_P(FlashPrimitives, SetAddressRequestBytesAndEcho) {
    bool ok = false;
    const std::string log = logged([&] { ok = set_mx25_addr(comms.get(), 0x03400000); });
    EXPECT_TRUE(ok) << log;
    const auto reports = emu_hid::output_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], output_report(ids.set_addr, 4, {0x00, 0x00, 0x40, 0x03}));
    EXPECT_EQ(unit().write_address(), 0x03400000u);
    EXPECT_EQ(log,
              "set_mx25_addr: Successfully sent address (0x03400000)\n"
              "set_mx25_addr: Address set successfully (0x03400000)\n");
}

TEST_P(FlashPrimitives, SetAddressFailures) {
    struct Case {
        const char* name;
        emu::Fault fault;
        const char* line;
    };
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    emu::Fault wrong_op;
    wrong_op.answer = emu::AnswerKind::FlashAck;
    wrong_op.wrong_op_code = true;
    emu::Fault wrong_address;
    wrong_address.answer = emu::AnswerKind::FlashAck;
    wrong_address.wrong_address = true;
    const Case cases[] = {
        {"Refused", refuse, "set_mx25_addr: Failed to receive acknowledgment or operation failed"},
        {"WrongOp", wrong_op, "set_mx25_addr: Op type mismatch (expected=OP_SETADDR/0xA1, got="},
        {"WrongAddress", wrong_address,
         "set_mx25_addr: Address mismatch (expected=0x00012340, got="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unit().set_fault(ids.set_addr, c.fault);
        bool ok = true;
        const std::string log = logged([&] { ok = set_mx25_addr(comms.get(), 0x00012340); });
        EXPECT_FALSE(ok);
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_EQ(log.find("set_mx25_addr: Address set successfully"), std::string::npos);
    }
}

TEST_P(FlashPrimitives, NotConnected) {
    CommsManager idle;
    const std::string log = logged([&] {
        EXPECT_FALSE(mx25_erase(&idle, OP_BLOCK_ERASE, 1, nullptr, nullptr, 0, 1));
        EXPECT_FALSE(mx25_erase(nullptr, OP_BLOCK_ERASE, 1, nullptr, nullptr, 0, 1));
        EXPECT_FALSE(set_mx25_addr(&idle, 0));
        EXPECT_EQ(get_mx25_partition(nullptr), uint32_t{partition_none});
    });
    EXPECT_EQ(log,
              "mx25_erase: CommsManager not connected\n"
              "mx25_erase: CommsManager not connected\n"
              "set_mx25_addr: CommsManager not connected\n"
              "get_mx25_partition: CommsManager not connected\n");
    EXPECT_TRUE(emu_hid::output_reports().empty());
}

TEST_P(FlashPrimitives, PartitionRequestHasNoPayload) {
    uint32_t p = 0;
    const std::string log = logged([&] { p = get_mx25_partition(comms.get()); });
    EXPECT_EQ(p, uint32_t{partition_1});
    const auto reports = emu_hid::output_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], output_report(ids.get_partition, 0, {}));
    char sending[96];
    std::snprintf(sending, sizeof(sending),
                  "get_mx25_partition: Sending command - CAN_ID=0x%08X, msg_len=0x00",
                  ids.get_partition);
    EXPECT_TRUE(contains_line(log, sending)) << log;
    EXPECT_TRUE(contains_line(log, "get_mx25_partition: Successfully sent get partition command"));
}

TEST_P(FlashPrimitives, PartitionValues) {
    struct Case {
        uint32_t answer;
        uint32_t result;
        const char* line;
    };
    const Case cases[] = {
        {partition_1, partition_1,
         "get_mx25_partition: Partition retrieved successfully (partition=0xB1B1B1B1, "
         "raw=0xB1B1B1B1)"},
        {partition_2, partition_2,
         "get_mx25_partition: Partition retrieved successfully (partition=0xB2B2B2B2, "
         "raw=0xB2B2B2B2)"},
        {partition_none, partition_none,
         "get_mx25_partition: Partition retrieved successfully (partition=0x00, raw=0x00000000)"},
        {partition_debug, partition_none,
         "get_mx25_partition: Invalid partition value received (raw=0xB3B3B3B3)"},
        {partition_unknown, partition_none,
         "get_mx25_partition: Invalid partition value received (raw=0xFFFFFFFF)"},
        {0x12345678, partition_none,
         "get_mx25_partition: Invalid partition value received (raw=0x12345678)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        unit().set_partition_answer(c.answer);
        uint32_t p = 1;
        const std::string log = logged([&] { p = get_mx25_partition(comms.get()); });
        EXPECT_EQ(p, c.result);
        EXPECT_TRUE(contains_line(log, c.line)) << log;
    }
}

TEST_P(FlashPrimitives, PartitionRefusals) {
    struct Case {
        const char* name;
        emu::Fault fault;
        const char* line;
    };
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    emu::Fault command_refused;
    command_refused.answer = emu::AnswerKind::CommandAck;
    command_refused.ack_other_command = true;
    const bool current = ids.generation == emu::Generation::Current;
    const Case cases[] = {
        {"FlashNack", refuse,
         current ? "get_mx25_partition: MX25 NACK"
                 : "get_mx25_partition: Operation failed (legacy MX25 NACK)"},
        {"CommandAckFails", command_refused, "get_mx25_partition: ACK validation failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unit().set_fault(ids.get_partition, c.fault);
        uint32_t p = 1;
        const std::string log = logged([&] { p = get_mx25_partition(comms.get()); });
        EXPECT_EQ(p, uint32_t{partition_none});
        EXPECT_TRUE(contains_line(log, c.line)) << log;
        EXPECT_EQ(log.find("Partition retrieved successfully"), std::string::npos);
    }
}

// Answers the link delivers once the query has gone out, ahead of the unit's own: the command
// acknowledgement of the query and then a flash acknowledgement of length code 5 carrying
// partition_2.
void inject_partition_answer_of_length_5(const GenIds& ids) {
    const bool current = ids.generation == emu::Generation::Current;
    const uint32_t id = ids.get_partition;
    if (current) {
        emu_hid::inject_after_next_write(input_report(
            ids.ack, 4, {0x00, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), 0x01}));
    } else {
        emu_hid::inject_after_next_write(input_report(
            ids.ack, 6,
            {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), 0, 0, 0xEF, 0x15}));
    }
    emu_hid::inject_after_next_write(input_report(ids.mx25_ack, 5, {0xAC, 0xB2, 0xB2, 0xB2, 0xB2}));
}

TEST_P(FlashPrimitives, PartitionAnswerOfFiveBytes) {
    inject_partition_answer_of_length_5(ids);
    uint32_t p = 1;
    const std::string log = logged([&] { p = get_mx25_partition(comms.get()); });
    if (ids.generation == emu::Generation::Current) {
        EXPECT_EQ(p, uint32_t{partition_none});
        EXPECT_TRUE(contains_line(log,
                                  "get_mx25_partition: Unexpected response (can_ID=0x000000F0, "
                                  "msg_len=0x05, expected MX25 ACK len 6)"))
            << log;
    } else {
        EXPECT_EQ(p, uint32_t{partition_2});
        EXPECT_TRUE(contains_line(log,
                                  "get_mx25_partition: Partition retrieved successfully "
                                  "(partition=0xB2B2B2B2, raw=0xB2B2B2B2)"))
            << log;
    }
}

const char* const kDroppedOne = "Dropped 1 stale frame(s) before the request";

// A command acknowledgement, as the unit of that generation sends it, naming `named`.
Bytes command_ack_report(const GenIds& ids, uint32_t named) {
    const uint8_t lo = static_cast<uint8_t>(named);
    const uint8_t hi = static_cast<uint8_t>(named >> 8);
    if (ids.generation == emu::Generation::Current) {
        return input_report(ids.ack, 4, {0x00, lo, hi, 0x01});
    }
    return input_report(ids.ack, 6, {lo, hi, 0, 0, 0xEF, 0x15});
}

// A flash acknowledgement confirming `op` at `address`.
Bytes flash_ack_report(const GenIds& ids, uint8_t op, uint32_t address) {
    Bytes payload = {op, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                     static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
    if (ids.generation == emu::Generation::Current) {
        payload.push_back(0x01);
        return input_report(ids.mx25_ack, 6, payload);
    }
    return input_report(ids.mx25_ack, 5, payload);
}

// A stale answer left on the link would fail each primitive if it were taken for its own.
TEST_P(FlashPrimitives, EveryPrimitiveDropsWhatIsQueuedBeforeItsRequest) {
    struct Case {
        const char* name;
        Bytes stale;
        std::function<bool(CommsManager*)> call;
    };
    const Case cases[] = {
        {"Erase", command_ack_report(ids, ids.airport_db_op),
         [](CommsManager* c) { return mx25_erase(c, OP_BLOCK_ERASE, 3, nullptr, nullptr, 0, 1); }},
        {"SetAddress", flash_ack_report(ids, OP_SETADDR, 0x2000),
         [](CommsManager* c) { return set_mx25_addr(c, 0x1000); }},
        {"Partition", command_ack_report(ids, ids.airport_db_op),
         [](CommsManager* c) { return get_mx25_partition(c) == partition_1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        emu_hid::clear_output_reports();
        emu_hid::inject_input_report(c.stale);
        bool ok = false;
        const std::string log = logged([&] { ok = c.call(comms.get()); });
        EXPECT_TRUE(ok) << log;
        EXPECT_TRUE(contains_line(log, kDroppedOne)) << log;
        EXPECT_EQ(emu_hid::output_reports().size(), 1u);
    }
}

// Other frames between the query's acknowledgement and its answer are passed over.
TEST_P(FlashPrimitives, PartitionAnswerAfterOtherTraffic) {
    struct Case {
        const char* name;
        uint32_t unrelated_before;
        uint32_t delay_ms;
        uint32_t traffic_fps;
    };
    const Case cases[] = {
        {"FramesFromTheUnit", 5, 0, 0},
        {"BusyBus", 0, 20, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        emu::Fault f;
        f.answer = emu::AnswerKind::FlashAck;
        f.unrelated_before = c.unrelated_before;
        f.delay_ms = c.delay_ms;
        unit().set_fault(ids.get_partition, f);
        unit().set_partition_answer(partition_2);
        emu_hid::set_background_traffic(c.traffic_fps, 0x100);
        uint32_t p = partition_none;
        const std::string log = logged([&] { p = get_mx25_partition(comms.get()); });
        emu_hid::set_background_traffic(0, 0);
        EXPECT_EQ(p, uint32_t{partition_2}) << log;
        EXPECT_TRUE(contains_line(log,
                                  "get_mx25_partition: Partition retrieved successfully "
                                  "(partition=0xB2B2B2B2, raw=0xB2B2B2B2)"))
            << log;
    }
}

TEST_P(FlashPrimitives, MalformedPartitionAnswerAfterOtherFramesStillFails) {
    emu::Fault f;
    f.answer = emu::AnswerKind::FlashAck;
    f.unrelated_before = 2;
    f.wrong_length = true;
    unit().set_fault(ids.get_partition, f);
    uint32_t p = 1;
    const std::string log = logged([&] { p = get_mx25_partition(comms.get()); });
    EXPECT_EQ(p, uint32_t{partition_none});
    const char* line = ids.generation == emu::Generation::Current
                           ? "get_mx25_partition: Unexpected response (can_ID=0x000000F0, "
                             "msg_len=0x05, expected MX25 ACK len 6)"
                           : "get_mx25_partition: Unexpected response (can_ID=0x00000256, "
                             "msg_len=0x04)";
    EXPECT_TRUE(contains_line(log, line)) << log;
}

TEST_P(FlashPrimitives, PartitionQueryEndsAmidTrafficWithoutAnAnswer) {
    emu::Fault f;
    f.answer = emu::AnswerKind::FlashAck;
    f.no_answer = true;
    unit().set_fault(ids.get_partition, f);
    emu_hid::set_background_traffic(200, 0x100);
    uint32_t p = 1;
    const auto start = std::chrono::steady_clock::now();
    const std::string log = logged([&] { p = get_mx25_partition(comms.get()); });
    emu_hid::set_background_traffic(0, 0);
    EXPECT_EQ(p, uint32_t{partition_none});
    EXPECT_TRUE(contains_line(log, "get_mx25_partition: No response before the deadline.")) << log;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
}

INSTANTIATE_TEST_SUITE_P(Generations, FlashPrimitives, testing::Values(kCurrent, kLegacy),
                         gen_name);

TEST(UploadResultText, EveryResultHasItsOwnText) {
    std::vector<std::string> seen;
    for (uint32_t r = UPLOAD_OK; r <= UPLOAD_DB_OPEN_FAILED; ++r) {
        const char* text = upload_result_text(static_cast<upload_result_t>(r));
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::strlen(text), 5u) << r;
        for (const auto& s : seen) {
            EXPECT_NE(s, text) << r;
        }
        seen.emplace_back(text);
    }
    EXPECT_STREQ(upload_result_text(UPLOAD_DATA_ACK_FAILED),
                 "the unit did not acknowledge a data packet");
    EXPECT_STREQ(upload_result_text(UPLOAD_NO_PARTITION), "the unit named no valid firmware bank");
}

}  // namespace
}  // namespace flash_test
