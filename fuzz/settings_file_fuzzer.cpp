// A settings file of any content: a refused file fills nothing and says why; an accepted one
// carries a record whose CRC is its own, and the tool's own encoding of it reads back to the
// same record, header and calibration, without warnings.
#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "EFIS_shared/crc.h"
#include "fuzz_support.h"
#include "settings/settings_file.h"

namespace {

bool zero_bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    return std::all_of(b, b + n, [](uint8_t x) { return x == 0; });
}

bool nothing_filled(const SettingsFile& f) {
    const SettingsFileHeader& h = f.header;
    return h.tool_version.isEmpty() && !h.written.isValid() && h.serial_number == 0 &&
           h.firmware.version == 0 && h.generation == UnitGeneration::Current &&
           h.device_crc == 0 && zero_bytes(&f.record, sizeof(f.record)) &&
           !f.calibration.has_value() && f.calibration_unread.empty();
}

bool same_file(const SettingsFile& a, const SettingsFile& b) {
    const SettingsFileHeader& x = a.header;
    const SettingsFileHeader& y = b.header;
    // The file keeps the time to the second.
    return x.tool_version == y.tool_version &&
           x.written.toSecsSinceEpoch() == y.written.toSecsSinceEpoch() &&
           x.serial_number == y.serial_number && x.firmware.version == y.firmware.version &&
           x.generation == y.generation && x.device_crc == y.device_crc &&
           std::memcmp(&a.record, &b.record, sizeof(a.record)) == 0 &&
           a.calibration.has_value() == b.calibration.has_value() &&
           (!a.calibration.has_value() ||
            std::memcmp(&*a.calibration, &*b.calibration, sizeof(*a.calibration)) == 0) &&
           a.calibration_unread == b.calibration_unread;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const SettingsFileRead read = settings_file_decode(text);
    if (!read.ok) {
        fuzz::check(!read.error.isEmpty(), "a refusal says why");
        fuzz::check(read.warnings.isEmpty(), "a refusal has no warnings");
        fuzz::check(nothing_filled(read.file), "a refused file fills nothing");
        return 0;
    }
    fuzz::check(read.error.isEmpty(), "an accepted file has no error");
    fuzz::check(read.file.header.written.isValid(), "an accepted file has a valid time");
    Settings_t record = read.file.record;
    record.crc32 = 0;
    fuzz::check(read.file.record.crc32 == settings_CalcCRC(&record),
                "the record's CRC is computed over its words");

    const QByteArray again = settings_file_encode(read.file);
    const SettingsFileRead back = settings_file_decode(again);
    fuzz::check(back.ok, "the tool reads the file it writes of an accepted one");
    fuzz::check(back.warnings.isEmpty(), "the tool's own file has no hand-edited values");
    fuzz::check(same_file(read.file, back.file), "written and read back unchanged");
    fuzz::check(settings_file_encode(back.file) == again, "the encoding is stable");
    return 0;
}
