// Firmware image upload into a bank of the emulated unit's flash, both generations.
#include <gtest/gtest.h>

#include "flash_test_support.h"

namespace flash_test {
namespace {

constexpr uint32_t kBank1 = 0x03400000;
constexpr uint32_t kBank2 = 0x03800000;

std::vector<uint32_t> block_range(uint32_t first, uint32_t count) {
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < count; ++i) {
        v.push_back(first + i);
    }
    return v;
}

class FirmwareUpload : public FlashFixture {
protected:
    upload_result_t upload(const TempFile& file, ProgressRecorder* progress = nullptr,
                           std::string* log = nullptr) {
        upload_result_t result = UPLOAD_OK;
        const std::string out = logged([&] {
            result = send_fw(comms.get(), file.path(),
                             progress != nullptr ? &ProgressRecorder::callback : nullptr, progress,
                             progress != nullptr ? &progress->cancel : nullptr);
        });
        if (log != nullptr) {
            *log = out;
        }
        return result;
    }
    size_t write_count() const { return received_on(ids.write).size(); }
};

struct BankCase {
    const char* name;
    uint32_t answer;
    uint32_t address;
    uint32_t first_block;
    const char* using_line;
};

TEST_P(FirmwareUpload, ImageLandsInTheNamedBank) {
    const BankCase banks[] = {
        {"Bank1", partition_1, kBank1, 832,
         "send_fw: Using partition_1 (BANK1), starting at page 832"},
        {"Bank2", partition_2, kBank2, 896,
         "send_fw: Using partition_2 (BANK2), starting at page 896"},
    };
    for (const auto& b : banks) {
        SCOPED_TRACE(b.name);
        restart(b.answer);
        // 1000 data bytes: 15 full packets and one of 40; the file holds bytes beyond them.
        const Bytes data = pattern(1100, 0x21);
        const Bytes file_bytes = image(2 * 65536, 1000, data);
        TempFile file("bank.bin", file_bytes);
        ProgressRecorder progress;
        std::string log;
        EXPECT_EQ(upload(file, &progress, &log), UPLOAD_OK) << log;

        EXPECT_EQ(unit().erased_blocks(), block_range(b.first_block, 2));
        const Bytes expected(file_bytes.begin(), file_bytes.begin() + 64 + 1000);
        EXPECT_EQ(unit().flash_read(b.address, 64 + 1000), expected);
        // The last packet of 40 bytes travels as 48; nothing behind it is touched.
        EXPECT_EQ(unit().flash_read(b.address + 64 + 1008, 200), Bytes(200, 0xFF));

        EXPECT_TRUE(contains_line(log, b.using_line)) << log;
        char line[160];
        std::snprintf(line, sizeof(line),
                      "send_fw: Firmware size: 131072 bytes, will erase 2 blocks (pages %u to %u)",
                      b.first_block, b.first_block + 1);
        EXPECT_TRUE(contains_line(log, line)) << log;
        std::snprintf(line, sizeof(line), "send_fw: Setting MX25 address to 0x%08X for header",
                      b.address);
        EXPECT_TRUE(contains_line(log, line));
        std::snprintf(line, sizeof(line),
                      "send_fw: Firmware header written successfully (address=0x%08X)", b.address);
        EXPECT_TRUE(contains_line(log, line)) << log;
        EXPECT_TRUE(
            contains_line(log,
                          "send_fw: Read firmware header (total_size=131072, plaintext_size=1000, "
                          "encrypted_size=1000, offset=0x00000040)"));
        EXPECT_TRUE(contains_line(log, "send_fw: Encrypted data size: 1000 bytes (0x000003E8)"));
        EXPECT_TRUE(contains_line(
            log, "send_fw: Firmware transmission completed successfully (1000 bytes, 16 packets)"));

        const auto erase = progress.of_phase(0);
        ASSERT_EQ(erase.size(), 2u);
        EXPECT_EQ(erase[0], (ProgressCall{1, 2, 0}));
        EXPECT_EQ(erase[1], (ProgressCall{2, 2, 0}));
        const auto write = progress.of_phase(1);
        ASSERT_EQ(write.size(), 16u);
        EXPECT_EQ(write.front(), (ProgressCall{64, 1000, 1}));
        EXPECT_EQ(write.back(), (ProgressCall{1000, 1000, 1}));

        // Header first as one 64-byte write, then the data; the last packet of 40 bytes goes
        // out with length code 14 and zeros behind the data.
        const auto writes = received_on(ids.write);
        ASSERT_EQ(writes.size(), 17u);
        EXPECT_EQ(writes[0].msg_len, CAN_64_BYTES);
        EXPECT_EQ(0, std::memcmp(writes[0].data, file_bytes.data(), 64));
        EXPECT_EQ(writes[16].msg_len, 14);
        EXPECT_EQ(Bytes(writes[16].data + 40, writes[16].data + 48), Bytes(8, 0));
        ASSERT_EQ(received_on(ids.set_addr).size(), 1u);
    }
}

TEST_P(FirmwareUpload, LastPacketOfTenBytesUsesLengthCode9) {
    const Bytes file_bytes = image(65536, 74, pattern(74, 0x90));
    TempFile file("ten.bin", file_bytes);
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_OK) << log;
    const auto reports = emu_hid::output_reports();
    ASSERT_FALSE(reports.empty());
    Bytes payload(file_bytes.end() - 10, file_bytes.end());
    payload.push_back(0);
    payload.push_back(0);
    EXPECT_EQ(reports.back(), output_report(ids.write, 9, payload));
    EXPECT_EQ(unit().flash_read(kBank1, 64 + 74), file_bytes);
}

TEST_P(FirmwareUpload, WholeBankIsAcceptedOneByteMoreIsRefused) {
    TempFile fits("fits.bin", image(4194304, 100, pattern(100, 3)));
    std::string log;
    EXPECT_EQ(upload(fits, nullptr, &log), UPLOAD_OK) << log;
    EXPECT_EQ(unit().erased_blocks(), block_range(832, 64));
    EXPECT_TRUE(contains_line(
        log, "send_fw: Firmware size: 4194304 bytes, will erase 64 blocks (pages 832 to 895)"));

    unit().clear_received();
    TempFile too_big("too_big.bin", image(4194305, 100, pattern(100, 3)));
    const size_t erased_before = unit().erased_blocks().size();
    EXPECT_EQ(upload(too_big, nullptr, &log), UPLOAD_TOO_LARGE);
    EXPECT_TRUE(contains_line(log,
                              "send_fw: Error: Firmware too large for partition (65 blocks "
                              "needed, but partition only has 64 blocks)"))
        << log;
    EXPECT_EQ(unit().erased_blocks().size(), erased_before);
    EXPECT_EQ(unit().received().size(), 1u) << "only the partition query may be sent";
    EXPECT_EQ(received_on(ids.get_partition).size(), 1u);
}

TEST_P(FirmwareUpload, HugeTotalSizeIsRefusedWithoutOverflow) {
    TempFile file("huge.bin", image(0xFFFFFFFF, 100, pattern(100, 3)));
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_TOO_LARGE);
    EXPECT_TRUE(contains_line(log,
                              "send_fw: Error: Firmware too large for partition (65536 blocks "
                              "needed, but partition only has 64 blocks)"))
        << log;
    EXPECT_TRUE(unit().erased_blocks().empty());
}

// The header and the data must fit in the blocks erased for them.
TEST_P(FirmwareUpload, ImageThatOverrunsTheErasedBlocksIsRefused) {
    struct Case {
        uint32_t total_size;
        uint32_t encrypted_size;
        const char* line;
    };
    const Case cases[] = {
        {65536, 65473, "send_fw: Error: Image (64 + 65473 bytes) does not fit the 1 erased blocks"},
        {0, 0, "send_fw: Error: Image (64 + 0 bytes) does not fit the 0 erased blocks"},
        {4194304, 4194304 - 63,
         "send_fw: Error: Image (64 + 4194241 bytes) does not fit the 64 erased blocks"},
        {65536, 0xFFFFFFFF,
         "send_fw: Error: Image (64 + 4294967295 bytes) does not fit the 1 erased blocks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        unit().clear_received();
        TempFile file("overrun.bin", image(c.total_size, c.encrypted_size, pattern(64, 1)));
        std::string log;
        EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_TOO_LARGE);
        EXPECT_TRUE(contains_line(log, c.line)) << log;
        EXPECT_TRUE(unit().erased_blocks().empty());
        EXPECT_EQ(unit().received().size(), 1u);
    }
}

TEST_P(FirmwareUpload, ImageFillingItsBlocksExactlyIsSent) {
    const Bytes file_bytes = image(65536, 65536 - 64, pattern(65536 - 64, 0x55));
    TempFile file("exact.bin", file_bytes);
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_OK) << log;
    EXPECT_EQ(unit().erased_blocks(), std::vector<uint32_t>{832});
    EXPECT_EQ(unit().flash_read(kBank1, 65536), file_bytes);
    EXPECT_TRUE(contains_line(log, "send_fw: Progress: 6400/65472 bytes (9.8%)")) << log;
    EXPECT_TRUE(contains_line(log, "send_fw: Progress: 64000/65472 bytes (97.8%)"));
    EXPECT_TRUE(contains_line(
        log, "send_fw: Firmware transmission completed successfully (65472 bytes, 1023 packets)"));
}

TEST_P(FirmwareUpload, HeaderOnlyImage) {
    const Bytes file_bytes = image(64, 0, {});
    TempFile file("empty_data.bin", file_bytes);
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_OK) << log;
    EXPECT_EQ(write_count(), 1u);
    EXPECT_EQ(unit().flash_read(kBank1, 64), file_bytes);
    EXPECT_TRUE(contains_line(
        log, "send_fw: Firmware transmission completed successfully (0 bytes, 0 packets)"));
}

TEST_P(FirmwareUpload, FileShorterThanHeaderSendsNothingToTheFlash) {
    TempFile file("short.bin", pattern(40, 9));
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_HEADER_READ_FAILED);
    EXPECT_NE(
        log.find(std::string("send_fw: Failed to read firmware header from ") + file.path() + ": "),
        std::string::npos)
        << log;
    EXPECT_EQ(unit().received().size(), 1u);
    EXPECT_TRUE(unit().erased_blocks().empty());
}

TEST_P(FirmwareUpload, FileEndingBeforeItsDataIsIncomplete) {
    // 100 bytes on file: the header and 36 of the 200 data bytes it announces.
    const Bytes file_bytes = image(65536, 200, pattern(36, 0x44));
    ASSERT_EQ(file_bytes.size(), 100u);
    TempFile file("truncated.bin", file_bytes);
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_FILE_TRUNCATED);
    const auto writes = received_on(ids.write);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].msg_len, 14);
    EXPECT_EQ(Bytes(writes[1].data, writes[1].data + 36),
              Bytes(file_bytes.begin() + 64, file_bytes.end()));
    EXPECT_EQ(Bytes(writes[1].data + 36, writes[1].data + 48), Bytes(12, 0));
    EXPECT_NE(
        log.find("send_fw: Reached end of file\n"
                 "send_fw: Firmware transmission incomplete (36/200 bytes sent, 1 packets)\n"),
        std::string::npos)
        << log;
}

TEST_P(FirmwareUpload, NoUsableBankErasesNothing) {
    for (uint32_t answer : {uint32_t{partition_none}, uint32_t{partition_debug}}) {
        SCOPED_TRACE(answer);
        unit().set_partition_answer(answer);
        TempFile file("nobank.bin", image(65536, 10, pattern(10, 1)));
        std::string log;
        EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_NO_PARTITION);
        EXPECT_TRUE(
            contains_line(log, "send_fw: Invalid partition (partition_none), cannot proceed"))
            << log;
        EXPECT_TRUE(unit().erased_blocks().empty());
        EXPECT_TRUE(received_on(ids.erase).empty());
    }
}

TEST_P(FirmwareUpload, RefusedBeforeTheUnitIsAsked) {
    std::string log;
    upload_result_t r = UPLOAD_OK;
    log = logged([&] { r = send_fw(comms.get(), nullptr, nullptr, nullptr); });
    EXPECT_EQ(r, UPLOAD_INVALID_PATH);
    EXPECT_EQ(log, "send_fw: Invalid encrypted file path\n");
    CommsManager idle;
    log = logged([&] { r = send_fw(&idle, "/nonexistent", nullptr, nullptr); });
    EXPECT_EQ(r, UPLOAD_NOT_CONNECTED);
    EXPECT_EQ(log, "send_fw: CommsManager not connected\n");
    EXPECT_TRUE(unit().received().empty());

    log = logged([&] { r = send_fw(comms.get(), "/nonexistent/fw.bin", nullptr, nullptr); });
    EXPECT_EQ(r, UPLOAD_FILE_OPEN_FAILED);
    EXPECT_TRUE(contains_line(
        log, "send_fw: Failed to open file /nonexistent/fw.bin: No such file or directory"))
        << log;
    EXPECT_TRUE(unit().erased_blocks().empty());
}

// A failed erase must stop before the address is set or any byte is written: writing into
// unerased NOR flash corrupts it.
TEST_P(FirmwareUpload, FailedEraseStopsBeforeAnyWrite) {
    const Bytes old_content = pattern(3 * 65536, 0x77);
    unit().flash_fill(kBank1, old_content);
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    refuse.skip_first = 1;
    unit().set_fault(ids.erase, refuse);
    TempFile file("erasefail.bin", image(3 * 65536, 1000, pattern(1000, 2)));
    ProgressRecorder progress;
    std::string log;
    EXPECT_EQ(upload(file, &progress, &log), UPLOAD_ERASE_FAILED);
    EXPECT_TRUE(contains_line(
        log, "send_fw: Erase of block 833 failed; stopping before any data is written"))
        << log;
    EXPECT_EQ(received_on(ids.erase).size(), 2u) << "no erase after the failed one";
    EXPECT_TRUE(received_on(ids.set_addr).empty());
    EXPECT_EQ(write_count(), 0u);
    EXPECT_EQ(unit().flash_read(kBank1 + 65536, 2 * 65536),
              Bytes(old_content.begin() + 65536, old_content.end()));
    EXPECT_EQ(progress.calls, (std::vector<ProgressCall>{{1, 3, 0}}));
}

TEST_P(FirmwareUpload, FailedSetAddressStopsBeforeAnyWrite) {
    emu::Fault wrong;
    wrong.answer = emu::AnswerKind::FlashAck;
    wrong.wrong_address = true;
    unit().set_fault(ids.set_addr, wrong);
    TempFile file("addrfail.bin", image(65536, 100, pattern(100, 2)));
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_SET_ADDRESS_FAILED);
    EXPECT_TRUE(contains_line(
        log, "send_fw: Setting address 0x03400000 failed; stopping before any data is written"))
        << log;
    EXPECT_EQ(write_count(), 0u);
    EXPECT_EQ(unit().flash_read(kBank1, 64), Bytes(64, 0xFF));
}

TEST_P(FirmwareUpload, HeaderWriteFailures) {
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    emu::Fault wrong_op;
    wrong_op.answer = emu::AnswerKind::FlashAck;
    wrong_op.wrong_op_code = true;
    const std::pair<emu::Fault, const char*> cases[] = {
        {refuse, "send_fw: Header write acknowledgment failed"},
        {wrong_op, "send_fw: Header write op type mismatch (expected=OP_WRITE/0xAA, got="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        unit().clear_received();
        unit().set_fault(ids.write, c.first);
        TempFile file("hdrfail.bin", image(65536, 100, pattern(100, 2)));
        std::string log;
        EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_HEADER_WRITE_FAILED);
        EXPECT_NE(log.find(c.second), std::string::npos) << log;
        EXPECT_EQ(write_count(), 1u);
        EXPECT_EQ(log.find("send_fw: Starting firmware data transmission..."), std::string::npos);
    }
}

// Every failure of a data packet's acknowledgement stops the upload at that packet.
struct DataFault {
    const char* name;
    emu::Fault fault;
    const char* line;  // prefix of the line naming the failure
    upload_result_t result;
};

std::vector<DataFault> data_faults(const char* ack_failed, const char* op_mismatch) {
    emu::Fault refuse;
    refuse.answer = emu::AnswerKind::FlashAck;
    refuse.refuse = true;
    emu::Fault wrong_op;
    wrong_op.answer = emu::AnswerKind::FlashAck;
    wrong_op.wrong_op_code = true;
    emu::Fault silent;
    silent.answer = emu::AnswerKind::FlashAck;
    silent.no_answer = true;
    emu::Fault bad_status;
    bad_status.answer = emu::AnswerKind::FlashAck;
    bad_status.wrong_status = true;
    return {{"Refused", refuse, ack_failed, UPLOAD_DATA_ACK_FAILED},
            {"WrongOp", wrong_op, op_mismatch, UPLOAD_DATA_ACK_FAILED},
            {"Silent", silent, ack_failed, UPLOAD_DATA_ACK_FAILED},
            {"BadStatus", bad_status, ack_failed, UPLOAD_DATA_ACK_FAILED}};
}

TEST_P(FirmwareUpload, DataAcknowledgementFailureStopsAtThatPacket) {
    const uint32_t k = 2;
    for (auto c : data_faults("send_fw: MX25 write acknowledgment failed at packet 2",
                              "send_fw: Op type mismatch in response (expected=OP_WRITE/0xAA, "
                              "got=")) {
        if (ids.generation == emu::Generation::Legacy && std::string(c.name) == "BadStatus") {
            continue;  // the legacy flash acknowledgement carries no status byte
        }
        SCOPED_TRACE(c.name);
        unit().clear_received();
        c.fault.skip_first = 1 + k;  // the header is the first write
        unit().set_fault(ids.write, c.fault);
        TempFile file("datafail.bin", image(65536, 300, pattern(300, 5)));
        ProgressRecorder progress;
        std::string log;
        EXPECT_EQ(upload(file, &progress, &log), c.result);
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_TRUE(contains_line(
            log, "send_fw: Firmware transmission incomplete (128/300 bytes sent, 2 packets)"))
            << log;
        EXPECT_EQ(write_count(), 1 + k + 1) << "nothing is sent after the failing packet";
        EXPECT_EQ(progress.of_phase(1).size(), k);
        unit().clear_faults();
    }
}

TEST_P(FirmwareUpload, LinkLostDuringDataStopsAtThatPacket) {
    TempFile file("vanish.bin", image(65536, 300, pattern(300, 5)));
    ProgressRecorder progress;
    progress.vanish_at_written = 128;  // gone once packets 0 and 1 are acknowledged
    std::string log;
    EXPECT_EQ(upload(file, &progress, &log), UPLOAD_DATA_SEND_FAILED);
    EXPECT_TRUE(contains_line(log, "send_fw: Failed to send firmware data packet 2")) << log;
    EXPECT_TRUE(contains_line(
        log, "send_fw: Firmware transmission incomplete (128/300 bytes sent, 2 packets)"));
    EXPECT_EQ(write_count(), 3u);
}

TEST_P(FirmwareUpload, LinkLostAwaitingAcknowledgementStopsAtThatPacket) {
    // Output reports up to data packet 2: query, one erase, address, header, packets 0 to 2.
    emu_hid::vanish_after(7);
    TempFile file("vanish_ack.bin", image(65536, 300, pattern(300, 5)));
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_DATA_ACK_FAILED);
    EXPECT_TRUE(contains_line(log, "send_fw: MX25 write acknowledgment failed at packet 2")) << log;
    EXPECT_TRUE(contains_line(
        log, "send_fw: Firmware transmission incomplete (128/300 bytes sent, 2 packets)"));
}

TEST_P(FirmwareUpload, CancelStopsBetweenPackets) {
    TempFile file("cancel.bin", image(65536, 640, pattern(640, 5)));
    ProgressRecorder progress;
    progress.cancel_at_phase = 1;
    progress.cancel_at_current = 3 * 64;
    std::string log;
    EXPECT_EQ(upload(file, &progress, &log), UPLOAD_CANCELLED);
    EXPECT_NE(
        log.find("send_fw: Cancelled after 3 packets\n"
                 "send_fw: Firmware transmission incomplete (192/640 bytes sent, 3 packets)\n"),
        std::string::npos)
        << log;
    EXPECT_EQ(write_count(), 1u + 3u);
}

TEST_P(FirmwareUpload, CancelDuringEraseWritesNothing) {
    TempFile file("cancel_erase.bin", image(3 * 65536, 640, pattern(640, 5)));
    ProgressRecorder progress;
    progress.cancel_at_phase = 0;
    progress.cancel_at_current = 1;
    std::string log;
    EXPECT_EQ(upload(file, &progress, &log), UPLOAD_CANCELLED);
    EXPECT_TRUE(
        contains_line(log, "send_fw: Cancelled after erasing 1 of 3 blocks; nothing written"))
        << log;
    EXPECT_EQ(unit().erased_blocks(), std::vector<uint32_t>{832});
    EXPECT_TRUE(received_on(ids.set_addr).empty());
    EXPECT_EQ(write_count(), 0u);
}

// A CAN FD bus also carries the other nodes' frames; the unit takes a moment to name its bank.
TEST_P(FirmwareUpload, ImageLandsAmidBackgroundTraffic) {
    emu::Fault slow;
    slow.answer = emu::AnswerKind::FlashAck;
    slow.delay_ms = 5;
    unit().set_fault(ids.get_partition, slow);
    emu_hid::set_latency_us(200);
    emu_hid::set_background_traffic(1000, 0x100);
    const Bytes file_bytes = image(65536, 1000, pattern(1000, 0x3C));
    TempFile file("busy.bin", file_bytes);
    std::string log;
    EXPECT_EQ(upload(file, nullptr, &log), UPLOAD_OK) << log;
    emu_hid::set_background_traffic(0, 0);
    EXPECT_EQ(unit().flash_read(kBank1, 64 + 1000), file_bytes);
}

INSTANTIATE_TEST_SUITE_P(Generations, FirmwareUpload, testing::Values(kCurrent, kLegacy), gen_name);

// A legacy unit that answers only the legacy identification request: the whole upload
// after the full handshake that records version 0.0.0.
TEST(FirmwareUploadLegacyOnly, ImageLandsInBank) {
    emu_hid::reset();
    emu_hid::unit().set_generation(emu::Generation::Legacy);
    emu_hid::unit().set_answers_current_whoami(false);
    CommsManager comms;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(comms.establish_connection());
    EXPECT_FALSE(device_firmware_at_least_0_2_12());
    const Bytes file_bytes = image(65536, 130, pattern(130, 0x31));
    TempFile file("legacy_only.bin", file_bytes);
    EXPECT_EQ(send_fw(&comms, file.path(), nullptr, nullptr), UPLOAD_OK);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(emu_hid::unit().flash_read(kBank1, 64 + 130), file_bytes) << log;
    EXPECT_EQ(emu_hid::unit().erased_blocks(), std::vector<uint32_t>{832});
    reset_whoami_fwversion_cache();
}

}  // namespace
}  // namespace flash_test
