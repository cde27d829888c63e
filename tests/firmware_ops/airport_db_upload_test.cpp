// Airport database upload into the low flash region of the emulated unit, both generations.
#include <gtest/gtest.h>

#include "flash_test_support.h"

namespace flash_test {
namespace {

constexpr uint64_t kLimit = 54525952;  // 832 blocks

class AirportDbUpload : public FlashFixture {
protected:
    upload_result_t upload(const char* path, ProgressRecorder* progress = nullptr,
                           std::string* log = nullptr) {
        upload_result_t result = UPLOAD_OK;
        const std::string out = logged([&] {
            result = send_airport_db(comms.get(), path,
                                     progress != nullptr ? &ProgressRecorder::callback : nullptr,
                                     progress, progress != nullptr ? &progress->cancel : nullptr);
        });
        if (log != nullptr) {
            *log = out;
        }
        return result;
    }
    // The operation bytes of every airport database command the unit received.
    Bytes db_ops() const {
        Bytes ops;
        for (const auto& f : received_on(ids.airport_db_op)) {
            EXPECT_EQ(f.msg_len, CAN_1_BYTES);
            ops.push_back(f.data[0]);
        }
        return ops;
    }
    size_t write_count() const { return received_on(ids.write).size(); }
};

TEST_P(AirportDbUpload, FileLandsAtAddressZeroAndDatabaseIsReopened) {
    // Two blocks: 65536 + 1000 bytes, the last packet 40 bytes.
    const Bytes content = pattern(66536, 0x13);
    TempFile file("airports.db", content);
    ProgressRecorder progress;
    std::string log;
    EXPECT_EQ(upload(file.path(), &progress, &log), UPLOAD_OK) << log;

    EXPECT_EQ(unit().flash_read(0, 66536), content);
    // The last packet of 40 bytes travels as 48; nothing behind it is touched.
    EXPECT_EQ(unit().flash_read(66544, 64), Bytes(64, 0xFF));
    EXPECT_EQ(unit().erased_blocks(), (std::vector<uint32_t>{0, 1}));
    EXPECT_TRUE(unit().airport_db_open());
    EXPECT_EQ(db_ops(), (Bytes{AIRPORT_DB_OP_CLOSE, AIRPORT_DB_OP_OPEN}));

    // Close, erases, one address (0), the data, then open: in that order.
    const auto frames = unit().received();
    ASSERT_GE(frames.size(), 5u);
    EXPECT_EQ(id_of(frames.front()), ids.airport_db_op);
    EXPECT_EQ(id_of(frames[1]), ids.erase);
    EXPECT_EQ(id_of(frames[2]), ids.erase);
    EXPECT_EQ(id_of(frames[3]), ids.set_addr);
    EXPECT_EQ(Bytes(frames[3].data, frames[3].data + 4), Bytes(4, 0));
    EXPECT_EQ(id_of(frames.back()), ids.airport_db_op);
    EXPECT_EQ(write_count(), 1040u);

    char close_line[128];
    std::snprintf(close_line, sizeof(close_line), "send_airport_db_op: sent 0x%02X",
                  unsigned{AIRPORT_DB_OP_CLOSE});
    const std::string expected_head =
        "send_airport_db: 66536 bytes, erasing 2 blocks starting at block 0 (address "
        "0x00000000)\n"
        "send_airport_db: closing airport DB on device before flash update...\n" +
        std::string(close_line) + "\nsend_airport_db: close DB acknowledged\n";
    EXPECT_EQ(log.substr(0, expected_head.size()), expected_head) << log;
    EXPECT_TRUE(contains_line(
        log,
        "send_airport_db: Erase complete, setting address 0x00000000 and transferring data..."));
    const std::string expected_tail =
        "send_airport_db: Complete (66536 bytes, 1040 packets)\n"
        "send_airport_db: opening airport DB on device...\n"
        "send_airport_db_op: sent 0xDA\n";
    ASSERT_GE(log.size(), expected_tail.size());
    EXPECT_EQ(log.substr(log.size() - expected_tail.size()), expected_tail) << log;

    const auto erase = progress.of_phase(0);
    EXPECT_EQ(erase, (std::vector<ProgressCall>{{1, 2, 0}, {2, 2, 0}}));
    const auto write = progress.of_phase(1);
    ASSERT_EQ(write.size(), 1040u);
    EXPECT_EQ(write.front(), (ProgressCall{64, 66536, 1}));
    EXPECT_EQ(write.back(), (ProgressCall{66536, 66536, 1}));
}

TEST_P(AirportDbUpload, OneByteFile) {
    TempFile file("one.db", Bytes{0x5A});
    std::string log;
    EXPECT_EQ(upload(file.path(), nullptr, &log), UPLOAD_OK) << log;
    EXPECT_EQ(unit().erased_blocks(), std::vector<uint32_t>{0});
    const auto writes = received_on(ids.write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].msg_len, CAN_1_BYTES);
    const auto reports = emu_hid::output_reports();
    bool found = false;
    for (const auto& r : reports) {
        if (r == output_report(ids.write, 1, {0x5A})) {
            found = true;
        }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(unit().flash_read(0, 2), (Bytes{0x5A, 0xFF}));
    EXPECT_TRUE(contains_line(log, "send_airport_db: Complete (1 bytes, 1 packets)"));
}

TEST_P(AirportDbUpload, CloseNotAcknowledgedAbortsBeforeAnyErase) {
    emu::Fault other;
    other.answer = emu::AnswerKind::CommandAck;
    other.ack_other_command = true;
    emu::Fault silent;
    silent.answer = emu::AnswerKind::CommandAck;
    silent.no_answer = true;
    for (const auto& fault : {other, silent}) {
        unit().clear_received();
        unit().set_fault(ids.airport_db_op, fault);
        TempFile file("close.db", pattern(100, 1));
        std::string log;
        EXPECT_EQ(upload(file.path(), nullptr, &log), UPLOAD_DB_CLOSE_FAILED);
        char line[128];
        std::snprintf(line, sizeof(line),
                      "send_airport_db: no ACK for close DB (expected CAN ID 0x%03X in ACK "
                      "payload), aborting",
                      ids.airport_db_op);
        EXPECT_TRUE(contains_line(log, line)) << log;
        EXPECT_TRUE(unit().erased_blocks().empty());
        EXPECT_TRUE(received_on(ids.erase).empty());
        EXPECT_EQ(db_ops(), Bytes{AIRPORT_DB_OP_CLOSE});
    }
}

TEST_P(AirportDbUpload, FileShrinkingDuringUploadIsIncomplete) {
    const Bytes content = pattern(40000, 0x61);
    TempFile file("shrink.db", content);
    ProgressRecorder progress;
    progress.truncate_path = file.path();
    std::string log;
    EXPECT_EQ(upload(file.path(), &progress, &log), UPLOAD_FILE_TRUNCATED);
    // Whatever the stream had buffered before the file shrank is still sent.
    const std::string eof = "send_airport_db: Unexpected EOF\nsend_airport_db: Incomplete (";
    const std::string rest = " / 40000 bytes); not sending open command\n";
    const size_t at = log.find(eof);
    ASSERT_NE(at, std::string::npos) << log;
    const size_t sent_end = log.find(rest, at);
    ASSERT_NE(sent_end, std::string::npos) << log;
    EXPECT_EQ(sent_end + rest.size(), log.size()) << "nothing may follow the incomplete line";
    const std::string sent = log.substr(at + eof.size(), sent_end - at - eof.size());
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.find_first_not_of("0123456789"), std::string::npos) << sent;
    EXPECT_LT(std::stoul(sent), 40000u);
    EXPECT_EQ(db_ops(), Bytes{AIRPORT_DB_OP_CLOSE});
    EXPECT_FALSE(unit().airport_db_open());
}

TEST_P(AirportDbUpload, RefusedFilesSendNothing) {
    struct Case {
        const char* name;
        off_t length;
        const char* line;
        upload_result_t result;
    };
    const Case cases[] = {
        {"Empty", 0, "send_airport_db: File is empty", UPLOAD_FILE_EMPTY},
        {"OneByteOverLimit", static_cast<off_t>(kLimit + 1),
         "send_airport_db: File too large (54525953 bytes, 833 blocks); max 832 blocks before "
         "firmware bank",
         UPLOAD_TOO_LARGE},
        {"FourGiB", static_cast<off_t>(4294967296LL),
         "send_airport_db: File too large (4294967296 bytes, 65536 blocks); max 832 blocks before "
         "firmware bank",
         UPLOAD_TOO_LARGE},
        {"FourGiBAndOne", static_cast<off_t>(4294967297LL),
         "send_airport_db: File too large (4294967297 bytes, 65537 blocks); max 832 blocks before "
         "firmware bank",
         UPLOAD_TOO_LARGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file("refused.db");
        file.make_sparse(c.length);
        std::string log;
        EXPECT_EQ(upload(file.path(), nullptr, &log), c.result);
        EXPECT_EQ(log, std::string(c.line) + "\n");
        EXPECT_TRUE(unit().received().empty());
    }
}

TEST_P(AirportDbUpload, LargestFileIsAccepted) {
    // Accepted up to the first erase; cancelled there so as not to stream 54 MB.
    TempFile file("limit.db");
    file.make_sparse(static_cast<off_t>(kLimit));
    ProgressRecorder progress;
    progress.cancel_at_phase = 0;
    progress.cancel_at_current = 1;
    std::string log;
    EXPECT_EQ(upload(file.path(), &progress, &log), UPLOAD_CANCELLED);
    EXPECT_TRUE(contains_line(log,
                              "send_airport_db: 54525952 bytes, erasing 832 blocks starting at "
                              "block 0 (address 0x00000000)"))
        << log;
    EXPECT_TRUE(contains_line(
        log, "send_airport_db: Cancelled after erasing 1 of 832 blocks; not sending open command"));
    EXPECT_EQ(progress.calls, (std::vector<ProgressCall>{{1, 832, 0}}));
    EXPECT_EQ(unit().erased_blocks(), std::vector<uint32_t>{0});
    EXPECT_EQ(db_ops(), Bytes{AIRPORT_DB_OP_CLOSE});
}

TEST_P(AirportDbUpload, RefusedBeforeTheUnitIsAsked) {
    upload_result_t r = UPLOAD_OK;
    std::string log = logged([&] { r = send_airport_db(comms.get(), nullptr, nullptr, nullptr); });
    EXPECT_EQ(r, UPLOAD_INVALID_PATH);
    EXPECT_EQ(log, "send_airport_db: Invalid file path\n");
    CommsManager idle;
    log = logged([&] { r = send_airport_db(&idle, "/nonexistent", nullptr, nullptr); });
    EXPECT_EQ(r, UPLOAD_NOT_CONNECTED);
    EXPECT_EQ(log, "send_airport_db: CommsManager not connected\n");
    log = logged([&] { r = send_airport_db(comms.get(), "/nonexistent/a.db", nullptr, nullptr); });
    EXPECT_EQ(r, UPLOAD_FILE_OPEN_FAILED);
    EXPECT_EQ(log,
              "send_airport_db: Failed to open file /nonexistent/a.db: No such file or "
              "directory\n");
    EXPECT_TRUE(unit().received().empty());
}

TEST_P(AirportDbUpload, FailedEraseLeavesDatabaseClosedAndUnwritten) {
    const Bytes old_content = pattern(3 * 65536, 0x3C);
    unit().flash_fill(0, old_content);
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    refuse.skip_first = 1;
    unit().set_fault(ids.erase, refuse);
    TempFile file("erasefail.db", pattern(3 * 65536, 0x01));
    std::string log;
    EXPECT_EQ(upload(file.path(), nullptr, &log), UPLOAD_ERASE_FAILED);
    EXPECT_TRUE(contains_line(log,
                              "send_airport_db: Erase of block 1 failed; stopping before any data "
                              "is written, not sending open command"))
        << log;
    EXPECT_EQ(received_on(ids.erase).size(), 2u);
    EXPECT_TRUE(received_on(ids.set_addr).empty());
    EXPECT_EQ(write_count(), 0u);
    EXPECT_EQ(unit().flash_read(65536, 2 * 65536),
              Bytes(old_content.begin() + 65536, old_content.end()));
    EXPECT_EQ(db_ops(), Bytes{AIRPORT_DB_OP_CLOSE});
    EXPECT_FALSE(unit().airport_db_open());
}

TEST_P(AirportDbUpload, FailedSetAddressLeavesDatabaseClosedAndUnwritten) {
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    unit().set_fault(ids.set_addr, refuse);
    TempFile file("addrfail.db", pattern(500, 0x01));
    std::string log;
    EXPECT_EQ(upload(file.path(), nullptr, &log), UPLOAD_SET_ADDRESS_FAILED);
    EXPECT_TRUE(contains_line(log,
                              "send_airport_db: Setting address 0x00000000 failed; stopping "
                              "before any data is written, not sending open command"))
        << log;
    EXPECT_EQ(write_count(), 0u);
    EXPECT_EQ(db_ops(), Bytes{AIRPORT_DB_OP_CLOSE});
}

TEST_P(AirportDbUpload, DataAcknowledgementFailureStopsAtThatPacket) {
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    emu::Fault wrong_op;
    wrong_op.answer = emu::AnswerKind::FlashAck;
    wrong_op.wrong_op_code = true;
    const std::pair<emu::Fault, const char*> cases[] = {
        {refuse, "send_airport_db: MX25 ACK failed at packet 3\n"},
        {wrong_op, "send_airport_db: Op type mismatch (expected OP_WRITE 0xAA, got 0x"},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.second);
        unit().clear_received();
        c.first.skip_first = 3;
        unit().set_fault(ids.write, c.first);
        TempFile file("datafail.db", pattern(500, 0x02));
        std::string log;
        EXPECT_EQ(upload(file.path(), nullptr, &log), UPLOAD_DATA_ACK_FAILED);
        EXPECT_NE(log.find(c.second), std::string::npos) << log;
        EXPECT_TRUE(contains_line(
            log, "send_airport_db: Incomplete (192 / 500 bytes); not sending open command"));
        EXPECT_EQ(write_count(), 4u);
        EXPECT_EQ(db_ops(), Bytes{AIRPORT_DB_OP_CLOSE});
        unit().clear_faults();
    }
}

TEST_P(AirportDbUpload, LinkLostDuringDataStopsAtThatPacket) {
    TempFile file("vanish.db", pattern(500, 0x02));
    ProgressRecorder progress;
    progress.vanish_at_written = 128;  // gone once packets 0 and 1 are acknowledged
    std::string log;
    EXPECT_EQ(upload(file.path(), &progress, &log), UPLOAD_DATA_SEND_FAILED);
    EXPECT_TRUE(contains_line(log, "send_airport_db: Failed to send packet 2")) << log;
    EXPECT_TRUE(contains_line(
        log, "send_airport_db: Incomplete (128 / 500 bytes); not sending open command"));
    EXPECT_EQ(write_count(), 2u);
}

TEST_P(AirportDbUpload, LinkLostAwaitingAcknowledgementStopsAtThatPacket) {
    // Output reports up to data packet 2: close, one erase, address, packets 0 to 2.
    emu_hid::vanish_after(6);
    TempFile file("vanish_ack.db", pattern(500, 0x02));
    std::string log;
    EXPECT_EQ(upload(file.path(), nullptr, &log), UPLOAD_DATA_ACK_FAILED);
    EXPECT_TRUE(contains_line(log, "send_airport_db: MX25 ACK failed at packet 2")) << log;
    EXPECT_TRUE(contains_line(
        log, "send_airport_db: Incomplete (128 / 500 bytes); not sending open command"));
}

TEST_P(AirportDbUpload, CancelStopsBetweenPackets) {
    TempFile file("cancel.db", pattern(1000, 0x02));
    ProgressRecorder progress;
    progress.cancel_at_phase = 1;
    progress.cancel_at_current = 128;
    std::string log;
    EXPECT_EQ(upload(file.path(), &progress, &log), UPLOAD_CANCELLED);
    EXPECT_NE(log.find("send_airport_db: Cancelled after 2 packets\n"
                       "send_airport_db: Incomplete (128 / 1000 bytes); not sending open "
                       "command\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(write_count(), 2u);
    EXPECT_EQ(db_ops(), Bytes{AIRPORT_DB_OP_CLOSE});
}

TEST_P(AirportDbUpload, FailedOpenCommandIsReported) {
    TempFile file("open.db", pattern(100, 0x02));
    ProgressRecorder progress;
    progress.vanish_at_written = 100;  // gone once the last packet is acknowledged
    std::string log;
    EXPECT_EQ(upload(file.path(), &progress, &log), UPLOAD_DB_OPEN_FAILED);
    EXPECT_EQ(unit().flash_read(0, 100), pattern(100, 0x02));
    EXPECT_TRUE(contains_line(log, "send_airport_db: Complete (100 bytes, 2 packets)")) << log;
    EXPECT_NE(log.find("send_airport_db_op: write failed (op=0xDA, ret=-1)\n"
                       "send_airport_db: warning: open DB command failed; device may need a "
                       "reconnect\n"),
              std::string::npos)
        << log;
}

// An answer sent twice stays on the link; the next request drops it instead of taking it for
// its own (a close ACK taken for the erase's would fail the erase).
TEST_P(AirportDbUpload, RepeatedAnswerIsDroppedBeforeTheNextRequest) {
    struct Case {
        const char* name;
        uint32_t request;
        emu::AnswerKind kind;
        uint32_t skip_first;
        const char* next_line;  // the line of the request that drops it
    };
    const Case cases[] = {
        {"CloseAck", ids.airport_db_op, emu::AnswerKind::CommandAck, 0,
         "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=0)"},
        {"LastPacketAck", ids.write, emu::AnswerKind::FlashAck, 1, "send_airport_db_op: sent 0xDA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unit().clear_faults();
        emu::Fault twice;
        twice.answer = c.kind;
        twice.repeat = 1;
        twice.skip_first = c.skip_first;
        twice.times = 1;
        unit().set_fault(c.request, twice);
        TempFile file("repeat.db", pattern(100, 0x0D));
        std::string log;
        EXPECT_EQ(upload(file.path(), nullptr, &log), UPLOAD_OK) << log;
        EXPECT_EQ(unit().flash_read(0, 100), pattern(100, 0x0D));
        EXPECT_NE(log.find(std::string("Dropped 1 stale frame(s) before the request\n") +
                           c.next_line + "\n"),
                  std::string::npos)
            << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, AirportDbUpload, testing::Values(kCurrent, kLegacy),
                         gen_name);

}  // namespace
}  // namespace flash_test
