#include "comms/unit_choice.h"

#include <algorithm>
#include <cstdio>

namespace {

void add_once(std::vector<uint32_t>* serials, uint32_t serial) {
    if (std::find(serials->begin(), serials->end(), serial) == serials->end()) {
        serials->push_back(serial);
    }
}

bool contains(const std::vector<uint32_t>& serials, uint32_t serial) {
    return std::find(serials.begin(), serials.end(), serial) != serials.end();
}

}  // namespace

std::vector<uint32_t> usable_serials(const std::vector<FoundUnit>& found) {
    std::vector<uint32_t> serials;
    for (const FoundUnit& u : found) {
        if (u.answered && !u.shared_bus) {
            add_once(&serials, u.serial);
        }
    }
    return serials;
}

std::vector<uint32_t> shared_bus_serials(const std::vector<FoundUnit>& found) {
    std::vector<uint32_t> serials;
    for (const FoundUnit& u : found) {
        if (u.answered && u.shared_bus) {
            add_once(&serials, u.serial);
        }
    }
    return serials;
}

UnitChoice choose_unit(const std::vector<FoundUnit>& found, std::optional<uint32_t> wanted,
                       std::optional<uint32_t> preferred) {
    const std::vector<uint32_t> serials = usable_serials(found);
    if (wanted) {
        if (contains(serials, *wanted)) {
            return {UnitPick::InUse, *wanted};
        }
        return {UnitPick::NotFound, 0xFFFFFFFF};
    }
    if (preferred && contains(serials, *preferred)) {
        return {UnitPick::InUse, *preferred};
    }
    if (serials.empty()) {
        return {UnitPick::NoneFound, 0xFFFFFFFF};
    }
    if (serials.size() == 1) {
        return {UnitPick::InUse, serials.front()};
    }
    return {UnitPick::ChoiceNeeded, 0xFFFFFFFF};
}

std::string serials_text(const std::vector<uint32_t>& serials) {
    std::string text;
    for (uint32_t serial : serials) {
        char one[16] = {};
        std::snprintf(one, sizeof(one), "0x%08X", serial);
        text += (text.empty() ? "" : ", ") + std::string(one);
    }
    return text;
}

std::string units_connected_text(const std::vector<uint32_t>& serials) {
    return std::to_string(serials.size()) + " units are connected (" + serials_text(serials) + ")";
}

std::string shared_bus_text(const std::string& interface_name,
                            const std::vector<uint32_t>& serials) {
    return std::to_string(serials.size()) + " units answer on " + interface_name + " (serials " +
           serials_text(serials) +
           "); this bus can hold one unit: connect one at a time or use USB";
}
