#include "emulator/nor_flash.h"

#include <algorithm>
#include <iterator>

#include "emulator/crc32.h"

namespace emu {

bool NorFlash::in_range(uint32_t address, uint32_t length) {
    return address <= kSize && length <= kSize - address;
}

bool NorFlash::clip(uint32_t address, uint32_t length, uint32_t* end) {
    if (address >= kSize || length == 0) {
        return false;
    }
    *end = length < kSize - address ? address + length : kSize;
    return true;
}

void NorFlash::set_checking(bool on) {
    checking_ = on;
    erase_all();
}

std::vector<ProgrammedRun> NorFlash::programmed_runs() const {
    std::vector<ProgrammedRun> out;
    for (const auto& [start, run] : runs_) {
        out.push_back({start, run.end - start, run.crc32, run.crc_known});
    }
    return out;
}

// The end of the part of [at, end) that lies in at's sector.
uint32_t NorFlash::sector_stop(uint32_t at, uint32_t end) {
    const uint32_t sector_end = (at / MX25_SECTOR_SIZE + 1) * MX25_SECTOR_SIZE;
    return sector_end < end ? sector_end : end;
}

void NorFlash::read_stored(uint32_t address, uint32_t end, uint8_t* out) const {
    for (uint32_t at = address; at < end;) {
        const uint32_t stop = sector_stop(at, end);
        const auto it = sectors_.find(at / MX25_SECTOR_SIZE);
        for (; it != sectors_.end() && at < stop; ++at) {
            out[at - address] = it->second[at % MX25_SECTOR_SIZE];
        }
        at = stop;
    }
}

std::vector<uint8_t> NorFlash::read(uint32_t address, uint32_t length) const {
    std::vector<uint8_t> out(length, 0xFF);
    uint32_t end = 0;
    if (!clip(address, length, &end)) {
        return out;
    }
    if (!checking_) {
        read_stored(address, end, out.data());
        return out;
    }
    for (uint32_t at = address; at < end; ++at) {
        if (runs_overlap(at, at + 1)) {
            out[at - address] = 0x00;
        }
    }
    for (const auto& [begin, stop] : kept_) {
        const uint32_t from = std::max(begin, address);
        const uint32_t to = std::min(stop, end);
        if (from < to) {
            read_stored(from, to, out.data() + (from - address));
        }
    }
    return out;
}

uint32_t NorFlash::programmed_length(uint32_t address) const {
    auto it = runs_.upper_bound(address);
    if (it == runs_.begin() || std::prev(it)->second.end <= address) {
        return 0;
    }
    uint32_t end = std::prev(it)->second.end;
    for (; it != runs_.end() && it->first == end; ++it) {
        end = it->second.end;
    }
    return end - address;
}

void NorFlash::keep_bytes(uint32_t address, uint32_t length) {
    uint32_t end = 0;
    if (clip(address, length, &end)) {
        kept_.emplace_back(address, end);
    }
}

bool NorFlash::is_erased(uint32_t address, uint32_t length) const {
    uint32_t end = 0;
    if (!clip(address, length, &end)) {
        return true;
    }
    if (checking_) {
        return !runs_overlap(address, end);
    }
    for (uint32_t at = address; at < end;) {
        const uint32_t stop = sector_stop(at, end);
        const auto it = sectors_.find(at / MX25_SECTOR_SIZE);
        for (; it != sectors_.end() && at < stop; ++at) {
            if (it->second[at % MX25_SECTOR_SIZE] != 0xFF) {
                return false;
            }
        }
        at = stop;
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

bool NorFlash::runs_overlap(uint32_t begin, uint32_t end) const {
    const auto next = runs_.lower_bound(begin);
    if (next != runs_.end() && next->first < end) {
        return true;
    }
    return next != runs_.begin() && std::prev(next)->second.end > begin;
}

void NorFlash::cut_runs(uint32_t begin, uint32_t end) {
    auto it = runs_.lower_bound(begin);
    if (it != runs_.begin() && std::prev(it)->second.end > begin) {
        it = std::prev(it);
    }
    while (it != runs_.end() && it->first < end) {
        const uint32_t start = it->first;
        const uint32_t run_end = it->second.end;
        it = runs_.erase(it);
        if (start < begin) {
            runs_[start] = Run{begin, 0, false};
        }
        if (run_end > end) {
            runs_[end] = Run{run_end, 0, false};
            return;
        }
    }
}

// A write behind the end of a run extends it; bytes programmed a second time are ANDed with
// values this mode does not know, so such a write leaves a run without a CRC.
void NorFlash::program_run(uint32_t address, const uint8_t* bytes, uint32_t length) {
    uint32_t end = 0;
    if (!clip(address, length, &end)) {
        return;
    }
    if (runs_overlap(address, end)) {
        cut_runs(address, end);
        runs_[address] = Run{end, 0, false};
        return;
    }
    const auto next = runs_.lower_bound(address);
    if (next != runs_.begin()) {
        Run& before = std::prev(next)->second;
        if (before.end == address) {
            before.crc32 = crc32_update(before.crc32, bytes, end - address);
            before.end = end;
            return;
        }
    }
    runs_[address] = Run{end, crc32_update(0, bytes, end - address), true};
}

void NorFlash::store(uint32_t address, uint32_t end, const uint8_t* bytes, bool overwrite) {
    for (uint32_t at = address; at < end;) {
        Sector& sector = sector_for(at);
        for (const uint32_t stop = sector_stop(at, end); at < stop; ++at) {
            uint8_t& b = sector[at % MX25_SECTOR_SIZE];
            b = overwrite ? bytes[at - address] : static_cast<uint8_t>(b & bytes[at - address]);
        }
    }
}

void NorFlash::store_kept(uint32_t address, uint32_t end, const uint8_t* bytes, bool overwrite) {
    for (const auto& [begin, stop] : kept_) {
        const uint32_t from = std::max(begin, address);
        const uint32_t to = std::min(stop, end);
        if (from < to) {
            store(from, to, bytes + (from - address), overwrite);
        }
    }
}

void NorFlash::program(uint32_t address, const uint8_t* bytes, uint32_t length) {
    uint32_t end = 0;
    if (!clip(address, length, &end)) {
        return;
    }
    program_run(address, bytes, length);
    if (checking_) {
        store_kept(address, end, bytes, false);
    } else {
        store(address, end, bytes, false);
    }
}

void NorFlash::fill(uint32_t address, const uint8_t* bytes, uint32_t length) {
    uint32_t end = 0;
    if (!clip(address, length, &end)) {
        return;
    }
    cut_runs(address, end);
    runs_[address] = Run{end, crc32_update(0, bytes, end - address), true};
    if (checking_) {
        store_kept(address, end, bytes, true);
    } else {
        store(address, end, bytes, true);
    }
}

void NorFlash::erase_sector(uint32_t sector) {
    sectors_.erase(sector);
    const uint64_t begin = uint64_t{sector} * MX25_SECTOR_SIZE;
    if (begin < kSize) {
        cut_runs(static_cast<uint32_t>(begin), static_cast<uint32_t>(begin) + MX25_SECTOR_SIZE);
    }
}

void NorFlash::erase_all() {
    sectors_.clear();
    runs_.clear();
}

}  // namespace emu
