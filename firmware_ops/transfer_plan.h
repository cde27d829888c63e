// What an upload will do, worked out from its file before anything is sent: the bytes and
// packets it writes, the flash blocks it erases, whether it fits its area, and how long it
// should take on a link of a given round trip. Plain C++, the same reckoning as the uploads.
#pragma once

#include <cstdint>
#include <string>

struct TransferPlan {
    bool ok = false;      // the file can be uploaded as it stands
    std::string problem;  // why not, in words
    uint64_t file_bytes = 0;
    uint64_t data_bytes = 0;   // bytes written after the firmware header (all, for a database)
    uint64_t packets = 0;      // acknowledged packets, the firmware header's included
    uint32_t blocks = 0;       // flash blocks erased
    uint32_t area_blocks = 0;  // blocks of the bank or of the airport region
};

TransferPlan plan_firmware_upload(const char* path);
TransferPlan plan_airport_upload(const char* path);

// Seconds the upload should take with this round trip per acknowledged frame: every erase
// and every packet is one round trip, every packet is followed by the 100 us pause. The
// unit's own erase time is not known and not counted.
double transfer_seconds(const TransferPlan& plan, uint32_t round_trip_us);

// "about 40 s", "about 4 min", "about 1 h 20 min".
std::string about_duration_text(double seconds);
