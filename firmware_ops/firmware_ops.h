// Programming of the unit's external MX25 flash: erase, set address, partition query and
// the firmware image and airport database uploads built on them. Log lines go to standard
// output, each beginning with the function's name.
#pragma once

#include <atomic>
#include <cstdint>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"

class CommsManager;

// phase 0: erase (current/total in blocks); phase 1: write (current/total in bytes).
typedef void (*fw_progress_callback_t)(uint32_t current, uint32_t total, int phase,
                                       void* user_data);

// How an upload ended, so that the caller can tell the user the truth about it.
enum upload_result_t : uint32_t {
    UPLOAD_OK = 0,
    UPLOAD_NOT_CONNECTED,
    UPLOAD_INVALID_PATH,
    UPLOAD_NO_PARTITION,
    UPLOAD_FILE_OPEN_FAILED,
    UPLOAD_FILE_SIZE_FAILED,
    UPLOAD_FILE_EMPTY,
    UPLOAD_HEADER_READ_FAILED,
    UPLOAD_TOO_LARGE,
    UPLOAD_DB_CLOSE_FAILED,
    UPLOAD_ERASE_FAILED,
    UPLOAD_SET_ADDRESS_FAILED,
    UPLOAD_HEADER_WRITE_FAILED,
    UPLOAD_DATA_SEND_FAILED,
    UPLOAD_DATA_ACK_FAILED,
    UPLOAD_FILE_READ_FAILED,
    UPLOAD_FILE_TRUNCATED,
    UPLOAD_CANCELLED,
    UPLOAD_DB_OPEN_FAILED,
};

// A short English description of the result, for the user.
const char* upload_result_text(upload_result_t result);

// true when the unit confirmed the erase of that unit of flash.
bool mx25_erase(CommsManager* comms, FlashOpType op_type, uint16_t block_or_sector,
                fw_progress_callback_t progress_cb, void* user_data, uint32_t current_block,
                uint32_t total_blocks);
// true when the unit echoed OP_SETADDR and the address.
bool set_mx25_addr(CommsManager* comms, uint32_t address);
// partition_1, partition_2, or partition_none (also for every failure).
uint32_t get_mx25_partition(CommsManager* comms);

// `cancel` (may be null) is honoured between packets: the upload stops with
// UPLOAD_CANCELLED and leaves the link idle.
// `partition` (may be null) receives the bank the unit named (partition_1 or partition_2)
// once it has named one, and is left alone otherwise.
upload_result_t send_fw(CommsManager* comms, const char* encrypted_bin_file_path,
                        fw_progress_callback_t progress_cb, void* user_data,
                        const std::atomic<bool>* cancel = nullptr, uint32_t* partition = nullptr);
upload_result_t send_airport_db(CommsManager* comms, const char* db_file_path,
                                fw_progress_callback_t progress_cb, void* user_data,
                                const std::atomic<bool>* cancel = nullptr);

inline constexpr uint8_t AIRPORT_DB_OP_CLOSE = 0xDC;
inline constexpr uint8_t AIRPORT_DB_OP_OPEN = 0xDA;
