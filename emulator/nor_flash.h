// The unit's external NOR flash: erased bytes read 0xFF, programming can only clear bits,
// erasing sets whole sectors back to 0xFF. Stored sparsely, one 4 KiB sector at a time.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "EFIS_shared/mem_layout.h"

namespace emu {

class NorFlash {
public:
    static constexpr uint32_t kSize = (MX25_LAST_BLOCK + 1) * MX25_BLOCK_SIZE;

    // True when [address, address + length) lies inside the flash.
    static bool in_range(uint32_t address, uint32_t length);

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
    Sector& sector_for(uint32_t address);

    std::map<uint32_t, Sector> sectors_;  // absent sector = erased
};

}  // namespace emu
