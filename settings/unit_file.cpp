#include "settings/unit_file.h"

#include <QDateTime>

#include "comms/comms.h"

SettingsFile unit_settings_file(const CommsManager* comms, const UnitRecord& unit,
                                const Settings_t& record) {
    SettingsFile file;
    file.header.tool_version = QStringLiteral(EFIS_VERSION);
    QDateTime now = QDateTime::currentDateTimeUtc();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    file.header.written = now;
    // A record names the unit it was read from, whatever is connected now.
    const bool fromRecord = unit.loaded;
    file.header.serial_number = fromRecord         ? unit.serial_number
                                : comms != nullptr ? comms->serialNumber()
                                                   : 0xFFFFFFFFu;
    file.header.firmware = fromRecord ? unit.firmware : g_whoami_fwversion;
    const bool current = fromRecord ? unit.current_generation : device_firmware_at_least_0_2_12();
    file.header.generation = current ? UnitGeneration::Current : UnitGeneration::Legacy;
    file.header.device_crc = unit.device_crc;
    file.record = record;
    return file;
}
