// Shared pieces of the main window tests: the emulated unit in both firmware generations, a
// realistic settings record, widget look-up by object name and the frames the unit received.
#pragma once

#include <unistd.h>
#include <QByteArray>
#include <QMetaType>
#include <QPushButton>
#include <QStatusBar>
#include <QString>
#include <QTemporaryFile>
#include <QWidget>
#include <QtTest>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/crc.h"
#include "EFIS_shared/settings_types.h"
#include "dialog_answers.h"
#include "emulator/efis_unit.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "gui/mainwindow.h"
#include "tests/window_wait.h"

// The identifiers one firmware generation uses on the wire.
struct WireIds {
    emu::Generation generation;
    uint32_t request;  // read a settings element
    uint32_t set;      // change a settings element
    uint32_t save;     // commit the settings record
    uint32_t enter_bl;
};

inline WireIds wireIds(emu::Generation g) {
    if (g == emu::Generation::Current) {
        return {g, 0x370, 0x390, 0x3A0, 0x3B0};
    }
    return {g, 0x376, 0x378, 0x379, 0x399};
}

Q_DECLARE_METATYPE(emu::Generation)

// Adds the two generation rows to a data-driven test.
inline void addGenerationColumn() {
    QTest::addColumn<emu::Generation>("generation");
}

inline void addGenerationRows() {
    QTest::newRow("current") << emu::Generation::Current;
    QTest::newRow("legacy") << emu::Generation::Legacy;
}

inline uint32_t floatWord(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof(bits));
    return bits;
}

// Gives the record the CRC the unit keeps with it.
inline Settings_t withCrc(Settings_t s) {
    s.crc32 = 0;
    s.crc32 = settings_CalcCRC(&s);
    return s;
}

// A record as a configured unit holds it; every value is one the form shows unchanged.
inline Settings_t sampleSettings() {
    Settings_t s;
    std::memset(&s, 0, sizeof(s));
    s.magic = SETTINGS_MAGIC_VALUE;
    s.version = 3;
    s.num_elements = 31;
    // Knots, feet, Fahrenheit, inHg, and an undefined bit the tool must keep.
    s.units.units_value = 0x000010AA;
    s.vspeeds = {40, 45, 50, 85, 120, 160, 65, 90};
    s.volt_warnings = {118, 152};
    s.volt_alerts = {110, 160};
    std::memcpy(s.registration, "VHABC", 5);
    s.sky_color[0] = 0xFF87CEEB;
    s.sky_color[1] = 0xFF4682B4;
    s.ground_color[0] = 0xFF228B22;
    s.ground_color[1] = 0xFF8B4513;
    s.vref_indi_color = 0xFFFF00FF;
    s.airplane_color = 0xFFFFFF00;
    s.green_arc_color = 0xFF00FF00;
    s.yellow_arc_color = 0xFFFFD700;
    s.red_arc_color = 0xFFDC143C;
    s.gear_indi_color = 0xFF00CED1;
    s.backlight_brightness = 12;
    s.roll_correction = 1.5f;
    s.pitch_correction = -2.0f;
    s.text_bg_alpha = 100;
    s.use_mag_heading = 1;
    s.ownship_icao = 0x00ABC123;
    s.icao_address_type = 0;
    s.emitter_cat = 1;
    s.enable_term_resistor = 1;
    s.map_track = map_track_up;
    return withCrc(s);
}

// A fresh emulated unit of the given generation holding `settings`, reachable over USB.
inline void resetUnit(emu::Generation g, const Settings_t& settings = sampleSettings()) {
    emu_hid::reset();
    emu_hid::unit().set_generation(g);
    emu_hid::unit().set_settings(settings);
}

// The window shown, its connection attempt and first load ended.
inline std::unique_ptr<MainWindow> makeWindow() {
    isolateWindowSettings();
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!waitForConnectionAttempt(window.get())) {
        qFatal("the window's connection attempt did not end");
    }
    return window;
}

template <typename T>
T* widget(const QWidget* window, const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    if (w == nullptr) {
        qFatal("widget %s not found", name);
    }
    return w;
}

inline QString statusText(QMainWindow* window) {
    return window->statusBar()->currentMessage();
}

// Frames the unit received on one identifier, in order.
inline std::vector<COMMS_MSG_t> framesOn(uint32_t can_id) {
    std::vector<COMMS_MSG_t> out;
    for (const COMMS_MSG_t& f : emu_hid::unit().received()) {
        const uint32_t id = f.can_ID;
        if (id == can_id) {
            out.push_back(f);
        }
    }
    return out;
}

inline uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// One value command as the unit received it.
struct SetCommand {
    uint8_t index;
    uint32_t value;
    bool operator==(const SetCommand& o) const { return index == o.index && value == o.value; }
};

inline std::vector<SetCommand> setCommands(const WireIds& ids) {
    std::vector<SetCommand> out;
    for (const COMMS_MSG_t& f : framesOn(ids.set)) {
        out.push_back({f.data[0], le32(f.data + 1)});
    }
    return out;
}

inline QByteArray recordBytes(const Settings_t& s) {
    return QByteArray(reinterpret_cast<const char*>(&s), sizeof(s));
}

// Collects what the process writes to one file descriptor (1 or 2) while it lives.
class FdCapture {
public:
    explicit FdCapture(int fd) : fd_(fd) {
        file_.open();
        std::fflush(stdout);
        std::fflush(stderr);
        saved_ = dup(fd_);
        dup2(file_.handle(), fd_);
    }
    ~FdCapture() { restore(); }
    FdCapture(const FdCapture&) = delete;
    FdCapture& operator=(const FdCapture&) = delete;

    QByteArray text() {
        restore();
        file_.seek(0);
        return file_.readAll();
    }

private:
    void restore() {
        if (saved_ < 0) {
            return;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }

    int fd_;
    int saved_ = -1;
    QTemporaryFile file_;
};

// One window per firmware generation shared by the rows of a table: each row starts from the
// unit's sample record, loaded afresh, with no fault armed and nothing pending. Saves the
// connection handshake per row.
class SharedWindow {
public:
    MainWindow* freshlyLoaded(emu::Generation g) {
        // A row that restarted the unit leaves the window waiting for it: start afresh.
        if (window_ == nullptr || generation_ != g || !window_->unitLinked()) {
            window_.reset();
            resetUnit(g);
            window_ = makeWindow();
            generation_ = g;
        } else {
            emu_hid::unit().clear_faults();
            emu_hid::unit().set_settings(sampleSettings());
            BoxAnswer discard(QStringLiteral("Discard Edits and Load"));
            window_->findChild<QPushButton*>(QStringLiteral("pushButton_load"))->click();
        }
        emu_hid::unit().clear_received();
        return window_.get();
    }
    void reset() { window_.reset(); }

private:
    std::unique_ptr<MainWindow> window_;
    emu::Generation generation_ = emu::Generation::Current;
};
