// A firmware image file of any content: the plan made of it before an upload and the upload
// itself to the emulated unit must agree. A file the plan accepts lands byte for byte in the
// bank the unit names; a header the upload refuses leaves the flash untouched.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"
#include "comms/can_msg_ids.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "firmware_ops/firmware_ops.h"
#include "firmware_ops/transfer_plan.h"
#include "fuzz_support.h"

namespace {

constexpr uint64_t kHeaderBytes = sizeof(firmware_header_t);

struct Bench {
    CommsManager comms;
    int fd = -1;
    std::string path;

    Bench() {
        LinkChoice usb_only;
        usb_only.can = false;
        fuzz::check(comms.establish_connection(usb_only), "the emulated unit answers");
        // An in-memory file that the upload opens by name like any other.
        fd = memfd_create("firmware-image", 0);
        fuzz::check(fd >= 0, "memfd_create");
        path = "/proc/self/fd/" + std::to_string(fd);
    }

    void set_file(const uint8_t* data, size_t size) {
        fuzz::check(ftruncate(fd, 0) == 0, "ftruncate");
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            fuzz::check(n > 0, "pwrite");
            done += static_cast<size_t>(n);
        }
    }
};

Bench& bench() {
    static Bench instance;
    return instance;
}

uint64_t blocks_for(uint64_t bytes) {
    return (bytes + MX25_BLOCK_SIZE - 1) / MX25_BLOCK_SIZE;
}

size_t write_requests(const emu::EfisUnit& unit) {
    const uint32_t write_id = canmsg_write_mx25();
    const std::vector<COMMS_MSG_t> received = unit.received();
    return static_cast<size_t>(
        std::count_if(received.begin(), received.end(),
                      [write_id](const COMMS_MSG_t& f) { return f.can_ID == write_id; }));
}

void check_plan(const TransferPlan& plan, const uint8_t* data, size_t size) {
    fuzz::check(plan.ok == plan.problem.empty(), "a refused plan says why, an accepted one not");
    fuzz::check(plan.file_bytes == size, "plan: the file's size");
    fuzz::check(plan.area_blocks == FW_BANK_NUM_BLOCKS, "plan: one bank");
    if (size < kHeaderBytes) {
        fuzz::check(!plan.ok, "a file shorter than its header is refused");
        return;
    }
    firmware_header_t header;
    std::memcpy(&header, data, sizeof(header));
    fuzz::check(plan.data_bytes == header.encrypted_size, "plan: the header's image size");
    fuzz::check(plan.packets == 1 + (uint64_t{header.encrypted_size} + 63) / 64,
                "plan: the header's packet and one per 64 bytes");
    fuzz::check(
        plan.blocks == std::min<uint64_t>(blocks_for(header.total_size), FW_BANK_NUM_BLOCKS + 1),
        "plan: the blocks the header's total size needs");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_stdout();
    bench();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bench& b = bench();
    b.set_file(data, size);
    const TransferPlan plan = plan_firmware_upload(b.path.c_str());
    check_plan(plan, data, size);

    emu::EfisUnit& unit = emu_hid::unit();
    unit.reset();
    const bool second_bank = size % 2 == 1;
    unit.set_partition_answer(second_bank ? partition_2 : partition_1);
    const uint32_t first_block = second_bank ? FW_BANK2_START_BLOCK : FW_BANK1_START_BLOCK;

    const upload_result_t result = send_fw(&b.comms, b.path.c_str(), nullptr, nullptr);
    fuzz::check(plan.ok == (result == UPLOAD_OK), "the plan accepts what uploads whole");
    if (result == UPLOAD_HEADER_READ_FAILED || result == UPLOAD_TOO_LARGE) {
        fuzz::check(unit.erased_blocks().empty() && write_requests(unit) == 0,
                    "a refused header leaves the flash untouched");
        return 0;
    }
    fuzz::check(result == UPLOAD_OK || result == UPLOAD_FILE_TRUNCATED,
                "a unit that answers fails only an upload whose file ends early");
    std::vector<uint32_t> want_blocks(plan.blocks);
    for (uint32_t i = 0; i < plan.blocks; ++i) {
        want_blocks[i] = first_block + i;
    }
    fuzz::check(unit.erased_blocks() == want_blocks, "the blocks of the named bank, in order");
    if (result == UPLOAD_OK) {
        const auto image = static_cast<uint32_t>(kHeaderBytes + plan.data_bytes);
        const std::vector<uint8_t> flash = unit.flash_read(first_block * MX25_BLOCK_SIZE, image);
        fuzz::check(flash == std::vector<uint8_t>(data, data + image),
                    "header and image in the bank, byte for byte");
        fuzz::check(write_requests(unit) == plan.packets, "as many packets as planned");
    }
    return 0;
}
