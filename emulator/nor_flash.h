// The unit's external NOR flash: erased bytes read 0xFF, programming can only clear bits,
// erasing sets whole sectors back to 0xFF. Stored sparsely, one 4 KiB sector at a time.
// Either way it records where bytes were programmed: one run per stretch programmed in
// ascending order, each with the CRC-32 of its bytes, so that the unit can tell a stretch
// written to its end from one that stopped early even where the data holds 0xFF bytes.
//
// In checking mode the flash stores no programmed bytes, only the runs, so that an upload of
// any size costs next to no memory. It still tells erased from programmed bytes, so writes
// into unerased bytes are still refused; what it cannot tell is the value of a programmed
// byte: read() gives 0x00 for every one of them, except inside the stretches named by
// keep_bytes(), and a run whose bytes were partly erased or programmed twice keeps its
// extent but loses its CRC (crc_known false).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "EFIS_shared/mem_layout.h"

namespace emu {

struct ProgrammedRun {
    uint32_t address;
    uint32_t length;
    uint32_t crc32;  // of the run's bytes in address order, when crc_known
    bool crc_known;
};

class NorFlash {
public:
    static constexpr uint32_t kSize = (MX25_LAST_BLOCK + 1) * MX25_BLOCK_SIZE;

    // True when [address, address + length) lies inside the flash.
    static bool in_range(uint32_t address, uint32_t length);

    // Either way the chip is left erased.
    void set_checking(bool on);
    bool checking() const { return checking_; }
    // The runs, in address order.
    std::vector<ProgrammedRun> programmed_runs() const;
    // How many bytes from `address` on were programmed without a gap (runs that touch count
    // as one stretch); 0 when the byte at `address` is erased.
    uint32_t programmed_length(uint32_t address) const;
    // A stretch whose bytes checking mode stores all the same (the firmware bank headers,
    // which the unit reads back); kept across mode changes and erases.
    void keep_bytes(uint32_t address, uint32_t length);

    std::vector<uint8_t> read(uint32_t address, uint32_t length) const;  // 0xFF outside
    bool is_erased(uint32_t address, uint32_t length) const;
    // ANDs the bytes into the flash, as a NOR page program does; bytes beyond the end are lost.
    void program(uint32_t address, const uint8_t* bytes, uint32_t length);
    // Stores the bytes as they stand (test set-up); bytes beyond the end are lost.
    void fill(uint32_t address, const uint8_t* bytes, uint32_t length);
    void erase_sector(uint32_t sector);
    void erase_all();

private:
    using Sector = std::array<uint8_t, MX25_SECTOR_SIZE>;
    struct Run {
        uint32_t end;
        uint32_t crc32;
        bool crc_known;
    };

    Sector& sector_for(uint32_t address);
    // The stored bytes of [address, end), written to `out` (erased sectors leave it alone).
    void read_stored(uint32_t address, uint32_t end, uint8_t* out) const;
    // ANDs (or, with `overwrite`, stores) the bytes of [address, end) into the sectors.
    void store(uint32_t address, uint32_t end, const uint8_t* bytes, bool overwrite);
    // Calls store() for the parts of [address, end) that checking mode keeps.
    void store_kept(uint32_t address, uint32_t end, const uint8_t* bytes, bool overwrite);
    // The part of [address, address + length) inside the flash, as [address, *end).
    static bool clip(uint32_t address, uint32_t length, uint32_t* end);
    static uint32_t sector_stop(uint32_t at, uint32_t end);
    bool runs_overlap(uint32_t begin, uint32_t end) const;
    // Takes [begin, end) out of the runs; a run cut in two keeps its parts without a CRC.
    void cut_runs(uint32_t begin, uint32_t end);
    void program_run(uint32_t address, const uint8_t* bytes, uint32_t length);

    bool checking_ = false;
    std::map<uint32_t, Sector> sectors_;               // absent sector = erased
    std::map<uint32_t, Run> runs_;                     // by start address; never overlapping
    std::vector<std::pair<uint32_t, uint32_t>> kept_;  // [begin, end) kept in checking mode
};

}  // namespace emu
