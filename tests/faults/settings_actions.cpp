// The window's settings actions through the plain C++ layers: load, update, save, reboot,
// export and import.
#include <algorithm>
#include <cstdio>
#include <set>

#include "EFIS_shared/get_set.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "settings/calibration_elements.h"
#include "settings/calibration_read.h"
#include "settings/setting_names.h"
#include "settings/settings_compare.h"
#include "settings/settings_exchange.h"
#include "settings/settings_file.h"
#include "settings/unit_file.h"
#include "tests/faults/matrix_actions.h"

namespace fault_matrix {

namespace {

bool contains(const std::vector<settings_struct_index>& v, int index) {
    return std::find(v.begin(), v.end(), static_cast<settings_struct_index>(index)) != v.end();
}

// A connected tool that has loaded the unit's record without a fault.
class LoadedAction : public Action {
public:
    void prepare() override {
        comms = connect_usb();
        const LoadResult loaded = settings_load(comms.get(), &unit);
        ASSERT_EQ(loaded.status, LoadStatus::Ok);
        ASSERT_TRUE(loaded.unread.empty());
    }

protected:
    std::unique_ptr<CommsManager> comms;
    UnitRecord unit;
};

class Load : public Action {
public:
    void prepare() override {
        comms = connect_usb();
        before = emu_hid::unit().settings();
    }
    Outcome run() override {
        UnitRecord unit;
        const LoadResult r = settings_load(comms.get(), &unit);
        const Settings_t held = emu_hid::unit().settings();
        EXPECT_TRUE(same_record(held, before)) << "a load changed the unit's record";
        if (r.status != LoadStatus::Ok) {
            EXPECT_FALSE(unit.loaded) << "a failed load left the record marked as read";
            return {false, "load failed"};
        }
        // Every value reported read is the unit's; the unread ones are known to be unknown.
        EXPECT_TRUE(unit.loaded);
        for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            if (contains(r.unread, i)) {
                EXPECT_EQ(unit.unknown.count(static_cast<settings_struct_index>(i)), 1u) << i;
            } else {
                EXPECT_EQ(word(unit.record, i), word(held, i)) << "element " << i;
            }
        }
        EXPECT_EQ(unit.device_crc, held.crc32);
        EXPECT_EQ(unit.record.magic, held.magic);
        EXPECT_EQ(unit.record.version, held.version);
        EXPECT_EQ(unit.record.num_elements, held.num_elements);
        if (r.unread.empty()) {
            EXPECT_EQ(r.crc_matches, crc_checks(held));
        }
        return {r.unread.empty(),
                "load ok, " + std::to_string(r.unread.size()) + " value(s) unread"};
    }

private:
    std::unique_ptr<CommsManager> comms;
    Settings_t before{};
};

// What an update must leave: elements the tool says the unit took hold their new value there
// and in the tool's record; elements it says failed stay pending, with the old value in the
// tool's record and the old or the new one on the unit; nothing else changed.
void check_sent(const Settings_t& before, const Settings_t& working,
                const std::vector<settings_struct_index>& attempted, const UpdateResult& r,
                const PendingSet& pending, const UnitRecord& tool) {
    const Settings_t after = emu_hid::unit().settings();
    EXPECT_EQ(static_cast<size_t>(r.sent) + r.failed.size(), attempted.size());
    EXPECT_EQ(pending, PendingSet(r.failed.begin(), r.failed.end()));
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        if (contains(r.failed, i)) {
            EXPECT_TRUE(word(after, i) == word(before, i) || word(after, i) == word(working, i))
                << "element " << i;
            EXPECT_EQ(word(tool.record, i), word(before, i)) << "element " << i;
        } else if (contains(attempted, i)) {
            EXPECT_EQ(word(after, i), word(working, i)) << "element " << i << " reported sent";
            EXPECT_EQ(word(tool.record, i), word(working, i)) << "element " << i;
        } else {
            EXPECT_EQ(word(after, i), word(before, i)) << "element " << i << " was not sent";
            EXPECT_EQ(word(tool.record, i), word(before, i)) << "element " << i;
        }
    }
}

class Update : public LoadedAction {
public:
    void prepare() override {
        LoadedAction::prepare();
        working = with_edits(unit.record);
        pending = PendingSet(edited_elements().begin(), edited_elements().end());
        before = emu_hid::unit().settings();
    }
    Outcome run() override {
        const UpdateResult r = settings_update(comms.get(), working, &pending, &unit);
        check_sent(before, working, edited_elements(), r, pending, unit);
        return {r.failed.empty(),
                std::to_string(r.sent) + " sent, " + std::to_string(r.failed.size()) + " failed"};
    }

private:
    Settings_t working{};
    Settings_t before{};
    PendingSet pending;
};

class Save : public LoadedAction {
public:
    void prepare() override {
        LoadedAction::prepare();
        Settings_t working = unit.record;
        working.vspeeds.Vne = 177;
        PendingSet pending{VNE_INDEX};
        ASSERT_TRUE(settings_update(comms.get(), working, &pending, &unit).failed.empty());
        before = emu_hid::unit().settings();
    }
    Outcome run() override {
        const SaveResult r = settings_save(comms.get(), &unit, {});
        const Settings_t held = emu_hid::unit().settings();
        for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            EXPECT_EQ(word(held, i), word(before, i)) << "a save changed element " << i;
        }
        if (r.status != SaveStatus::Ok) {
            EXPECT_TRUE(unit.sent_not_saved) << "a failed save marked the values as saved";
            return {false, "save failed"};
        }
        EXPECT_EQ(emu_hid::unit().store_count(), 1u) << "save reported, nothing stored";
        EXPECT_EQ(held.crc32, r.crc);
        EXPECT_TRUE(crc_checks(held));
        EXPECT_TRUE(same_record(unit.record, held)) << "the tool's record is not the unit's";
        EXPECT_FALSE(unit.sent_not_saved);
        return {true, "saved"};
    }

private:
    Settings_t before{};
};

class Reboot : public Action {
public:
    void prepare() override { comms = connect_usb(); }
    Outcome run() override {
        const bool sent = enter_boot_loader(comms.get()) > 0;
        EXPECT_EQ(emu_hid::unit().reboot_count(), sent ? 1u : 0u)
            << "the tool's word on the reboot request is not what reached the unit";
        return {sent, sent ? "sent" : "not sent"};
    }

private:
    std::unique_ptr<CommsManager> comms;
};

// The window's export: the loaded record and the calibration read with it.
class Export : public LoadedAction {
public:
    void prepare() override {
        LoadedAction::prepare();
        path = temp_path("export.json");
        std::remove(path.c_str());
    }
    Outcome run() override {
        SettingsFile file = unit_settings_file(comms.get(), unit, unit.record);
        SENSOR_CALIB_t calibration{};
        std::vector<int> unread;
        read_calibration(comms.get(), &calibration, &unread);
        file.calibration = calibration;
        file.calibration_unread = unread;
        QString error;
        EXPECT_TRUE(settings_file_write(QString::fromStdString(path), file, &error))
            << error.toStdString();

        const SettingsFileRead back = settings_file_read(QString::fromStdString(path));
        std::remove(path.c_str());
        EXPECT_TRUE(back.ok) << back.error.toStdString();
        Settings_t held = emu_hid::unit().settings();
        for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            EXPECT_EQ(word(back.file.record, i), word(held, i)) << "element " << i;
        }
        if (!back.file.calibration) {
            ADD_FAILURE() << "no calibration in the file";
            return {false, "no calibration"};
        }
        SENSOR_CALIB_t unit_calibration = emu_hid::unit().calibration();
        SENSOR_CALIB_t written = *back.file.calibration;
        for (const CalibrationElement& e : calibration_elements()) {
            const bool missing = std::find(unread.begin(), unread.end(), e.index) != unread.end();
            const auto& listed = back.file.calibration_unread;
            EXPECT_EQ(std::find(listed.begin(), listed.end(), e.index) != listed.end(), missing);
            if (!missing) {
                EXPECT_EQ(calib_get_value(&written, e.index),
                          calib_get_value(&unit_calibration, e.index))
                    << "calibration element " << e.name;
            }
        }
        return {unread.empty(),
                "exported, " + std::to_string(unread.size()) + " calibration value(s) unread"};
    }

private:
    std::string path;
};

// The window's import: a file compared with the loaded record, its differences taken and
// sent by Update.
class Import : public LoadedAction {
public:
    void prepare() override {
        LoadedAction::prepare();
        path = temp_path("import.json");
        QString error;
        ASSERT_TRUE(settings_file_write(
            QString::fromStdString(path),
            unit_settings_file(comms.get(), unit, with_edits(unit.record)), &error))
            << error.toStdString();
        before = emu_hid::unit().settings();
    }
    Outcome run() override {
        const SettingsFileRead read = settings_file_read(QString::fromStdString(path));
        std::remove(path.c_str());
        EXPECT_TRUE(read.ok) << read.error.toStdString();
        Settings_t working = unit.record;
        PendingSet pending;
        for (const SettingDifference& d : settings_compare(unit.record, read.file.record)) {
            const SettingDef& def = settings_table()[d.setting];
            const std::vector<uint32_t> words = setting_words(read.file.record, d.setting);
            for (int i = 0; i < def.count; ++i) {
                const auto index = static_cast<settings_struct_index>(def.first + i);
                uint32_t w = words[static_cast<size_t>(i)];
                settings_set_value(&working, index, &w);
                pending.insert(index);
            }
        }
        EXPECT_EQ(pending, PendingSet(edited_elements().begin(), edited_elements().end()));
        const UpdateResult r = settings_update(comms.get(), working, &pending, &unit);
        check_sent(before, working, edited_elements(), r, pending, unit);
        return {r.failed.empty(),
                std::to_string(r.sent) + " sent, " + std::to_string(r.failed.size()) + " failed"};
    }

private:
    std::string path;
    Settings_t before{};
};

template <typename T>
std::unique_ptr<Action> make() {
    return std::make_unique<T>();
}

}  // namespace

std::vector<ActionDef> settings_actions() {
    return {
        {"Load", make<Load>, {Request::ReadSetting}},
        {"Update", make<Update>, {Request::SetSetting}},
        {"Save", make<Save>, {Request::StoreSettings}},
        {"Reboot", make<Reboot>, {}},
        {"Export", make<Export>, {Request::ReadCalibration}},
        {"Import", make<Import>, {}},
    };
}

}  // namespace fault_matrix
