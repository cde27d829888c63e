// The exchange of the user settings record with the unit: load, send pending edits, commit.
// Plain C++ over the comms layer, shared by the window and any other front end; outcomes are
// values, and the protocol lines go to standard output as the comms layer's do.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"

class CommsManager;

using PendingSet = std::set<settings_struct_index>;

// Pending elements as a user counts them: the registration's three words are one setting.
size_t pending_setting_count(const PendingSet& pending);

// What the tool knows of the record the unit holds: the last load plus every value the unit
// acknowledged since. Save computes its CRC over this record, never over what a form shows.
struct UnitRecord {
    // The unit the record was read from, as its handshake named it at the load: a file
    // written from the record names this unit even once it is disconnected.
    uint32_t serial_number = 0xFFFFFFFFu;
    fwversion_t firmware{};
    bool current_generation = true;
    Settings_t record{};
    uint32_t device_crc = 0;      // the checksum the unit reported at the last load
    bool loaded = false;          // a load read the whole record
    PendingSet unknown;           // elements the last load could not read
    bool sent_not_saved = false;  // values acknowledged since the last successful save

    // Every value of the unit's record is known: what a file or a comparison may rely on.
    bool whole() const { return loaded && unknown.empty(); }
};

enum class LoadStatus {
    Ok,
    NoLink,
    ChecksumReadFailed,
    MagicReadFailed,
    VersionReadFailed,
    CountReadFailed,
    InvalidCount,    // an element count the record has no room for
    RecordRejected,  // the record refused a data index
    Cancelled,       // the user asked to stop; the rest was not asked for
};

struct LoadResult {
    LoadStatus status = LoadStatus::NoLink;
    uint32_t element_count = 0;                 // as reported, for InvalidCount
    int rejected_index = -1;                    // for RecordRejected
    std::vector<settings_struct_index> unread;  // read failures, stored as 0
    uint32_t calculated_crc = 0;
    bool crc_matches = false;
};

// Reads the whole record into `unit` (zeroed first; the header words read before a failure
// stay). On Ok the record, its CRC check and the unread elements are known. `cancel` (may be
// null) is looked at before each exchange.
LoadResult settings_load(CommsManager* comms, UnitRecord* unit,
                         const std::atomic<bool>* cancel = nullptr);

// Asks once more for each element the last load could not read (`unit->unknown`); those
// answered now take their place in the record and leave `unknown`. True when none is left.
bool settings_read_unknown(CommsManager* comms, UnitRecord* unit);

struct UpdateResult {
    int sent = 0;
    std::vector<settings_struct_index> failed;  // refused or unanswered, still pending
    bool cancelled = false;                     // stopped before the rest, still pending
};

// Sends each pending element of `working` in ascending index order. Acknowledged ones leave
// `pending` and enter `unit`; refused or unanswered ones stay pending, and so does every one
// not sent once `cancel` (may be null) is set.
UpdateResult settings_update(CommsManager* comms, const Settings_t& working, PendingSet* pending,
                             UnitRecord* unit, const std::atomic<bool>* cancel = nullptr);

enum class SaveStatus {
    Ok,
    NoLink,
    EditsPending,  // edits not sent yet: the unit would store a record without them
    NotLoaded,     // the unit's record is not known, so no CRC can be computed for it
    VersionReadFailed,
    CountReadFailed,
    InvalidCount,
    StoreFailed,
};

struct SaveResult {
    SaveStatus status = SaveStatus::NoLink;
    uint32_t crc = 0;
    uint32_t element_count = 0;  // as reported, for InvalidCount
    size_t count = 0;            // pending edits (EditsPending) or unknown values (NotLoaded)
};

// Has the unit commit what it holds, with the CRC of `unit`'s record after its header words
// are refreshed from the unit. Refuses, sending nothing, while `pending` is not empty.
SaveResult settings_save(CommsManager* comms, UnitRecord* unit, const PendingSet& pending);

// Has the unit commit its settings record; `crc` is the CRC the tool computed over it.
// 0 on success, -1 otherwise.
int store_settings(CommsManager* comms, uint32_t crc);
