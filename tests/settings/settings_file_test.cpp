// Settings files: what a file keeps of a record, what a reader refuses, how a file compares
// with the unit, and the calibration read that a file may carry, against the emulated unit.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "settings/calibration_elements.h"
#include "settings/calibration_read.h"
#include "settings/setting_names.h"
#include "settings/settings_compare.h"
#include "settings/settings_file.h"

namespace {

void put(Settings_t* s, settings_struct_index index, uint32_t word) {
    ASSERT_TRUE(settings_set_value(s, index, &word));
}

void putRegistration(Settings_t* s, const char* text) {
    std::memset(s->registration, 0, sizeof(s->registration));
    std::memcpy(s->registration, text, std::strlen(text));
}

void sealCrc(Settings_t* s) {
    s->crc32 = 0;
    s->crc32 = settings_CalcCRC(s);
}

Settings_t sampleRecord() {
    Settings_t s;
    std::memset(&s, 0, sizeof(s));
    s.magic = SETTINGS_MAGIC_VALUE;
    s.version = 3;
    s.num_elements = 31;
    s.units.units_value = 0xAA;  // Knots, Feet, Fahrenheit, InHg
    s.vspeeds = {40, 45, 50, 85, 120, 160, 65, 90};
    s.volt_warnings = {118, 155};
    s.volt_alerts = {115, 165};
    putRegistration(&s, "VHABC");
    s.sky_color[0] = 0xFF87CEEB;
    s.ground_color[1] = 0xFF8B4513;
    s.backlight_brightness = 10;
    s.roll_correction = 1.5f;
    s.pitch_correction = -0.3f;
    s.text_bg_alpha = 150;
    s.use_mag_heading = 1;
    s.ownship_icao = 0xABC123;
    s.emitter_cat = 1;
    s.enable_term_resistor = 1;
    s.map_track = map_track_up;
    sealCrc(&s);
    return s;
}

SettingsFile sampleFile(const Settings_t& record) {
    SettingsFile f;
    f.header.tool_version = QStringLiteral("0.1.0");
    f.header.written = QDateTime(QDate(2025, 1, 31), QTime(12, 34, 56), Qt::UTC);
    f.header.serial_number = 0x12345678;
    f.header.firmware.version = 0x00020C00;
    f.header.device_crc = record.crc32;
    f.record = record;
    return f;
}

size_t settingIndex(const char* name) {
    const int s = setting_by_name(QLatin1String(name));
    EXPECT_GE(s, 0) << name;
    return static_cast<size_t>(s);
}

// The encoded text with `from` replaced by `to`; `from` must occur exactly once.
QByteArray edited(const QByteArray& text, const QByteArray& from, const QByteArray& to) {
    EXPECT_EQ(text.count(from), 1) << from.constData();
    QByteArray copy = text;
    return copy.replace(from, to);
}

QByteArray sampleText() {
    return settings_file_encode(sampleFile(sampleRecord()));
}

struct Variant {
    const char* name;
    std::function<void(Settings_t*)> change;
    UnitGeneration generation;
    uint32_t firmware;
    bool registrationLossy;  // bytes the registration's human value cannot state
};

const Variant kVariants[] = {
    {"sample", [](Settings_t*) {}, UnitGeneration::Current, 0x00020C00, false},
    {"erased",
     [](Settings_t* s) {
         for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
             put(s, static_cast<settings_struct_index>(i), 0xFFFFFFFF);
         }
     },
     UnitGeneration::Legacy, 0x00010002, true},
    {"odd words",
     [](Settings_t* s) {
         put(s, UNITS_VALUE_INDEX, 0x000010AB);       // two speed units and an undefined bit
         put(s, ROLL_CORRECTION_INDEX, 0x7F800001);   // signalling NaN
         put(s, PITCH_CORRECTION_INDEX, 0x80000000);  // -0
         put(s, SKY_COLOR_1_INDEX, 0x8087CEEB);
         put(s, GEAR_INDI_COLOR_INDEX, 0x00000000);
         put(s, OWNSHIP_ICAO_INDEX, 0x01ABC123);
         put(s, ICAO_ADDR_TYPE_INDEX, 7);
         put(s, EMITTER_CAT_INDEX, 40);
         put(s, TERM_RESISTOR_INDEX, 5);
         put(s, MAP_DIR_INDEX, 2);
         put(s, MIN_VOLTS_ALERT_INDEX, 0xFFFF);
     },
     UnitGeneration::Current, 0x00020C03, false},
    {"floats and text",
     [](Settings_t* s) {
         put(s, ROLL_CORRECTION_INDEX, 0x7FC00000);   // quiet NaN
         put(s, PITCH_CORRECTION_INDEX, 0x3DCCCCCD);  // 0.1f
         putRegistration(s, "vh-\xC4z 12");           // lower case, Latin-1, a blank
         put(s, EMITTER_CAT_INDEX, 17);               // en dash in its text
         put(s, BACKLIGHT_BRIGHTNESS_INDEX, 0xFFFFFFFF);
     },
     UnitGeneration::Legacy, 0x00020B00, false},
};

TEST(SettingsFile, EveryElementRoundTripsThroughTheFileAndItsHumanValue) {
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        Settings_t record = sampleRecord();
        v.change(&record);
        sealCrc(&record);
        SettingsFile file = sampleFile(record);
        file.header.generation = v.generation;
        file.header.firmware.version = v.firmware;

        const SettingsFileRead read = settings_file_decode(settings_file_encode(file));
        ASSERT_TRUE(read.ok) << read.error.toStdString();
        EXPECT_TRUE(read.warnings.isEmpty());
        EXPECT_EQ(std::memcmp(&read.file.record, &record, sizeof(record)), 0);
        EXPECT_EQ(read.file.header.generation, v.generation);
        EXPECT_EQ(read.file.header.firmware.version, v.firmware);
        EXPECT_EQ(read.file.header.serial_number, 0x12345678u);
        EXPECT_EQ(read.file.header.device_crc, record.crc32);
        EXPECT_EQ(read.file.header.written, file.header.written);
        EXPECT_FALSE(read.file.calibration.has_value());

        for (size_t s = 0; s < kSettingCount; ++s) {
            SCOPED_TRACE(settings_table()[s].name);
            const QString human = human_value(record, s);
            std::vector<uint32_t> words;
            QString error;
            ASSERT_TRUE(parse_human(s, human, ValueLimits::Element, &words, &error))
                << error.toStdString();
            if (v.registrationLossy && s == settingIndex("registration")) {
                EXPECT_EQ(human, QString());
                continue;
            }
            EXPECT_EQ(words, setting_words(record, s)) << human.toStdString();
        }
    }
}

// Whatever a unit may hold: signed zeros, denormals, the float limits, infinities, NaNs
// with payloads, a decimal no float states exactly, words beyond the form's ranges and the
// element's.
TEST(SettingsFile, EveryWordShownOrWrittenReadsBackAsTheSameWord) {
    const uint32_t words[] = {0x00000000, 0x80000000, 0x00000001, 0x807FFFFF, 0x00800000,
                              0x80800000, 0x7F7FFFFF, 0xFF7FFFFF, 0x7F800000, 0xFF800000,
                              0x7FC00000, 0xFFC00000, 0x7FC00001, 0x7F800001, 0x3DCCCCCD,
                              0x3F7FFFFF, 0x42B40001, 0x00000015, 0x000000C8, 0x000000FF,
                              0x0000FFFF, 0x00FFFFFF, 0x01000000, 0x7FFFFFFF, 0xFFFFFFFF};
    const std::vector<uint32_t> registrations[] = {{0x1B5B3331, 0x6D07090A, 0x7F800000},
                                                   {0x41C4FE7E, 0x20202020, 0x20202000}};
    for (const uint32_t word : words) {
        SCOPED_TRACE(testing::Message() << std::hex << word);
        Settings_t record = sampleRecord();
        for (const SettingDef& def : settings_table()) {
            if (def.count == 1 && word_fits(def.first, word)) {
                put(&record, def.first, word);
            }
        }
        const std::vector<uint32_t> registration = registrations[word % 2];
        for (int i = 0; i < 3; ++i) {
            put(&record, static_cast<settings_struct_index>(REGISTRATION_1_INDEX + i),
                registration[static_cast<size_t>(i)]);
        }
        sealCrc(&record);
        const SettingsFileRead read =
            settings_file_decode(settings_file_encode(sampleFile(record)));
        ASSERT_TRUE(read.ok) << read.error.toStdString();
        EXPECT_TRUE(read.warnings.isEmpty()) << read.warnings.join(' ').toStdString();
        EXPECT_EQ(std::memcmp(&read.file.record, &record, sizeof(record)), 0);
        for (size_t s = 0; s < kSettingCount; ++s) {
            const QString human = human_value(record, s);
            std::vector<uint32_t> back;
            QString error;
            EXPECT_TRUE(parse_human(s, human, ValueLimits::Element, &back, &error))
                << settings_table()[s].name << ": " << error.toStdString();
            EXPECT_EQ(back, setting_words(record, s))
                << settings_table()[s].name << ": " << human.toStdString();
        }
    }
}

TEST(SettingsFile, HumanValuesUseTheFormsTerms) {
    struct Case {
        const char* setting;
        std::function<void(Settings_t*)> change;
        const char* human;
    };
    const Case cases[] = {
        {"units", [](Settings_t*) {}, "Knots, Feet, Fahrenheit, InHg"},
        {"units", [](Settings_t* s) { put(s, UNITS_VALUE_INDEX, 0x151); },
         "MPH, Meters, Celsius, Mbar"},
        {"units", [](Settings_t* s) { put(s, UNITS_VALUE_INDEX, 0x10AA); }, "0x000010aa"},
        {"vne", [](Settings_t*) {}, "160"},
        {"min_volts_warning", [](Settings_t*) {}, "11.8"},
        {"max_volts_alert", [](Settings_t*) {}, "16.5"},
        {"registration", [](Settings_t*) {}, "VHABC"},
        {"sky_color_0", [](Settings_t*) {}, "#87ceeb"},
        {"sky_color_0", [](Settings_t* s) { put(s, SKY_COLOR_0_INDEX, 0x0087CEEB); }, "#0087ceeb"},
        {"pitch_correction", [](Settings_t*) {}, "-0.3"},
        {"roll_correction", [](Settings_t* s) { put(s, ROLL_CORRECTION_INDEX, 0x7FC00000); },
         "nan"},
        {"roll_correction", [](Settings_t* s) { put(s, ROLL_CORRECTION_INDEX, 0xFFFFFFFF); },
         "0xffffffff"},
        {"ownship_icao", [](Settings_t* s) { put(s, OWNSHIP_ICAO_INDEX, 0xFF); }, "0000FF"},
        {"icao_address_type", [](Settings_t*) {}, "Use ICAO #"},
        {"icao_address_type", [](Settings_t* s) { put(s, ICAO_ADDR_TYPE_INDEX, 1); },
         "Random ICAO #"},
        {"emitter_cat", [](Settings_t* s) { put(s, EMITTER_CAT_INDEX, 5); },
         "A5 : Heavy (> 300k lbs) "},
        {"emitter_cat", [](Settings_t* s) { put(s, EMITTER_CAT_INDEX, 18); },
         "C2 : Surface vehicle \xE2\x80\x93 service vehicle"},
        {"termination_resistor", [](Settings_t*) {}, "Enable"},
        {"termination_resistor", [](Settings_t* s) { put(s, TERM_RESISTOR_INDEX, 0); }, "Disable"},
        {"map_view", [](Settings_t*) {}, "Track Up"},
        {"text_bg_alpha", [](Settings_t*) {}, "150"},
    };
    for (const Case& c : cases) {
        Settings_t record = sampleRecord();
        c.change(&record);
        EXPECT_EQ(human_value(record, settingIndex(c.setting)), QString::fromUtf8(c.human))
            << c.setting;
    }
}

TEST(SettingsFile, HumanValuesThatAreNoValueOfTheSettingAreRefused) {
    struct Case {
        const char* setting;
        const char* text;
        const char* error;  // empty: accepted, giving `word`
        uint32_t word;
    };
    const Case cases[] = {
        {"vne", "256", "\"256\" is not a whole number from 0 to 255", 0},
        {"vne", " 170 ", "", 170},
        {"vne", "-1", "\"-1\" is not a whole number from 0 to 255", 0},
        {"min_volts_warning", "11.85",
         "\"11.85\" is not volts with at most one decimal, from 0 to 6553.5", 0},
        {"min_volts_warning", "12", "", 120},
        {"max_volts_alert", "6553.6",
         "\"6553.6\" is not volts with at most one decimal, from 0 to 6553.5", 0},
        {"registration", "VHABCDEFGHIJ",
         "\"VHABCDEFGHIJ\" is not at most 11 Latin-1 characters, none of them NUL or \xC3\xBF", 0},
        {"registration", "VH\xE2\x82\xAC", "is not at most 11 Latin-1 characters", 0},
        {"sky_color_0", "#87ceeg", "\"#87ceeg\" is not a colour \"#rrggbb\" or \"#aarrggbb\"", 0},
        {"sky_color_0", "#87CEEB", "", 0xFF87CEEB},
        {"roll_correction", "1,5", "\"1,5\" is not degrees as a decimal number", 0},
        {"roll_correction", "1e39", "is not degrees as a decimal number", 0},
        {"roll_correction", "-0", "", 0x80000000},
        {"ownship_icao", "ABC12", "\"ABC12\" is not six hexadecimal digits", 0},
        {"ownship_icao", "abc123", "", 0xABC123},
        {"emitter_cat", "A5", "", 5},
        {"emitter_cat", "D1", "is not an emitter category", 0},
        {"map_view", "South Up", "\"South Up\" is not \"North Up\" or \"Track Up\"", 0},
        {"units", "Knots, Feet, Fahrenheit", "is not four unit texts", 0},
        {"units", "Knots, Feet, InHg, Fahrenheit",
         "\"InHg\" is not a temperature unit: Fahrenheit, Celsius", 0},
        // Words are matched without regard to case.
        {"units", "knots, FEET, celsius, mbar", "", 0x14A},
        {"map_view", "track up", "", 1},
        {"termination_resistor", "disable", "", 0},
        {"backlight_brightness", "4294967296", "is not a whole number from 0 to 4294967295", 0},
        {"termination_resistor", "0x0000005", "is not \"Enable\" or \"Disable\"", 0},
        // The ranges of the form's controls.
        {"backlight_brightness", "200", "200 is out of range (0 to 21)", 0},
        {"backlight_brightness", "21", "", 21},
        {"vne", "241", "241 is out of range (0 to 240)", 0},
        {"min_volts_alert", "4.9", "4.9 is out of range (5 to 65)", 0},
        {"roll_correction", "nan", "nan is out of range (-90 to 90)", 0},
        {"roll_correction", "90.00001", "90.00001 is out of range (-90 to 90)", 0},
        // A word given as itself is never out of range.
        {"roll_correction", "0x7fc00000", "", 0x7FC00000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint32_t> words;
        QString error;
        const bool ok = parse_human(settingIndex(c.setting), QString::fromUtf8(c.text),
                                    ValueLimits::Form, &words, &error);
        if (*c.error == '\0') {
            ASSERT_TRUE(ok) << error.toStdString();
            EXPECT_EQ(words, std::vector<uint32_t>{c.word});
        } else {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.error))) << error.toStdString();
        }
    }
}

TEST(SettingsFile, ReadingRefusesWithAMessageNamingTheLineOrKey) {
    const QByteArray good = sampleText();
    const QByteArray vneLine = "\"vne\": {\"raw\": \"0x000000a0\", \"value\": \"160\"},\n";
    struct Case {
        const char* what;
        QByteArray text;
        const char* error;
    };
    const Case cases[] = {
        {"not JSON", "{\n  \"format\": \"efis-config-settings\",\n  oops\n}", "Not a JSON file: "},
        {"not JSON, line", "{\n  \"format\": \"efis-config-settings\",\n  oops\n}", " at line 3"},
        {"no object", "[1, 2]", "Not a settings file: the JSON text is no object"},
        {"other format", "{\"format\": \"other-tool\", \"format_version\": 1}",
         "Not a settings file: the format is \"other-tool\", not \"efis-config-settings\""},
        {"no format", "{\"format_version\": 1}", "Not a settings file: \"format\" is missing"},
        {"unknown version", "{\"format\": \"efis-config-settings\", \"format_version\": 2}",
         "format_version 2 is not known to this tool, which reads version 1"},
        {"missing setting", edited(good, "        " + vneLine, ""), "settings.vne is missing"},
        {"setting twice", edited(good, vneLine, vneLine + "        " + vneLine),
         "settings.vne appears more than once"},
        {"unknown setting", edited(good, "\"vne\":", "\"vnee\":"),
         "settings.vnee: unknown setting"},
        {"speed too big", edited(good, "\"0x000000a0\"", "\"0x00000100\""),
         "settings.vne.raw: 0x00000100 does not fit; the element holds at most 255"},
        {"voltage too big", edited(good, "\"0x00000076\"", "\"0x00010000\""),
         "settings.min_volts_warning.raw: 0x00010000 does not fit; the element holds at most "
         "65535"},
        {"raw no word", edited(good, "\"0x000000a0\"", "\"160\""),
         "settings.vne.raw must be a word: \"0x\" and up to 8 hexadecimal digits"},
        {"value does not parse", edited(good, "\"value\": \"160\"", "\"value\": \"fast\""),
         "settings.vne.value: \"fast\" is not a whole number from 0 to 255"},
        {"neither", edited(good, vneLine, "\"vne\": {},\n"),
         "settings.vne has neither \"raw\" nor \"value\""},
        {"registration words", edited(good, "\"0x56484142\", ", ""),
         "settings.registration.raw must be an array of 3 words"},
        {"header key", edited(good, "        \"serial_number\": 305419896,\n", ""),
         "header.serial_number is missing"},
        {"generation", edited(good, "\"current\"", "\"modern\""),
         "header.generation must be \"current\" or \"legacy\""},
        {"firmware", edited(good, "\"0.2.12\"", "\"0.2\""),
         "header.firmware_version must read like \"0.2.12\""},
        {"unknown key", edited(good, "\"header\":", "\"headers\":"), "headers: unknown key"},
        {"value alone out of range",
         edited(good, "{\"raw\": \"0x0000000a\", \"value\": \"10\"}", "{\"value\": \"200\"}"),
         "settings.backlight_brightness.value: 200 is out of range (0 to 21)"},
        {"header key twice",
         edited(good, "\"tool_version\": ", "\"tool_version\": \"\", \"tool_version\": "),
         "header.tool_version appears more than once"},
        {"key twice, escaped",
         edited(good, vneLine, vneLine + "\"v\\u006ee\": {\"value\": \"1\"},\n"),
         "settings.vne appears more than once"},
        {"key twice, surrogate pair",
         edited(good,
                "\"format\": ", "\"\xF0\x9F\x98\x80\": 1, \"\\ud83d\\ude00\": 2, \"format\": "),
         "\xF0\x9F\x98\x80 appears more than once"},
        {"too large", QByteArray(kSettingsFileMaxSize + 1, ' '),
         "The file is larger than 1 MiB (1048577 bytes)"},
    };
    for (const Case& c : cases) {
        const SettingsFileRead read = settings_file_decode(c.text);
        EXPECT_FALSE(read.ok) << c.what;
        EXPECT_TRUE(read.error.contains(QString::fromUtf8(c.error)))
            << c.what << ": " << read.error.toStdString();
    }
}

TEST(SettingsFile, EachSettingStandsOnItsOwnLineSoADiffShowsOneChange) {
    const QList<QByteArray> lines = sampleText().split('\n');
    int previous = -1;
    for (const SettingDef& def : settings_table()) {
        const QByteArray start = QByteArray("        \"") + def.name + "\": {\"raw\": ";
        int count = 0;
        for (const QByteArray& line : lines) {
            count += line.contains(QByteArray("\"") + def.name + "\"") ? 1 : 0;
        }
        EXPECT_EQ(count, 1) << def.name;
        const auto line = std::find_if(lines.begin(), lines.end(),
                                       [&](const QByteArray& l) { return l.startsWith(start); });
        ASSERT_NE(line, lines.end()) << def.name;
        const int at = static_cast<int>(line - lines.begin());
        EXPECT_GT(at, previous) << def.name << " out of index order";
        previous = at;
    }

    Settings_t faster = sampleRecord();
    put(&faster, VNE_INDEX, 170);
    SettingsFile fasterFile = sampleFile(faster);
    fasterFile.header.device_crc = sampleRecord().crc32;
    const QList<QByteArray> other = settings_file_encode(fasterFile).split('\n');
    ASSERT_EQ(other.size(), lines.size());
    QList<QByteArray> changed;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i] != other[i]) {
            changed << other[i];
        }
    }
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.front(), "        \"vne\": {\"raw\": \"0x000000aa\", \"value\": \"170\"},");
}

TEST(SettingsFile, AHandEditedValueCountsOnlyWithoutItsRawWord) {
    const QByteArray good = sampleText();
    const QByteArray from = "{\"raw\": \"0x000000a0\", \"value\": \"160\"}";

    const SettingsFileRead edit = settings_file_decode(edited(good, from, "{\"value\": \"170\"}"));
    ASSERT_TRUE(edit.ok) << edit.error.toStdString();
    EXPECT_TRUE(edit.warnings.isEmpty());
    const std::vector<SettingDifference> rows = settings_compare(sampleRecord(), edit.file.record);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, QStringLiteral("vne"));
    EXPECT_EQ(rows[0].on_unit, QStringLiteral("160"));
    EXPECT_EQ(rows[0].in_file, QStringLiteral("170"));

    // With the raw word left in place the edit is overruled, and the reader says so.
    const SettingsFileRead kept =
        settings_file_decode(edited(good, from, "{\"raw\": \"0x000000a0\", \"value\": \"170\"}"));
    ASSERT_TRUE(kept.ok) << kept.error.toStdString();
    EXPECT_TRUE(settings_compare(sampleRecord(), kept.file.record).empty());
    ASSERT_EQ(kept.warnings.size(), 1);
    EXPECT_EQ(kept.warnings.front(),
              QStringLiteral("settings.vne: the value \"170\" differs from the raw word "
                             "0x000000a0 (\"160\"); the raw word is used"));
}

TEST(SettingsFile, ComparisonListsDifferingSettingsInIndexOrderWithIdentityMarked) {
    const Settings_t unit = sampleRecord();
    Settings_t file = unit;
    put(&file, EMITTER_CAT_INDEX, 9);
    put(&file, USE_MAG_INDEX, 0);
    put(&file, VNE_INDEX, 170);
    put(&file, REGISTRATION_2_INDEX, 0x44000000);  // VHABD
    const std::vector<SettingDifference> rows = settings_compare(unit, file);
    ASSERT_EQ(rows.size(), 4u);
    const char* names[] = {"vne", "registration", "use_mag_heading", "emitter_cat"};
    const bool identity[] = {false, true, false, true};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].name, QLatin1String(names[i]));
        EXPECT_EQ(rows[i].setting, settingIndex(names[i]));
        EXPECT_EQ(rows[i].identity, identity[i]);
    }
    EXPECT_EQ(rows[1].in_file, QStringLiteral("VHABD"));
    EXPECT_EQ(rows[3].on_unit, QStringLiteral("A1 : Light (< 15.5k lbs)"));
    EXPECT_EQ(rows[3].in_file, QStringLiteral("B1 : Glider / sailplane"));

    // An erased registration and an empty one read alike; their words tell them apart.
    Settings_t erased = unit;
    Settings_t empty = unit;
    for (int i = REGISTRATION_1_INDEX; i <= REGISTRATION_3_INDEX; ++i) {
        put(&erased, static_cast<settings_struct_index>(i), 0xFFFFFFFF);
        put(&empty, static_cast<settings_struct_index>(i), 0);
    }
    const std::vector<SettingDifference> alike = settings_compare(erased, empty);
    ASSERT_EQ(alike.size(), 1u);
    EXPECT_EQ(alike[0].on_unit, QStringLiteral("0xffffffff 0xffffffff 0xffffffff"));
    EXPECT_EQ(alike[0].in_file, QStringLiteral("0x00000000 0x00000000 0x00000000"));
}

TEST(SettingsFile, AnotherLayoutIsRefusedAnotherUnitOrFirmwareWarned) {
    const SettingsFile file = sampleFile(sampleRecord());
    Settings_t unit = sampleRecord();
    EXPECT_EQ(settings_file_layout_check(file, unit), QString());
    unit.version = 4;
    EXPECT_EQ(settings_file_layout_check(file, unit),
              QStringLiteral("This file was made for another settings layout (magic 0x5f444152, "
                             "memory version 3, 31 elements); the unit has magic 0x5f444152, "
                             "memory version 4, 31 elements"));
    unit = sampleRecord();
    unit.magic = 0x12345678;
    EXPECT_FALSE(settings_file_layout_check(file, unit).isEmpty());

    fwversion_t same;
    same.version = 0x00020C00;
    fwversion_t newer;
    newer.version = 0x00020D01;
    EXPECT_TRUE(settings_file_warnings(file, 0x12345678, same).isEmpty());
    EXPECT_EQ(settings_file_warnings(file, 7, same),
              QStringList{QStringLiteral("This file comes from the unit with serial number "
                                         "0x12345678; this unit's serial number is 0x00000007")});
    EXPECT_EQ(settings_file_warnings(file, 0x12345678, newer),
              QStringList{QStringLiteral(
                  "This file was written from firmware 0.2.12; this unit runs 0.2.13-rc1")});
    EXPECT_EQ(settings_file_warnings(file, 7, newer).size(), 2);
}

TEST(SettingsFile, WritesWholeFilesAndReadsThemBack) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("unit.json"));
    QString error;
    ASSERT_TRUE(settings_file_write(path, sampleFile(sampleRecord()), &error));
    Settings_t other = sampleRecord();
    put(&other, VMIN_INDEX, 30);
    ASSERT_TRUE(settings_file_write(path, sampleFile(other), &error));  // replaces it whole
    const SettingsFileRead read = settings_file_read(path);
    ASSERT_TRUE(read.ok) << read.error.toStdString();
    EXPECT_EQ(std::memcmp(&read.file.record, &other, sizeof(other)), 0);

    EXPECT_FALSE(settings_file_write(dir.filePath(QStringLiteral("no/such/dir/unit.json")),
                                     sampleFile(other), &error));
    EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(ENOENT)));

    QFile big(dir.filePath(QStringLiteral("big.json")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(kSettingsFileMaxSize + 1));
    big.close();
    EXPECT_EQ(settings_file_read(big.fileName()).error,
              QStringLiteral("The file is larger than 1 MiB (1048577 bytes)"));
    EXPECT_TRUE(settings_file_read(dir.filePath(QStringLiteral("absent.json")))
                    .error.startsWith(QStringLiteral("Cannot open ")));
}

struct Generation {
    const char* name;
    emu::Generation gen;
    uint32_t request_id;
};

class CalibrationReadTest : public ::testing::TestWithParam<Generation> {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam().gen);
        comms = std::make_unique<CommsManager>();
        ASSERT_TRUE(comms->establish_connection());
        emu_hid::unit().clear_received();
    }
    void TearDown() override {
        comms.reset();
        emu_hid::reset();
    }
    std::unique_ptr<CommsManager> comms;
};

TEST_P(CalibrationReadTest, ReadsEveryElementTellsTheUnreadOneAndWritesNothing) {
    SENSOR_CALIB_t held;
    std::memset(&held, 0, sizeof(held));
    for (const CalibrationElement& e : calibration_elements()) {
        uint32_t word = 0x3F800000u + static_cast<uint32_t>(e.index);
        calib_set_value(&held, e.index, &word);
    }
    uint32_t erased = 0xFFFFFFFF;
    calib_set_value(&held, CALIB_CRC_INDEX, &erased);
    emu_hid::unit().set_calibration(held);

    // The unit stays silent on the value request for the twentieth element (index 19).
    emu::Fault silent;
    silent.no_answer = true;
    silent.answer = emu::AnswerKind::Reply;
    silent.skip_first = 19;
    silent.times = 1;
    emu_hid::unit().set_fault(GetParam().request_id, silent);

    SENSOR_CALIB_t read;
    std::vector<int> unread;
    EXPECT_FALSE(read_calibration(comms.get(), &read, &unread));
    EXPECT_EQ(unread, std::vector<int>{MMC_INITIAL_A_MATRIX_2_0_index});
    for (const CalibrationElement& e : calibration_elements()) {
        const uint32_t expected =
            e.index == MMC_INITIAL_A_MATRIX_2_0_index ? 0u : calib_get_value(&held, e.index);
        EXPECT_EQ(calib_get_value(&read, e.index), expected) << e.name;
    }
    for (const COMMS_MSG_t& frame : emu_hid::unit().received()) {
        const uint32_t id = frame.can_ID;  // the frame is packed
        EXPECT_EQ(id, GetParam().request_id);
    }
    // The 45 elements after the unread twentieth are confirmed by a second read each.
    EXPECT_EQ(emu_hid::unit().received().size(), kCalibrationElementCount + 45);

    // A file keeps it for the installer's records, the unread element as null.
    SettingsFile file = sampleFile(sampleRecord());
    file.calibration = read;
    file.calibration_unread = unread;
    const QByteArray text = settings_file_encode(file);
    EXPECT_TRUE(text.contains("        \"mmc_a_matrix_2_0\": null,\n"));
    EXPECT_TRUE(text.contains("        \"crc32\": {\"raw\": \"0xffffffff\"}\n"));
    const SettingsFileRead back = settings_file_decode(text);
    ASSERT_TRUE(back.ok) << back.error.toStdString();
    ASSERT_TRUE(back.file.calibration.has_value());
    EXPECT_EQ(std::memcmp(&*back.file.calibration, &read, sizeof(read)), 0);
    EXPECT_EQ(back.file.calibration_unread, unread);
}

TEST_P(CalibrationReadTest, LateAnswerOfAnUnreadElementIsNotTakenForTheNextOne) {
    SENSOR_CALIB_t held;
    std::memset(&held, 0, sizeof(held));
    for (const CalibrationElement& e : calibration_elements()) {
        uint32_t word = 0x40000000u + static_cast<uint32_t>(e.index);
        calib_set_value(&held, e.index, &word);
    }
    emu_hid::unit().set_calibration(held);
    // The first element's answer comes after its read gave up (a USB read waits 1000 ms).
    emu::Fault late;
    late.answer = emu::AnswerKind::Reply;
    late.delay_ms = 1300;
    late.times = 1;
    emu_hid::unit().set_fault(GetParam().request_id, late);

    SENSOR_CALIB_t read;
    std::vector<int> unread;
    EXPECT_FALSE(read_calibration(comms.get(), &read, &unread));
    const int first = calibration_elements()[0].index;
    EXPECT_EQ(unread, std::vector<int>{first});
    for (const CalibrationElement& e : calibration_elements()) {
        if (e.index != first) {
            EXPECT_EQ(calib_get_value(&read, e.index), calib_get_value(&held, e.index)) << e.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, CalibrationReadTest,
                         ::testing::Values(Generation{"Current", emu::Generation::Current, 0x330},
                                           Generation{"Legacy", emu::Generation::Legacy, 0x354}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
