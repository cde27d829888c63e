// The settings file of what the connected unit holds, with the header the last handshake and
// load give it. Shared by the window's export and backups and the command-line tool.
#pragma once

#include "EFIS_shared/settings_types.h"
#include "settings/settings_exchange.h"
#include "settings/settings_file.h"

class CommsManager;

// `record` is the unit's record or one with edits laid over it; the written time is now, to
// the second. The header names the unit `unit` was loaded from; without a load (a calibration
// file), the unit `comms` is connected to.
SettingsFile unit_settings_file(const CommsManager* comms, const UnitRecord& unit,
                                const Settings_t& record);
