#include "firmware_ops/transfer_plan.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"

namespace {

constexpr uint64_t kPacketBytes = 64;
constexpr uint64_t kHeaderBytes = sizeof(firmware_header_t);
constexpr double kPacketPauseUs = 100.0;

uint64_t blocks_for(uint64_t bytes) {
    return (bytes + MX25_BLOCK_SIZE - 1) / MX25_BLOCK_SIZE;
}

bool file_size(const char* path, uint64_t* size, std::string* problem) {
    struct stat st;
    std::memset(&st, 0, sizeof(st));
    if (path == nullptr || stat(path, &st) != 0) {
        *problem = std::string("cannot read the file: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *problem = "not a regular file";
        return false;
    }
    *size = static_cast<uint64_t>(st.st_size);
    if (*size == 0) {
        *problem = "the file is empty";
        return false;
    }
    return true;
}

TransferPlan refuse(TransferPlan plan, const std::string& problem) {
    plan.ok = false;
    plan.problem = problem;
    return plan;
}

}  // namespace

TransferPlan plan_firmware_upload(const char* path) {
    TransferPlan plan;
    plan.area_blocks = FW_BANK_NUM_BLOCKS;
    if (!file_size(path, &plan.file_bytes, &plan.problem)) {
        return plan;
    }
    firmware_header_t header;
    std::memset(&header, 0, sizeof(header));
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return refuse(plan, std::string("cannot read the file: ") + std::strerror(errno));
    }
    const size_t got = std::fread(&header, 1, sizeof(header), file);
    std::fclose(file);
    if (got != sizeof(header)) {
        return refuse(plan, "the file is shorter than a firmware header (64 bytes)");
    }
    plan.data_bytes = header.encrypted_size;
    plan.packets = 1 + (plan.data_bytes + kPacketBytes - 1) / kPacketBytes;
    const uint64_t blocks = blocks_for(header.total_size);
    plan.blocks =
        static_cast<uint32_t>(blocks > FW_BANK_NUM_BLOCKS ? FW_BANK_NUM_BLOCKS + 1 : blocks);
    // The upload would stream what the file holds and leave an incomplete image.
    if (plan.file_bytes < kHeaderBytes + plan.data_bytes) {
        return refuse(plan, "the header says " + std::to_string(plan.data_bytes) +
                                " bytes of data but the file holds " +
                                std::to_string(plan.file_bytes - kHeaderBytes));
    }
    if (blocks > FW_BANK_NUM_BLOCKS ||
        kHeaderBytes + plan.data_bytes > uint64_t{FW_BANK_NUM_BLOCKS} * MX25_BLOCK_SIZE) {
        return refuse(plan, "the image does not fit its flash bank");
    }
    // The total size decides the blocks erased; header and data must land in erased flash.
    if (kHeaderBytes + plan.data_bytes > blocks * MX25_BLOCK_SIZE) {
        return refuse(plan, "the header's total size is smaller than its data");
    }
    plan.ok = true;
    return plan;
}

TransferPlan plan_airport_upload(const char* path) {
    TransferPlan plan;
    plan.area_blocks = AIRPORT_DB_NUM_BLOCKS;
    if (!file_size(path, &plan.file_bytes, &plan.problem)) {
        return plan;
    }
    plan.data_bytes = plan.file_bytes;
    plan.packets = (plan.data_bytes + kPacketBytes - 1) / kPacketBytes;
    const uint64_t blocks = blocks_for(plan.data_bytes);
    plan.blocks =
        static_cast<uint32_t>(blocks > AIRPORT_DB_NUM_BLOCKS ? AIRPORT_DB_NUM_BLOCKS + 1 : blocks);
    if (blocks > AIRPORT_DB_NUM_BLOCKS) {
        return refuse(plan, "the database does not fit the airport region");
    }
    plan.ok = true;
    return plan;
}

double transfer_seconds(const TransferPlan& plan, uint32_t round_trip_us) {
    const double per_packet = static_cast<double>(round_trip_us) + kPacketPauseUs;
    return (static_cast<double>(plan.packets) * per_packet +
            static_cast<double>(plan.blocks) * static_cast<double>(round_trip_us)) /
           1e6;
}

std::string about_duration_text(double seconds) {
    const double s = std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
    char text[48] = {};
    if (s < 60.0) {
        std::snprintf(text, sizeof(text), "about %.0f s", std::fmax(1.0, std::ceil(s)));
    } else if (s < 3600.0) {
        std::snprintf(text, sizeof(text), "about %.0f min", std::round(s / 60.0));
    } else {
        const auto minutes = static_cast<long long>(std::round(s / 60.0));
        std::snprintf(text, sizeof(text), "about %lld h %lld min", minutes / 60, minutes % 60);
    }
    return text;
}
