#include "firmware_ops/firmware_ops.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "EFIS_shared/comms_types.h"
#include "comms/can_msg_ids.h"
#include "comms/comms.h"
#include "firmware_ops/packet_pause.h"

namespace {

constexpr uint32_t kChunkSize = MX25_MAX_WRITE;
constexpr uint32_t kHeaderSize = sizeof(firmware_header_t);
constexpr int64_t kPacketPauseNs = 100000;
constexpr useconds_t kCloseAckPauseUs = 10000;
constexpr uint32_t kProgressLogEvery = 100;
constexpr uint64_t kAirportDbMaxBytes =
    static_cast<uint64_t>(AIRPORT_DB_NUM_BLOCKS) * MX25_BLOCK_SIZE;

COMMS_MSG_t new_frame(uint32_t can_id, CAN_MSG_LEN_t len) {
    COMMS_MSG_t frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.can_ID = can_id;
    frame.msg_len = len;
    return frame;
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_le32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint64_t blocks_for(uint64_t bytes) {
    return (bytes + MX25_BLOCK_SIZE - 1) / MX25_BLOCK_SIZE;
}

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load();
}

// One write-data request: the unit places the bytes at its write address and advances it.
int write_data_packet(CommsManager* comms, const uint8_t* bytes, uint32_t n) {
    COMMS_MSG_t frame =
        new_frame(canmsg_write_mx25(), can_msg_len_from_payload(static_cast<uint8_t>(n)));
    std::memcpy(frame.data, bytes, n);
    drain_stale_frames(comms);
    return comms->write(frame);
}

bool send_airport_db_op(CommsManager* comms, uint8_t op_byte) {
    COMMS_MSG_t frame = new_frame(canmsg_airport_db_op(), CAN_1_BYTES);
    frame.data[0] = op_byte;
    drain_stale_frames(comms);
    const int ret = comms->write(frame);
    if (ret > 0) {
        printf("send_airport_db_op: sent 0x%02X\n", unsigned{op_byte});
        return true;
    }
    printf("send_airport_db_op: write failed (op=0x%02X, ret=%d)\n", unsigned{op_byte}, ret);
    return false;
}

// The log texts of one upload's data stream; `progress` is null when no progress is logged.
struct StreamTexts {
    const char* end_of_file;
    const char* read_error;
    const char* send_failed;
    const char* ack_failed;
    const char* op_mismatch;
    const char* cancelled;
    const char* progress;
};

struct StreamState {
    uint32_t total_bytes_sent = 0;
    uint32_t packet_count = 0;
};

// Streams `due` bytes from the file's current position in 64-byte write requests, each
// acknowledged before the next; stops at the first failure.
upload_result_t stream_data(CommsManager* comms, FILE* file, uint32_t due, const StreamTexts& texts,
                            fw_progress_callback_t progress_cb, void* user_data,
                            const std::atomic<bool>* cancel, StreamState* state) {
    uint8_t buffer[kChunkSize];
    while (state->total_bytes_sent < due) {
        if (cancelled(cancel)) {
            printf(texts.cancelled, state->packet_count);
            return UPLOAD_CANCELLED;
        }
        const uint32_t remaining = due - state->total_bytes_sent;
        const uint32_t bytes_to_read = remaining < kChunkSize ? remaining : kChunkSize;
        std::memset(buffer, 0, sizeof(buffer));
        const size_t bytes_read = fread(buffer, 1, bytes_to_read, file);
        if (bytes_read == 0) {
            if (feof(file)) {
                puts(texts.end_of_file);
                return UPLOAD_FILE_TRUNCATED;
            }
            printf(texts.read_error, strerror(errno));
            return UPLOAD_FILE_READ_FAILED;
        }
        const uint32_t n = static_cast<uint32_t>(bytes_read);
        if (write_data_packet(comms, buffer, n) < 1) {
            printf(texts.send_failed, state->packet_count);
            return UPLOAD_DATA_SEND_FAILED;
        }
        uint8_t op = OP_NONE;
        uint32_t address = 0;
        if (!wait_for_mx25_ack(comms, &op, &address)) {
            printf(texts.ack_failed, state->packet_count);
            return UPLOAD_DATA_ACK_FAILED;
        }
        const int64_t ack_ns = monotonic_ns();
        if (op != OP_WRITE) {
            printf(texts.op_mismatch, unsigned{OP_WRITE}, unsigned{op});
            return UPLOAD_DATA_ACK_FAILED;
        }
        state->total_bytes_sent += n;
        state->packet_count++;
        if (progress_cb != nullptr) {
            progress_cb(state->total_bytes_sent, due, 1, user_data);
        }
        if (texts.progress != nullptr && state->packet_count % kProgressLogEvery == 0) {
            const float percent =
                100.0f * static_cast<float>(state->total_bytes_sent) / static_cast<float>(due);
            printf(texts.progress, state->total_bytes_sent, due, static_cast<double>(percent));
        }
        pause_after_ack(ack_ns, kPacketPauseNs);
    }
    return UPLOAD_OK;
}

const StreamTexts kFirmwareTexts = {
    "send_fw: Reached end of file",
    "send_fw: Error reading file: %s\n",
    "send_fw: Failed to send firmware data packet %u\n",
    "send_fw: MX25 write acknowledgment failed at packet %u\n",
    "send_fw: Op type mismatch in response (expected=OP_WRITE/0x%02X, got=0x%02X)\n",
    "send_fw: Cancelled after %u packets\n",
    "send_fw: Progress: %u/%u bytes (%.1f%%)\n",
};

const StreamTexts kAirportDbTexts = {
    "send_airport_db: Unexpected EOF",
    "send_airport_db: fread error: %s\n",
    "send_airport_db: Failed to send packet %u\n",
    "send_airport_db: MX25 ACK failed at packet %u\n",
    "send_airport_db: Op type mismatch (expected OP_WRITE 0x%02X, got 0x%02X)\n",
    "send_airport_db: Cancelled after %u packets\n",
    nullptr,
};

// Writes the 64-byte image header as the first write of the bank.
bool write_firmware_header(CommsManager* comms, const firmware_header_t& header) {
    uint8_t bytes[kHeaderSize];
    std::memcpy(bytes, &header, sizeof(bytes));
    if (write_data_packet(comms, bytes, kHeaderSize) < 1) {
        puts("send_fw: Failed to send firmware header");
        return false;
    }
    uint8_t op = OP_NONE;
    uint32_t address = 0;
    if (!wait_for_mx25_ack(comms, &op, &address)) {
        puts("send_fw: Header write acknowledgment failed");
        return false;
    }
    if (op != OP_WRITE) {
        printf("send_fw: Header write op type mismatch (expected=OP_WRITE/0x%02X, got=0x%02X)\n",
               unsigned{OP_WRITE}, unsigned{op});
        return false;
    }
    printf("send_fw: Firmware header written successfully (address=0x%08X)\n", address);
    return true;
}

}  // namespace

const char* upload_result_text(upload_result_t result) {
    switch (result) {
    case UPLOAD_OK:
        return "the transfer completed";
    case UPLOAD_NOT_CONNECTED:
        return "no unit is connected";
    case UPLOAD_INVALID_PATH:
        return "no file was given";
    case UPLOAD_NO_PARTITION:
        return "the unit named no valid firmware bank";
    case UPLOAD_FILE_OPEN_FAILED:
        return "the file could not be opened";
    case UPLOAD_FILE_SIZE_FAILED:
        return "the size of the file could not be determined";
    case UPLOAD_FILE_EMPTY:
        return "the file is empty";
    case UPLOAD_HEADER_READ_FAILED:
        return "the firmware file is too short to hold an image header";
    case UPLOAD_TOO_LARGE:
        return "the file does not fit its flash area";
    case UPLOAD_DB_CLOSE_FAILED:
        return "the unit did not confirm closing its airport database";
    case UPLOAD_ERASE_FAILED:
        return "the unit did not confirm erasing its flash";
    case UPLOAD_SET_ADDRESS_FAILED:
        return "the unit did not confirm the flash write address";
    case UPLOAD_HEADER_WRITE_FAILED:
        return "the unit did not acknowledge the firmware header";
    case UPLOAD_DATA_SEND_FAILED:
        return "a data packet could not be sent to the unit";
    case UPLOAD_DATA_ACK_FAILED:
        return "the unit did not acknowledge a data packet";
    case UPLOAD_FILE_READ_FAILED:
        return "the file could not be read";
    case UPLOAD_FILE_TRUNCATED:
        return "the file ended before all of its data was sent";
    case UPLOAD_CANCELLED:
        return "the transfer was cancelled";
    case UPLOAD_DB_OPEN_FAILED:
        return "the data was written but the unit was not told to reopen its airport "
               "database";
    }
    return "unknown failure";
}

bool mx25_erase(CommsManager* comms, FlashOpType op_type, uint16_t block_or_sector,
                fw_progress_callback_t progress_cb, void* user_data, uint32_t current_block,
                uint32_t total_blocks) {
    if (comms == nullptr || !comms->isConnected()) {
        puts("mx25_erase: CommsManager not connected");
        return false;
    }
    const uint32_t erase_id = canmsg_erase_mx25();
    COMMS_MSG_t frame = new_frame(erase_id, CAN_3_BYTES);
    frame.data[0] = op_type;
    frame.data[1] = static_cast<uint8_t>(block_or_sector);
    frame.data[2] = static_cast<uint8_t>(block_or_sector >> 8);
    drain_stale_frames(comms);
    if (comms->write(frame) < 1) {
        puts("mx25_erase: Failed to send erase command");
        return false;
    }
    printf("mx25_erase: Successfully sent erase command (op_type=0x%02X, block/sector=%d)\n",
           unsigned{op_type}, int{block_or_sector});

    if (!wait_for_ack(comms, erase_id)) {
        puts("mx25_erase: ACK validation failed");
        return false;
    }
    puts("mx25_erase: ACK received, erase command acknowledged");

    uint8_t op = OP_NONE;
    uint32_t address = 0;
    if (!wait_for_mx25_ack(comms, &op, &address)) {
        puts("mx25_erase: Erase operation failed or timeout");
        return false;
    }
    if (op != op_type) {
        printf("mx25_erase: Op type mismatch in response (expected=0x%02X, got=0x%02X)\n",
               unsigned{op_type}, unsigned{op});
        return false;
    }
    uint32_t expected = 0;
    if (op_type == OP_SECTOR_ERASE) {
        expected = uint32_t{block_or_sector} * MX25_SECTOR_SIZE;
    } else if (op_type == OP_BLOCK_ERASE) {
        expected = uint32_t{block_or_sector} * MX25_BLOCK_SIZE;
    }
    if (op_type != OP_CHIP_ERASE && address != expected) {
        printf("mx25_erase: Address mismatch (expected=0x%08X, got=0x%08X)\n", expected, address);
        return false;
    }
    printf("mx25_erase: Erase completed successfully (address=0x%08X)\n", address);
    if (progress_cb != nullptr) {
        progress_cb(current_block + 1, total_blocks, 0, user_data);
    }
    return true;
}

bool set_mx25_addr(CommsManager* comms, uint32_t address) {
    if (comms == nullptr || !comms->isConnected()) {
        puts("set_mx25_addr: CommsManager not connected");
        return false;
    }
    COMMS_MSG_t frame = new_frame(canmsg_set_addr_mx25(), CAN_4_BYTES);
    put_le32(frame.data, address);
    drain_stale_frames(comms);
    if (comms->write(frame) < 1) {
        puts("set_mx25_addr: Failed to send address");
        return false;
    }
    printf("set_mx25_addr: Successfully sent address (0x%08X)\n", address);

    uint8_t op = OP_NONE;
    uint32_t acked = 0;
    if (!wait_for_mx25_ack(comms, &op, &acked)) {
        puts("set_mx25_addr: Failed to receive acknowledgment or operation failed");
        return false;
    }
    if (op != OP_SETADDR) {
        printf("set_mx25_addr: Op type mismatch (expected=OP_SETADDR/0x%02X, got=0x%02X)\n",
               unsigned{OP_SETADDR}, unsigned{op});
        return false;
    }
    if (acked != address) {
        printf("set_mx25_addr: Address mismatch (expected=0x%08X, got=0x%08X)\n", address, acked);
        return false;
    }
    printf("set_mx25_addr: Address set successfully (0x%08X)\n", address);
    return true;
}

uint32_t get_mx25_partition(CommsManager* comms) {
    if (comms == nullptr || !comms->isConnected()) {
        puts("get_mx25_partition: CommsManager not connected");
        return partition_none;
    }
    const uint32_t request_id = canmsg_get_partition();
    const COMMS_MSG_t request = new_frame(request_id, CAN_0_BYTES);
    printf("get_mx25_partition: Sending command - CAN_ID=0x%08X, msg_len=0x%02X\n", request_id, 0u);
    drain_stale_frames(comms);
    // A request without payload: the CAN FD link reports its successful send as 0 bytes.
    const int written = comms->write(request);
    if (written < 0) {
        printf("get_mx25_partition: Failed to send get partition command (bytes_written=%d)\n",
               written);
        return partition_none;
    }
    puts("get_mx25_partition: Successfully sent get partition command");

    if (!wait_for_ack(comms, request_id)) {
        puts("get_mx25_partition: ACK validation failed");
        return partition_none;
    }

    // Other traffic on the link may come between the two answers; a frame on the answer's
    // identifier decides, malformed or not.
    const bool unified = device_firmware_at_least_0_2_12();
    const uint32_t ack_id = canmsg_mx25_ack();
    const uint32_t nack_id = canmsg_mx25_nack_wire_id();
    const auto answer = [unified, ack_id, nack_id](const COMMS_MSG_t& f) {
        return f.can_ID == ack_id || (!unified && f.can_ID == nack_id);
    };
    COMMS_MSG_t response;
    std::memset(&response, 0, sizeof(response));
    int got = 0;
    switch (await_frame(comms, answer, &response, &got)) {
    case FRAME_WAIT_FOUND:
        break;
    case FRAME_WAIT_SILENT:
        puts("get_mx25_partition: No response received (timeout or no data).");
        return partition_none;
    case FRAME_WAIT_READ_ERROR:
        printf("get_mx25_partition: Error reading response from device (bytes_read=%d).\n", got);
        return partition_none;
    case FRAME_WAIT_DEADLINE:
        puts("get_mx25_partition: No response before the deadline.");
        return partition_none;
    }
    const uint32_t response_id = response.can_ID;
    const unsigned response_len = response.msg_len;
    if (unified) {
        if (response.msg_len != CAN_6_BYTES) {
            printf(
                "get_mx25_partition: Unexpected response (can_ID=0x%08X, msg_len=0x%02X, "
                "expected MX25 ACK len 6)\n",
                response_id, response_len);
            return partition_none;
        }
        const uint8_t status = response.data[5];
        if (status == NACK) {
            puts("get_mx25_partition: MX25 NACK");
            return partition_none;
        }
        if (status != ACK) {
            printf("get_mx25_partition: invalid MX25 status byte %u (expected 0 or 1)\n",
                   unsigned{status});
            return partition_none;
        }
    } else if (response_id != ack_id || response.msg_len <= CAN_4_BYTES) {
        if (response_id == nack_id) {
            puts("get_mx25_partition: Operation failed (legacy MX25 NACK)");
        } else {
            printf("get_mx25_partition: Unexpected response (can_ID=0x%08X, msg_len=0x%02X)\n",
                   response_id, response_len);
        }
        return partition_none;
    }

    const uint32_t value = le32(response.data + 1);
    if (value != partition_1 && value != partition_2 && value != partition_none) {
        printf("get_mx25_partition: Invalid partition value received (raw=0x%08X)\n", value);
        return partition_none;
    }
    printf("get_mx25_partition: Partition retrieved successfully (partition=0x%02X, raw=0x%08X)\n",
           value, value);
    return value;
}

upload_result_t send_fw(CommsManager* comms, const char* encrypted_bin_file_path,
                        fw_progress_callback_t progress_cb, void* user_data,
                        const std::atomic<bool>* cancel, uint32_t* partition_used) {
    if (comms == nullptr || !comms->isConnected()) {
        puts("send_fw: CommsManager not connected");
        return UPLOAD_NOT_CONNECTED;
    }
    if (encrypted_bin_file_path == nullptr) {
        puts("send_fw: Invalid encrypted file path");
        return UPLOAD_INVALID_PATH;
    }

    puts("send_fw: Getting current MX25 partition...");
    const uint32_t partition = get_mx25_partition(comms);
    uint32_t start_page = 0;
    const char* partition_name = nullptr;
    if (partition == partition_1) {
        start_page = FW_BANK1_START_BLOCK;
        partition_name = "partition_1 (BANK1)";
    } else if (partition == partition_2) {
        start_page = FW_BANK2_START_BLOCK;
        partition_name = "partition_2 (BANK2)";
    } else {
        puts("send_fw: Invalid partition (partition_none), cannot proceed");
        return UPLOAD_NO_PARTITION;
    }
    printf("send_fw: Using %s, starting at page %u\n", partition_name, start_page);
    if (partition_used != nullptr) {
        *partition_used = partition;
    }

    FILE* file = fopen(encrypted_bin_file_path, "rb");
    if (file == nullptr) {
        printf("send_fw: Failed to open file %s: %s\n", encrypted_bin_file_path, strerror(errno));
        return UPLOAD_FILE_OPEN_FAILED;
    }

    firmware_header_t header;
    std::memset(&header, 0, sizeof(header));
    errno = 0;
    if (fread(&header, 1, sizeof(header), file) != sizeof(header)) {
        printf("send_fw: Failed to read firmware header from %s: %s\n", encrypted_bin_file_path,
               strerror(errno));
        fclose(file);
        return UPLOAD_HEADER_READ_FAILED;
    }
    printf(
        "send_fw: Read firmware header (total_size=%u, plaintext_size=%u, encrypted_size=%u, "
        "offset=0x%08X)\n",
        header.total_size, header.plaintext_size, header.encrypted_size, header.offset);

    const uint64_t blocks_needed = blocks_for(header.total_size);
    if (blocks_needed > FW_BANK_NUM_BLOCKS) {
        printf(
            "send_fw: Error: Firmware too large for partition (%u blocks needed, but partition "
            "only has %u blocks)\n",
            static_cast<uint32_t>(blocks_needed), FW_BANK_NUM_BLOCKS);
        fclose(file);
        return UPLOAD_TOO_LARGE;
    }
    const uint32_t num_blocks_needed = static_cast<uint32_t>(blocks_needed);
    // The header and the data must land in erased flash of this bank only.
    if (kHeaderSize + uint64_t{header.encrypted_size} >
        uint64_t{num_blocks_needed} * MX25_BLOCK_SIZE) {
        printf("send_fw: Error: Image (64 + %u bytes) does not fit the %u erased blocks\n",
               header.encrypted_size, num_blocks_needed);
        fclose(file);
        return UPLOAD_TOO_LARGE;
    }
    const uint32_t end_page = start_page + num_blocks_needed;
    printf("send_fw: Firmware size: %u bytes, will erase %u blocks (pages %u to %u)\n",
           header.total_size, num_blocks_needed, start_page, end_page - 1);

    for (uint32_t block = start_page; block < end_page; ++block) {
        if (cancelled(cancel)) {
            printf("send_fw: Cancelled after erasing %u of %u blocks; nothing written\n",
                   block - start_page, num_blocks_needed);
            fclose(file);
            return UPLOAD_CANCELLED;
        }
        if (!mx25_erase(comms, OP_BLOCK_ERASE, static_cast<uint16_t>(block), progress_cb, user_data,
                        block - start_page, num_blocks_needed)) {
            printf("send_fw: Erase of block %u failed; stopping before any data is written\n",
                   block);
            fclose(file);
            return UPLOAD_ERASE_FAILED;
        }
    }

    const uint32_t header_address = start_page * MX25_BLOCK_SIZE;
    puts("send_fw: All blocks erased, setting address and sending firmware header...");
    printf("send_fw: Setting MX25 address to 0x%08X for header\n", header_address);
    if (!set_mx25_addr(comms, header_address)) {
        printf("send_fw: Setting address 0x%08X failed; stopping before any data is written\n",
               header_address);
        fclose(file);
        return UPLOAD_SET_ADDRESS_FAILED;
    }
    if (!write_firmware_header(comms, header)) {
        fclose(file);
        return UPLOAD_HEADER_WRITE_FAILED;
    }

    const uint32_t encrypted_data_size = header.encrypted_size;
    printf("send_fw: Encrypted data size: %u bytes (0x%08X)\n", encrypted_data_size,
           encrypted_data_size);
    puts("send_fw: Starting firmware data transmission...");
    StreamState state;
    const upload_result_t result = stream_data(comms, file, encrypted_data_size, kFirmwareTexts,
                                               progress_cb, user_data, cancel, &state);
    fclose(file);
    if (result == UPLOAD_OK) {
        printf("send_fw: Firmware transmission completed successfully (%u bytes, %u packets)\n",
               state.total_bytes_sent, state.packet_count);
    } else {
        printf("send_fw: Firmware transmission incomplete (%u/%u bytes sent, %u packets)\n",
               state.total_bytes_sent, encrypted_data_size, state.packet_count);
    }
    return result;
}

upload_result_t send_airport_db(CommsManager* comms, const char* db_file_path,
                                fw_progress_callback_t progress_cb, void* user_data,
                                const std::atomic<bool>* cancel) {
    if (comms == nullptr || !comms->isConnected()) {
        puts("send_airport_db: CommsManager not connected");
        return UPLOAD_NOT_CONNECTED;
    }
    if (db_file_path == nullptr) {
        puts("send_airport_db: Invalid file path");
        return UPLOAD_INVALID_PATH;
    }

    FILE* db_file = fopen(db_file_path, "rb");
    if (db_file == nullptr) {
        printf("send_airport_db: Failed to open file %s: %s\n", db_file_path, strerror(errno));
        return UPLOAD_FILE_OPEN_FAILED;
    }
    if (fseeko(db_file, 0, SEEK_END) != 0) {
        printf("send_airport_db: Failed to seek end of file: %s\n", strerror(errno));
        fclose(db_file);
        return UPLOAD_FILE_SIZE_FAILED;
    }
    const int64_t file_size_long = ftello(db_file);
    if (file_size_long < 0) {
        printf("send_airport_db: ftell failed: %s\n", strerror(errno));
        fclose(db_file);
        return UPLOAD_FILE_SIZE_FAILED;
    }
    if (file_size_long == 0) {
        puts("send_airport_db: File is empty");
        fclose(db_file);
        return UPLOAD_FILE_EMPTY;
    }
    const uint64_t length = static_cast<uint64_t>(file_size_long);
    const uint64_t blocks = blocks_for(length);
    if (length > kAirportDbMaxBytes) {
        // 64-bit counts, so that a file of 4 GiB or more is named by its true size.
        printf("send_airport_db: File too large (%" PRIu64 " bytes, %" PRIu64
               " blocks); max %u blocks before firmware bank\n",
               length, blocks, AIRPORT_DB_NUM_BLOCKS);
        fclose(db_file);
        return UPLOAD_TOO_LARGE;
    }
    const uint32_t file_size = static_cast<uint32_t>(length);
    const uint32_t num_blocks = static_cast<uint32_t>(blocks);
    printf("send_airport_db: %u bytes, erasing %u blocks starting at block 0 (address 0x%08X)\n",
           file_size, num_blocks, 0u);

    puts("send_airport_db: closing airport DB on device before flash update...");
    if (!send_airport_db_op(comms, AIRPORT_DB_OP_CLOSE)) {
        puts("send_airport_db: close DB command failed, aborting");
        fclose(db_file);
        return UPLOAD_DB_CLOSE_FAILED;
    }
    const uint32_t airport_db_op_id = canmsg_airport_db_op();
    if (!wait_for_ack(comms, airport_db_op_id)) {
        printf(
            "send_airport_db: no ACK for close DB (expected CAN ID 0x%03X in ACK payload), "
            "aborting\n",
            airport_db_op_id);
        fclose(db_file);
        return UPLOAD_DB_CLOSE_FAILED;
    }
    puts("send_airport_db: close DB acknowledged");
    usleep(kCloseAckPauseUs);

    const uint32_t total_blocks = num_blocks;
    for (uint32_t block = 0; block < total_blocks; ++block) {
        if (cancelled(cancel)) {
            printf(
                "send_airport_db: Cancelled after erasing %u of %u blocks; not sending open "
                "command\n",
                block, total_blocks);
            fclose(db_file);
            return UPLOAD_CANCELLED;
        }
        if (!mx25_erase(comms, OP_BLOCK_ERASE, static_cast<uint16_t>(block), progress_cb, user_data,
                        block, total_blocks)) {
            printf(
                "send_airport_db: Erase of block %u failed; stopping before any data is "
                "written, not sending open command\n",
                block);
            fclose(db_file);
            return UPLOAD_ERASE_FAILED;
        }
    }

    printf("send_airport_db: Erase complete, setting address 0x%08X and transferring data...\n",
           0u);
    rewind(db_file);
    if (!set_mx25_addr(comms, 0)) {
        puts(
            "send_airport_db: Setting address 0x00000000 failed; stopping before any data is "
            "written, not sending open command");
        fclose(db_file);
        return UPLOAD_SET_ADDRESS_FAILED;
    }

    StreamState state;
    const upload_result_t result = stream_data(comms, db_file, file_size, kAirportDbTexts,
                                               progress_cb, user_data, cancel, &state);
    fclose(db_file);
    if (result != UPLOAD_OK) {
        printf("send_airport_db: Incomplete (%u / %u bytes); not sending open command\n",
               state.total_bytes_sent, file_size);
        return result;
    }
    printf("send_airport_db: Complete (%u bytes, %u packets)\n", state.total_bytes_sent,
           state.packet_count);
    puts("send_airport_db: opening airport DB on device...");
    if (!send_airport_db_op(comms, AIRPORT_DB_OP_OPEN)) {
        puts("send_airport_db: warning: open DB command failed; device may need a reconnect");
        return UPLOAD_DB_OPEN_FAILED;
    }
    return UPLOAD_OK;
}
