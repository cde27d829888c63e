#include "settings/settings_exchange.h"

#include <QDebug>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "comms/can_msg_ids.h"
#include "comms/comms.h"

namespace {

constexpr uint32_t kReadFailed = 0xFFFFFFFFu;

// Paces the unit between the value exchanges of a load or an update.
void pace() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool linkUp(const CommsManager* comms) {
    return comms != nullptr && comms->isConnected();
}

// The link in use failed because its device or interface went away.
bool linkGone(const CommsManager* comms) {
    return comms != nullptr && comms->linkLost();
}

bool stopAsked(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load();
}

}  // namespace

size_t pending_setting_count(const PendingSet& pending) {
    size_t registration = 0;
    for (const settings_struct_index index :
         {REGISTRATION_1_INDEX, REGISTRATION_2_INDEX, REGISTRATION_3_INDEX}) {
        registration += pending.count(index);
    }
    return pending.size() - registration + (registration > 0 ? 1 : 0);
}

LoadResult settings_load(CommsManager* comms, UnitRecord* unit, const std::atomic<bool>* cancel) {
    LoadResult result;
    if (!linkUp(comms) || unit == nullptr) {
        result.status = LoadStatus::NoLink;
        return result;
    }
    unit->loaded = false;
    unit->unknown.clear();
    unit->device_crc = 0;
    // Values sent to one unit and not saved are not another unit's.
    if (unit->serial_number != comms->serialNumber()) {
        unit->sent_not_saved = false;
    }
    unit->serial_number = comms->serialNumber();
    unit->firmware = g_whoami_fwversion;
    unit->current_generation = device_firmware_at_least_0_2_12();
    std::memset(&unit->record, 0, sizeof(unit->record));
    Settings_t& record = unit->record;

    struct HeaderRead {
        settings_struct_index index;
        uint32_t Settings_t::*field;
        LoadStatus failure;
    };
    static const HeaderRead headers[] = {
        {SETTINGS_CHECKSUM_INDEX, &Settings_t::crc32, LoadStatus::ChecksumReadFailed},
        {SETTINGS_MAGIC_NUM, &Settings_t::magic, LoadStatus::MagicReadFailed},
        {SETTINGS_VERSION, &Settings_t::version, LoadStatus::VersionReadFailed},
        {SETTINGS_NUM_ELEMENTS, &Settings_t::num_elements, LoadStatus::CountReadFailed},
    };
    for (const HeaderRead& header : headers) {
        if (stopAsked(cancel)) {
            result.status = LoadStatus::Cancelled;
            return result;
        }
        const uint32_t value = get_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(header.index));
        if (value == kReadFailed) {
            result.status = header.failure;
            return result;
        }
        record.*header.field = value;
        if (header.index == SETTINGS_CHECKSUM_INDEX) {
            unit->device_crc = value;
        }
    }
    // The CRC covers num_elements words of a record that has room for 31: a larger count is
    // a record this tool cannot check.
    if (record.num_elements > SETTINGS_MAX_CRC_WORDS) {
        result.status = LoadStatus::InvalidCount;
        result.element_count = record.num_elements;
        return result;
    }

    // Once a read went unanswered, its late answer could be taken for a later one: the
    // values after it are confirmed.
    bool late_answer_possible = false;
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        if (stopAsked(cancel)) {
            result.status = LoadStatus::Cancelled;
            return result;
        }
        const auto index = static_cast<settings_struct_index>(i);
        // A stored 0xFFFFFFFF (white, for a colour) is a value; only a read without an
        // answer is missing. Once the link is gone (unplugged, interface down) the rest are
        // missing too: asking for each would only wait out its time-out.
        uint32_t value = 0;
        const bool read =
            !linkGone(comms) &&
            (late_answer_possible
                 ? get_value_confirmed(comms, SETTINGS_COMMS, static_cast<uint8_t>(i), &value)
                 : get_value_checked(comms, SETTINGS_COMMS, static_cast<uint8_t>(i), &value));
        if (!read) {
            value = 0;
            result.unread.push_back(index);
            unit->unknown.insert(index);
            late_answer_possible = true;
        }
        if (!settings_set_value(&record, index, &value)) {
            result.status = LoadStatus::RecordRejected;
            result.rejected_index = i;
            return result;
        }
        pace();
    }

    result.calculated_crc = settings_CalcCRC(&record);
    printf("app: 0x%08lX, device: 0x%08lX \n", static_cast<unsigned long>(result.calculated_crc),
           static_cast<unsigned long>(unit->device_crc));
    result.crc_matches = result.calculated_crc == unit->device_crc;
    if (result.crc_matches) {
        puts("CRC Check Passed.");
    }
    unit->loaded = true;
    result.status = LoadStatus::Ok;
    return result;
}

bool settings_read_unknown(CommsManager* comms, UnitRecord* unit) {
    if (!linkUp(comms) || unit == nullptr) {
        return unit != nullptr && unit->unknown.empty();
    }
    const PendingSet missing = unit->unknown;
    for (const settings_struct_index index : missing) {
        // The load's late answers may still arrive: each value is confirmed.
        uint32_t value = 0;
        if (linkGone(comms) ||
            !get_value_confirmed(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), &value)) {
            continue;
        }
        if (settings_set_value(&unit->record, index, &value)) {
            unit->unknown.erase(index);
        }
        pace();
    }
    return unit->unknown.empty();
}

UpdateResult settings_update(CommsManager* comms, const Settings_t& working, PendingSet* pending,
                             UnitRecord* unit, const std::atomic<bool>* cancel) {
    UpdateResult result;
    if (pending == nullptr || unit == nullptr) {
        return result;
    }
    Settings_t source = working;
    const PendingSet toSend = *pending;
    for (const settings_struct_index index : toSend) {
        // The registration's words are one setting: a stop never falls between them.
        const bool restOfRegistration =
            (index == REGISTRATION_2_INDEX || index == REGISTRATION_3_INDEX) &&
            toSend.count(static_cast<settings_struct_index>(index - 1)) != 0;
        if (!restOfRegistration && stopAsked(cancel)) {
            result.cancelled = true;
            break;
        }
        uint32_t value = settings_get_value(&source, index);
        // A value not sent for a link that is gone stays pending, as any failed one does.
        if (!linkGone(comms) &&
            set_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), value) == 0) {
            ++result.sent;
            pending->erase(index);
            settings_set_value(&unit->record, index, &value);
            unit->unknown.erase(index);
            unit->sent_not_saved = true;
        } else {
            result.failed.push_back(index);
        }
        pace();
    }
    return result;
}

SaveResult settings_save(CommsManager* comms, UnitRecord* unit, const PendingSet& pending) {
    SaveResult result;
    if (!linkUp(comms) || unit == nullptr) {
        result.status = SaveStatus::NoLink;
        return result;
    }
    if (!pending.empty()) {
        result.status = SaveStatus::EditsPending;
        result.count = pending_setting_count(pending);
        return result;
    }
    if (!unit->loaded || !unit->unknown.empty()) {
        result.status = SaveStatus::NotLoaded;
        result.count = unit->unknown.size();
        return result;
    }

    const uint32_t version = get_value(comms, SETTINGS_COMMS, SETTINGS_VERSION);
    if (version == kReadFailed) {
        result.status = SaveStatus::VersionReadFailed;
        return result;
    }
    const uint32_t count = get_value(comms, SETTINGS_COMMS, SETTINGS_NUM_ELEMENTS);
    if (count == kReadFailed) {
        result.status = SaveStatus::CountReadFailed;
        return result;
    }
    if (count > SETTINGS_MAX_CRC_WORDS) {
        result.status = SaveStatus::InvalidCount;
        result.element_count = count;
        return result;
    }
    Settings_t& record = unit->record;
    record.version = version;
    record.num_elements = count;
    record.magic = SETTINGS_MAGIC_VALUE;
    record.crc32 = 0;
    result.crc = settings_CalcCRC(&record);
    printf("New CRC %08X\n", result.crc);

    if (store_settings(comms, result.crc) != 0) {
        result.status = SaveStatus::StoreFailed;
        return result;
    }
    record.crc32 = result.crc;
    unit->device_crc = result.crc;
    unit->sent_not_saved = false;
    result.status = SaveStatus::Ok;
    return result;
}

int store_settings(CommsManager* comms, uint32_t crc) {
    if (!linkUp(comms)) {
        return -1;
    }
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.can_ID = canmsg_save_user_settings();
    msg.msg_len = CAN_4_BYTES;
    for (int i = 0; i < 4; ++i) {
        msg.data[i] = static_cast<uint8_t>(crc >> (8 * i));
    }
    // A late answer to an earlier request must not be taken for the store's.
    drain_stale_frames(comms);
    if (comms->write(msg) <= 0) {
        qDebug() << "Failed to send store command";
        return -1;
    }
    // The unit erases the flash area of the record first and reports that with a flash
    // acknowledgement; the command acknowledgement follows once the record is stored.
    if (!wait_for_mx25_ack(comms, nullptr, nullptr)) {
        qDebug() << "Flash erase failed or timeout waiting for MX25 erase status";
        return -1;
    }
    qDebug() << "Flash erase succeeded";
    if (!wait_for_ack(comms, canmsg_save_user_settings())) {
        qDebug() << "Store command failed: no valid ACK (or NACK) for save settings";
        return -1;
    }
    return 0;
}
