#include "emulator/nor_flash.h"

namespace emu {

bool NorFlash::in_range(uint32_t address, uint32_t length) {
    return address <= kSize && length <= kSize - address;
}

std::vector<uint8_t> NorFlash::read(uint32_t address, uint32_t length) const {
    std::vector<uint8_t> out(length, 0xFF);
    for (uint32_t i = 0; i < length; ++i) {
        const uint64_t a = static_cast<uint64_t>(address) + i;
        if (a >= kSize) {
            break;
        }
        const auto it = sectors_.find(static_cast<uint32_t>(a / MX25_SECTOR_SIZE));
        if (it != sectors_.end()) {
            out[i] = it->second[a % MX25_SECTOR_SIZE];
        }
    }
    return out;
}

bool NorFlash::is_erased(uint32_t address, uint32_t length) const {
    for (const uint8_t b : read(address, length)) {
        if (b != 0xFF) {
            return false;
        }
    }
    return true;
}

NorFlash::Sector& NorFlash::sector_for(uint32_t address) {
    const auto found = sectors_.find(address / MX25_SECTOR_SIZE);
    if (found != sectors_.end()) {
        return found->second;
    }
    Sector erased;
    erased.fill(0xFF);
    return sectors_.emplace(address / MX25_SECTOR_SIZE, erased).first->second;
}

void NorFlash::program(uint32_t address, const uint8_t* bytes, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        const uint64_t a = static_cast<uint64_t>(address) + i;
        if (a >= kSize) {
            return;
        }
        sector_for(static_cast<uint32_t>(a))[a % MX25_SECTOR_SIZE] &= bytes[i];
    }
}

void NorFlash::fill(uint32_t address, const uint8_t* bytes, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        const uint64_t a = static_cast<uint64_t>(address) + i;
        if (a >= kSize) {
            return;
        }
        sector_for(static_cast<uint32_t>(a))[a % MX25_SECTOR_SIZE] = bytes[i];
    }
}

void NorFlash::erase_sector(uint32_t sector) {
    sectors_.erase(sector);
}

void NorFlash::erase_all() {
    sectors_.clear();
}

}  // namespace emu
