// efis-cli's verbs in-process, with --json so that what each verb reports can be held
// against what it left on the unit.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "EFIS_shared/get_set.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "settings/calibration_elements.h"
#include "settings/setting_names.h"
#include "settings/settings_exchange.h"
#include "settings/settings_file.h"
#include "settings/unit_file.h"
#include "settings/word_text.h"
#include "tests/cli/cli_test_support.h"
#include "tests/faults/matrix_actions.h"

namespace fault_matrix {

namespace {

// Runs the verb on the USB link with its result as JSON.
class CliAction : public Action {
public:
    Outcome run() override {
        QStringList args = {"--link", "usb", "--json"};
        args << arguments();
        std::atomic<bool> cancel{false};
        const cli_test::CliResult r = cli_test::run_cli(args, &cancel);
        QJsonObject result;
        for (const QJsonObject& event : r.events()) {
            if (event["event"].toString() == "result") {
                result = event;
            }
        }
        EXPECT_EQ(result["exit_status"].toInt(-1), r.status) << r.out;
        check(r.status, result);
        const bool warned = !result["warnings"].toArray().isEmpty();
        return {r.status == 0 && !warned, "exit " + std::to_string(r.status) +
                                              (warned ? ", warned" : "") + " " +
                                              result["error"].toString().toStdString()};
    }

protected:
    virtual QStringList arguments() const = 0;
    // What the verb left on the unit against its exit status and result.
    virtual void check(int status, const QJsonObject& result) = 0;
};

std::vector<uint32_t> raw_words(const QJsonArray& raw) {
    std::vector<uint32_t> words;
    for (const QJsonValue& v : raw) {
        uint32_t w = 0;
        EXPECT_TRUE(parse_hex_word(v.toString(), &w)) << v.toString().toStdString();
        words.push_back(w);
    }
    return words;
}

bool edited(int index) {
    const auto& e = edited_elements();
    return std::find(e.begin(), e.end(), static_cast<settings_struct_index>(index)) != e.end();
}

// After a verb that sends the edits and saves: untouched elements are as before, edited
// ones old or new; a stored record holds every edit; exit 0 means sent and stored.
void check_sent_and_saved(int status, const QJsonObject& result, const Settings_t& before) {
    const Settings_t after = emu_hid::unit().settings();
    const Settings_t target = with_edits(before);
    bool all_new = true;
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        if (!edited(i)) {
            EXPECT_EQ(word(after, i), word(before, i)) << "element " << i << " was not named";
            continue;
        }
        EXPECT_TRUE(word(after, i) == word(before, i) || word(after, i) == word(target, i))
            << "element " << i;
        all_new = all_new && word(after, i) == word(target, i);
    }
    const bool stored = emu_hid::unit().store_count() == 1;
    if (stored) {
        EXPECT_TRUE(all_new) << "the unit stored a record without every edit";
    }
    if (status == 0) {
        EXPECT_TRUE(all_new) << "exit 0, an edit is not on the unit";
        EXPECT_TRUE(stored) << "exit 0, nothing stored";
        EXPECT_TRUE(crc_checks(after));
        EXPECT_TRUE(result["saved"].toBool());
    }
}

class Info : public CliAction {
public:
    void prepare() override {}

protected:
    QStringList arguments() const override { return {"info"}; }
    void check(int status, const QJsonObject& result) override {
        if (status != 0) {
            return;
        }
        // The tool's identification of the unit: serial number and generation.
        EXPECT_EQ(result["serial_number"].toString(), hex_word(0x00C0FFEE));
        const bool legacy = emu_hid::unit().generation() == emu::Generation::Legacy;
        EXPECT_EQ(result["generation"].toString(), legacy ? "legacy" : "current");
    }
};

class SettingsShow : public CliAction {
public:
    void prepare() override {}

protected:
    QStringList arguments() const override { return {"settings", "show"}; }
    void check(int status, const QJsonObject& result) override {
        const Settings_t held = emu_hid::unit().settings();
        const QJsonArray settings = result["settings"].toArray();
        if (status == 0) {
            EXPECT_EQ(settings.size(), static_cast<int>(kSettingCount));
        }
        // Every value shown as read is the unit's, whatever the exit status.
        for (int s = 0; s < settings.size(); ++s) {
            const QJsonObject item = settings[s].toObject();
            EXPECT_TRUE(status != 0 || item["read"].toBool()) << "exit 0 with a value unread";
            if (item["read"].toBool()) {
                EXPECT_EQ(raw_words(item["raw"].toArray()),
                          setting_words(held, static_cast<size_t>(s)))
                    << item["name"].toString().toStdString();
            }
        }
    }
};

// The edits' assignments as raw words, the registration as its three.
QStringList edit_assignments() {
    const Settings_t e = with_edits(emu_hid::unit().settings());
    return {
        QStringLiteral("vne=%1").arg(hex_word(word(e, VNE_INDEX))),
        QStringLiteral("registration=%1,%2,%3")
            .arg(hex_word(word(e, REGISTRATION_1_INDEX)), hex_word(word(e, REGISTRATION_2_INDEX)),
                 hex_word(word(e, REGISTRATION_3_INDEX))),
        QStringLiteral("green_arc_color=%1").arg(hex_word(word(e, GREEN_ARC_COLOR_INDEX)))};
}

class SettingsSet : public CliAction {
public:
    void prepare() override {
        before = emu_hid::unit().settings();
        assignments = edit_assignments();
    }

protected:
    QStringList arguments() const override {
        return QStringList{"settings", "set"} + assignments + QStringList{"--save"};
    }
    void check(int status, const QJsonObject& result) override {
        check_sent_and_saved(status, result, before);
    }

private:
    Settings_t before{};
    QStringList assignments;
};

class SettingsImport : public CliAction {
public:
    void prepare() override {
        before = emu_hid::unit().settings();
        path = temp_path("cli-import.json");
        auto comms = connect_usb();
        UnitRecord unit;
        ASSERT_EQ(settings_load(comms.get(), &unit).status, LoadStatus::Ok);
        QString error;
        ASSERT_TRUE(settings_file_write(
            QString::fromStdString(path),
            unit_settings_file(comms.get(), unit, with_edits(unit.record)), &error))
            << error.toStdString();
    }

protected:
    QStringList arguments() const override {
        return {"settings", "import", QString::fromStdString(path), "--save"};
    }
    void check(int status, const QJsonObject& result) override {
        std::remove(path.c_str());
        check_sent_and_saved(status, result, before);
    }

private:
    Settings_t before{};
    std::string path;
};

// Calibration values in a written file: those present are the unit's; exit 0 without a
// warning means all are present.
void check_calibration(const SENSOR_CALIB_t& written, const std::vector<int>& unread) {
    SENSOR_CALIB_t unit_calibration = emu_hid::unit().calibration();
    SENSOR_CALIB_t copy = written;
    for (const CalibrationElement& e : calibration_elements()) {
        if (std::find(unread.begin(), unread.end(), e.index) == unread.end()) {
            EXPECT_EQ(calib_get_value(&copy, e.index), calib_get_value(&unit_calibration, e.index))
                << "calibration element " << e.name;
        }
    }
}

class SettingsExport : public CliAction {
public:
    void prepare() override {
        path = temp_path("cli-export.json");
        std::remove(path.c_str());
    }

protected:
    QStringList arguments() const override {
        return {"settings", "export", QString::fromStdString(path)};
    }
    void check(int status, const QJsonObject& result) override {
        const SettingsFileRead back = settings_file_read(QString::fromStdString(path));
        const bool written = QFile::exists(QString::fromStdString(path));
        std::remove(path.c_str());
        if (status != 0) {
            EXPECT_FALSE(written) << "exit " << status << ", a file was written";
            return;
        }
        ASSERT_TRUE(back.ok) << back.error.toStdString();
        const Settings_t held = emu_hid::unit().settings();
        for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            EXPECT_EQ(word(back.file.record, i), word(held, i)) << "element " << i;
        }
        ASSERT_TRUE(back.file.calibration.has_value());
        check_calibration(*back.file.calibration, back.file.calibration_unread);
        EXPECT_EQ(back.file.calibration_unread.empty(), result["warnings"].toArray().isEmpty())
            << "unread calibration values and the warnings disagree";
    }

private:
    std::string path;
};

class CalibrationExport : public CliAction {
public:
    void prepare() override {
        path = temp_path("cli-calibration.json");
        std::remove(path.c_str());
    }

protected:
    QStringList arguments() const override {
        return {"calibration", "export", QString::fromStdString(path)};
    }
    void check(int status, const QJsonObject& result) override {
        QFile file(QString::fromStdString(path));
        const bool opened = file.open(QIODevice::ReadOnly);
        const QJsonObject calibration =
            QJsonDocument::fromJson(file.readAll()).object()["calibration"].toObject();
        file.close();
        std::remove(path.c_str());
        if (!opened) {
            EXPECT_NE(status, 0) << "exit 0 without a file";
            return;
        }
        SENSOR_CALIB_t written{};
        std::vector<int> unread;
        for (const CalibrationElement& e : calibration_elements()) {
            const QJsonValue v = calibration[QLatin1String(e.name)];
            if (v.isNull() || !v.isObject()) {
                unread.push_back(e.index);
                continue;
            }
            uint32_t w = 0;
            EXPECT_TRUE(parse_hex_word(v.toObject()["raw"].toString(), &w)) << e.name;
            calib_set_value(&written, e.index, &w);
        }
        check_calibration(written, unread);
        EXPECT_EQ(static_cast<int>(unread.size()), result["unread"].toInt(-1));
        if (status == 0) {
            EXPECT_TRUE(unread.empty()) << "exit 0 with calibration values missing";
        }
    }

private:
    std::string path;
};

class FirmwareVerb : public CliAction {
public:
    void prepare() override {
        image = small_firmware_image();
        path = temp_path("cli-firmware.bin");
        write_bytes(path, image);
    }

protected:
    QStringList arguments() const override { return {"firmware", QString::fromStdString(path)}; }
    void check(int status, const QJsonObject&) override {
        std::remove(path.c_str());
        if (status == 0) {
            EXPECT_EQ(emu_hid::unit().flash_read(firmware_bank_address(),
                                                 static_cast<uint32_t>(image.size())),
                      image)
                << "exit 0, the bank does not hold the image";
        }
    }

private:
    std::vector<uint8_t> image;
    std::string path;
};

class AirportsVerb : public CliAction {
public:
    void prepare() override {
        db = small_airport_db();
        path = temp_path("cli-airports.db");
        write_bytes(path, db);
    }

protected:
    QStringList arguments() const override { return {"airports", QString::fromStdString(path)}; }
    void check(int status, const QJsonObject&) override {
        std::remove(path.c_str());
        const emu::EfisUnit& unit = emu_hid::unit();
        if (status == 0) {
            EXPECT_EQ(unit.flash_read(0, static_cast<uint32_t>(db.size())), db)
                << "exit 0, the flash does not hold the database";
            EXPECT_TRUE(unit.airport_db_open()) << "exit 0, the database is closed";
        }
    }

private:
    std::vector<uint8_t> db;
    std::string path;
};

class RebootVerb : public CliAction {
public:
    void prepare() override {}

protected:
    QStringList arguments() const override { return {"reboot", "--no-wait"}; }
    void check(int status, const QJsonObject&) override {
        EXPECT_EQ(emu_hid::unit().reboot_count(), status == 0 ? 1u : 0u)
            << "exit " << status << " against what reached the unit";
    }
};

template <typename T>
std::unique_ptr<Action> make() {
    return std::make_unique<T>();
}

}  // namespace

std::vector<ActionDef> cli_actions() {
    return {
        {"CliInfo", make<Info>, {Request::Identification}, true},
        {"CliSettingsShow", make<SettingsShow>, {}},
        {"CliSettingsSet", make<SettingsSet>, {}},
        {"CliSettingsExport", make<SettingsExport>, {}},
        {"CliSettingsImport", make<SettingsImport>, {}},
        {"CliCalibrationExport", make<CalibrationExport>, {}},
        {"CliFirmware", make<FirmwareVerb>, {}},
        {"CliAirports", make<AirportsVerb>, {}},
        {"CliReboot", make<RebootVerb>, {}},
    };
}

}  // namespace fault_matrix
