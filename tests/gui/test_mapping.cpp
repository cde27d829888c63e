#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>
#include <functional>
#include <limits>

#include "gui_test_support.h"
#include "tests/qtest_registry.h"

Q_DECLARE_METATYPE(Settings_t)

namespace {

struct ColourButton {
    const char* name;
    uint32_t Settings_t::*field;
};

const ColourButton kColourButtons[] = {
    {"color_picker_sky0", nullptr},  // sky_color[0] and [1] are array elements, see below
    {"color_picker_sky1", nullptr},
    {"color_picker_ground0", nullptr},
    {"color_picker_ground1", nullptr},
    {"color_picker_app_indi", &Settings_t::vref_indi_color},
    {"color_picker_airplane", &Settings_t::airplane_color},
    {"color_picker_green", &Settings_t::green_arc_color},
    {"color_picker_yellow", &Settings_t::yellow_arc_color},
    {"color_picker_red", &Settings_t::red_arc_color},
    {"color_picker_gear", &Settings_t::gear_indi_color},
};

uint32_t colourOf(const Settings_t& s, int row) {
    switch (row) {
    case 0:
        return s.sky_color[0];
    case 1:
        return s.sky_color[1];
    case 2:
        return s.ground_color[0];
    case 3:
        return s.ground_color[1];
    default:
        return s.*kColourButtons[row].field;
    }
}

QString sheet(const char* rgb) {
    return QStringLiteral("background-color: #%1;").arg(QLatin1String(rgb));
}

QByteArray registrationBytes(const Settings_t& s) {
    return QByteArray(s.registration, sizeof(s.registration));
}

Settings_t withRegistration(const QByteArray& bytes) {
    Settings_t s = sampleSettings();
    std::memset(s.registration, 0, sizeof(s.registration));
    std::memcpy(s.registration, bytes.constData(),
                std::min<size_t>(sizeof(s.registration), static_cast<size_t>(bytes.size())));
    return withCrc(s);
}

}  // namespace

// The settings tab as a view of the settings record: every element from the record into the
// form on a load and back from the form into the record on a save.
class MappingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;

    template <typename T>
    T* w(const char* name) {
        return widget<T>(window.get(), name);
    }
    void open(const Settings_t& s, emu::Generation g = emu::Generation::Current) {
        resetUnit(g, s);
        window = makeWindow();
    }
    // Sends the edits, saves, and returns the record the unit then holds.
    Settings_t save() {
        w<QPushButton>("pushButton_update")->click();
        w<QPushButton>("pushButton_save")->click();
        [&] {
            QTRY_COMPARE(statusText(window.get()),
                         QStringLiteral("Configuration saved to EEPROM successfully"));
        }();
        return emu_hid::unit().settings();
    }
    // Edits a control as a user would: away from its value and back, so that its edit
    // handler runs even where the value shown does not change.
    void reselect(const char* combo, int index) {
        auto* box = w<QComboBox>(combo);
        box->setCurrentIndex(index == 0 ? 1 : 0);
        box->setCurrentIndex(index);
    }

private slots:
    void cleanup() { window.reset(); }

    void everyElementShown_data();
    void everyElementShown();
    void everyElementSentAndSaved_data();
    void everyElementSentAndSaved();
    void loadThenSaveKeepsUnitRecord_data();
    void loadThenSaveKeepsUnitRecord();
    void registrationSplit_data();
    void registrationSplit();
    void registrationJoin_data();
    void registrationJoin();
    void registrationC6RoundTrip();
    void icaoField_data();
    void icaoField();
    void unitsShown_data();
    void unitsShown();
    void unitsSavedOneBitPerGroup();
    void colourAlphaIgnoredAndSavedOpaque();
    void clampsAndLimits();
    void roundingOfDecimals();
    void termResistor_data();
    void termResistor();
};

void MappingTest::everyElementShown_data() {
    addGenerationColumn();
    addGenerationRows();
}

void MappingTest::everyElementShown() {
    QFETCH(emu::Generation, generation);
    open(sampleSettings(), generation);
    QCOMPARE(statusText(window.get()),
             QStringLiteral("Configuration successfully loaded from device"));
    QCOMPARE(w<QComboBox>("comboBox_airspeed")->currentText(), QStringLiteral("Knots"));
    QCOMPARE(w<QComboBox>("comboBox_altitude")->currentText(), QStringLiteral("Feet"));
    QCOMPARE(w<QComboBox>("comboBox_temp")->currentText(), QStringLiteral("Fahrenheit"));
    QCOMPARE(w<QComboBox>("comboBox_pressure")->currentText(), QStringLiteral("InHg"));
    const char* speeds[] = {"spinBox_vmin", "spinBox_vs0", "spinBox_vs1",  "spinBox_vfe",
                            "spinBox_vn0",  "spinBox_vne", "spinBox_vref", "spinBox_vlo"};
    const int expected[] = {40, 45, 50, 85, 120, 160, 65, 90};
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(w<QSpinBox>(speeds[i])->value(), expected[i]);
    }
    QCOMPARE(w<QDoubleSpinBox>("min_volt_warn_value")->value(), 11.8);
    QCOMPARE(w<QDoubleSpinBox>("max_volt_warn_value")->value(), 15.2);
    QCOMPARE(w<QDoubleSpinBox>("min_volt_alert_value")->value(), 11.0);
    QCOMPARE(w<QDoubleSpinBox>("max_volt_alert_value")->value(), 16.0);
    QCOMPARE(w<QComboBox>("comboBox_reg_prefix")->currentText(), QStringLiteral("VH"));
    QCOMPARE(w<QPlainTextEdit>("text_registration_num")->toPlainText(), QStringLiteral("ABC"));
    const char* sheets[] = {"87ceeb", "4682b4", "228b22", "8b4513", "ff00ff",
                            "ffff00", "00ff00", "ffd700", "dc143c", "00ced1"};
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(w<QPushButton>(kColourButtons[i].name)->styleSheet(), sheet(sheets[i]));
    }
    QCOMPARE(w<QSlider>("backlight_slider")->value(), 12);
    QCOMPARE(w<QSlider>("text_bg_alpha_slider")->value(), 100);
    QCOMPARE(w<QDoubleSpinBox>("roll_corr_spinbox")->value(), 1.5);
    QCOMPARE(w<QDoubleSpinBox>("pitch_corr_spinbox")->value(), -2.0);
    QCOMPARE(w<QPlainTextEdit>("text_icao")->toPlainText(), QStringLiteral("ABC123"));
    QVERIFY(w<QRadioButton>("radioButton_use_icao")->isChecked());
    QVERIFY(!w<QRadioButton>("radioButton_rand_icao")->isChecked());
    QCOMPARE(w<QComboBox>("comboBox_emitter_cat")->currentIndex(), 1);
    QCOMPARE(w<QComboBox>("comboBox_map_view")->currentText(), QStringLiteral("Track Up"));
    QCOMPARE(w<QComboBox>("comboBox_term_res")->currentText(), QStringLiteral("Enable"));
}

void MappingTest::everyElementSentAndSaved_data() {
    addGenerationColumn();
    addGenerationRows();
}

void MappingTest::everyElementSentAndSaved() {
    QFETCH(emu::Generation, generation);
    open(sampleSettings(), generation);
    // Change every control as its edit handler sees it; Update sends them, Save commits.
    const auto quiet = [](QWidget*, const std::function<void()>& change) { change(); };
    quiet(w<QComboBox>("comboBox_airspeed"),
          [&] { w<QComboBox>("comboBox_airspeed")->setCurrentIndex(0); });
    quiet(w<QComboBox>("comboBox_altitude"),
          [&] { w<QComboBox>("comboBox_altitude")->setCurrentIndex(1); });
    quiet(w<QComboBox>("comboBox_temp"),
          [&] { w<QComboBox>("comboBox_temp")->setCurrentIndex(1); });
    quiet(w<QComboBox>("comboBox_pressure"),
          [&] { w<QComboBox>("comboBox_pressure")->setCurrentIndex(1); });
    const char* speeds[] = {"spinBox_vmin", "spinBox_vs0", "spinBox_vs1",  "spinBox_vfe",
                            "spinBox_vn0",  "spinBox_vne", "spinBox_vref", "spinBox_vlo"};
    for (int i = 0; i < 8; ++i) {
        quiet(w<QSpinBox>(speeds[i]), [&] { w<QSpinBox>(speeds[i])->setValue(200 + i); });
    }
    quiet(w<QDoubleSpinBox>("min_volt_warn_value"),
          [&] { w<QDoubleSpinBox>("min_volt_warn_value")->setValue(10.1); });
    quiet(w<QDoubleSpinBox>("max_volt_warn_value"),
          [&] { w<QDoubleSpinBox>("max_volt_warn_value")->setValue(14.7); });
    quiet(w<QDoubleSpinBox>("min_volt_alert_value"),
          [&] { w<QDoubleSpinBox>("min_volt_alert_value")->setValue(9.9); });
    quiet(w<QDoubleSpinBox>("max_volt_alert_value"),
          [&] { w<QDoubleSpinBox>("max_volt_alert_value")->setValue(29.3); });
    quiet(w<QComboBox>("comboBox_reg_prefix"), [&] {
        auto* prefix = w<QComboBox>("comboBox_reg_prefix");
        prefix->setCurrentIndex(prefix->findText(QStringLiteral("D")));
    });
    quiet(w<QPlainTextEdit>("text_registration_num"), [&] {
        w<QPlainTextEdit>("text_registration_num")->setPlainText(QStringLiteral("-EFGH"));
    });
    // The colour pickers set the button's colour and call the button's colour slot.
    const char* colourSlots[] = {"onSkyColor0Changed",         "onSkyColor1Changed",
                                 "onGroundColor0Changed",      "onGroundColor1Changed",
                                 "onApproachIndiColorChanged", "onAirplaneColorChanged",
                                 "onGreenArcColorChanged",     "onYellowArcColorChanged",
                                 "onRedArcColorChanged",       "onGearIndiColorChanged"};
    for (int i = 0; i < 10; ++i) {
        w<QPushButton>(kColourButtons[i].name)
            ->setStyleSheet(QStringLiteral("background-color: #%1;")
                                .arg(0x101010 * (i + 1), 6, 16, QLatin1Char('0')));
        QVERIFY(QMetaObject::invokeMethod(window.get(), colourSlots[i]));
    }
    quiet(w<QSlider>("backlight_slider"), [&] { w<QSlider>("backlight_slider")->setValue(21); });
    quiet(w<QSlider>("text_bg_alpha_slider"),
          [&] { w<QSlider>("text_bg_alpha_slider")->setValue(7); });
    quiet(w<QDoubleSpinBox>("roll_corr_spinbox"),
          [&] { w<QDoubleSpinBox>("roll_corr_spinbox")->setValue(-0.1); });
    quiet(w<QDoubleSpinBox>("pitch_corr_spinbox"),
          [&] { w<QDoubleSpinBox>("pitch_corr_spinbox")->setValue(45.5); });
    quiet(w<QPlainTextEdit>("text_icao"),
          [&] { w<QPlainTextEdit>("text_icao")->setPlainText(QStringLiteral("7c1a2b")); });
    w<QRadioButton>("radioButton_rand_icao")->setChecked(true);
    quiet(w<QComboBox>("comboBox_emitter_cat"),
          [&] { w<QComboBox>("comboBox_emitter_cat")->setCurrentIndex(21); });
    quiet(w<QComboBox>("comboBox_map_view"),
          [&] { w<QComboBox>("comboBox_map_view")->setCurrentIndex(0); });
    quiet(w<QComboBox>("comboBox_term_res"),
          [&] { w<QComboBox>("comboBox_term_res")->setCurrentIndex(1); });

    const Settings_t s = save();
    // mph, metres, Celsius, mbar; the undefined bit 12 kept.
    QCOMPARE(s.units.units_value, 0x00001151u);
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(int{reinterpret_cast<const uint8_t*>(&s.vspeeds)[i]}, 200 + i);
    }
    QCOMPARE(s.volt_warnings.min_volts, uint16_t{101});
    QCOMPARE(s.volt_warnings.max_volts, uint16_t{147});
    QCOMPARE(s.volt_alerts.min_volts, uint16_t{99});
    QCOMPARE(s.volt_alerts.max_volts, uint16_t{293});
    QCOMPARE(registrationBytes(s), QByteArray("D-EFGH\0\0\0\0\0\0", 12));
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(colourOf(s, i), 0xFF000000u | (0x101010u * static_cast<uint32_t>(i + 1)));
    }
    QCOMPARE(s.backlight_brightness, 21u);
    QCOMPARE(s.text_bg_alpha, 7u);
    QCOMPARE(floatWord(s.roll_correction), floatWord(-0.1f));
    QCOMPARE(floatWord(s.pitch_correction), floatWord(45.5f));
    QCOMPARE(s.ownship_icao, 0x7C1A2Bu);
    QCOMPARE(s.icao_address_type, 1u);
    QCOMPARE(s.emitter_cat, 21u);
    QCOMPARE(s.map_track, map_north_up);
    QCOMPARE(s.enable_term_resistor, 0u);
    // Not shown in the form, carried from the load unchanged; the header as the save sets it.
    QCOMPARE(s.use_mag_heading, 1u);
    QCOMPARE(s.magic, SETTINGS_MAGIC_VALUE);
    QCOMPARE(s.version, 3u);
    QCOMPARE(s.num_elements, 31u);
    // The store command carried the CRC of exactly this record.
    Settings_t expected = s;
    expected.crc32 = 0;
    const auto stores = framesOn(wireIds(generation).save);
    QCOMPARE(stores.size(), size_t{1});
    QCOMPARE(int{stores[0].msg_len}, int{CAN_4_BYTES});
    QCOMPARE(le32(stores[0].data), settings_CalcCRC(&expected));
}

void MappingTest::loadThenSaveKeepsUnitRecord_data() {
    addGenerationColumn();
    addGenerationRows();
}

void MappingTest::loadThenSaveKeepsUnitRecord() {
    QFETCH(emu::Generation, generation);
    resetUnit(generation);
    emu_hid::unit().set_check_store_crc(true);
    const QByteArray before = recordBytes(emu_hid::unit().settings());
    window = makeWindow();
    emu_hid::unit().clear_received();
    save();
    QCOMPARE(emu_hid::unit().store_count(), 1u);
    QCOMPARE(recordBytes(emu_hid::unit().settings()), before);
    const auto stores = framesOn(wireIds(generation).save);
    QCOMPARE(stores.size(), size_t{1});
    QCOMPARE(le32(stores[0].data), sampleSettings().crc32);
    QVERIFY(framesOn(wireIds(generation).set).empty());
}

void MappingTest::registrationSplit_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("number");
    QTest::newRow("N123") << QByteArray("N123") << "N"
                          << "123";
    QTest::newRow("VHABC") << QByteArray("VHABC") << "VH"
                           << "ABC";
    QTest::newRow("A9CAB") << QByteArray("A9CAB") << "A9C"
                           << "AB";
    QTest::newRow("C6ABC first match") << QByteArray("C6ABC") << "C"
                                       << "6ABC";
    QTest::newRow("D-EFGH") << QByteArray("D-EFGH") << "D"
                            << "-EFGH";
    QTest::newRow("lower case") << QByteArray("n12345") << "N"
                                << "n12345";
    QTest::newRow("no prefix, 11 chars") << QByteArray("ZZ12345678X") << "N"
                                         << "ZZ12345678";
    QTest::newRow("all 0xFF") << QByteArray(12, '\xFF') << "N"
                              << "";
    QTest::newRow("all zero") << QByteArray(12, '\0') << "N"
                              << "";
    QTest::newRow("12 non-zero bytes") << QByteArray("GABCDEFGHIJK") << "G"
                                       << "ABCDEFGHIJ";
    QTest::newRow("stops at 0xFF") << QByteArray(
                                          "N12\xFF"
                                          "45")
                                   << "N"
                                   << "12";
    QTest::newRow("latin-1") << QByteArray(
                                    "OE\xC4"
                                    "B")
                             << "OE"
                             << QString::fromLatin1(
                                    "\xC4"
                                    "B");
}

void MappingTest::registrationSplit() {
    QFETCH(QByteArray, stored);
    QFETCH(QString, prefix);
    QFETCH(QString, number);
    open(withRegistration(stored));
    QCOMPARE(statusText(window.get()),
             QStringLiteral("Configuration successfully loaded from device"));
    auto* combo = w<QComboBox>("comboBox_reg_prefix");
    QCOMPARE(combo->currentText(), prefix);
    QCOMPARE(combo->currentIndex(), combo->findText(prefix));
    QCOMPARE(w<QPlainTextEdit>("text_registration_num")->toPlainText(), number);
}

void MappingTest::registrationJoin_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("N123") << "N"
                          << "123" << QByteArray("N123\0\0\0\0\0\0\0\0", 12);
    QTest::newRow("C6ABC") << "C6"
                           << "ABC" << QByteArray("C6ABC\0\0\0\0\0\0\0", 12);
    QTest::newRow("VH + 11 chars") << "VH"
                                   << "ABCDEFGHIJK" << QByteArray("VHABCDEFGHI\0", 12);
    QTest::newRow("empty number") << "VH"
                                  << "" << QByteArray(12, '\0');
    QTest::newRow("lower case kept") << "D"
                                     << "efgh" << QByteArray("Defgh\0\0\0\0\0\0\0", 12);
    QTest::newRow("blank kept") << "N"
                                << " 1" << QByteArray("N 1\0\0\0\0\0\0\0\0\0", 12);
    QTest::newRow("latin-1") << "OE"
                             << QString::fromLatin1(
                                    "\xC4"
                                    "B")
                             << QByteArray(
                                    "OE\xC4"
                                    "B\0\0\0\0\0\0\0\0",
                                    12);
}

void MappingTest::registrationJoin() {
    QFETCH(QString, prefix);
    QFETCH(QString, number);
    QFETCH(QByteArray, stored);
    open(sampleSettings());
    auto* combo = w<QComboBox>("comboBox_reg_prefix");
    combo->setCurrentIndex(combo->findText(prefix));
    w<QPlainTextEdit>("text_registration_num")->setPlainText(number);
    QCOMPARE(registrationBytes(save()), stored);
}

void MappingTest::registrationC6RoundTrip() {
    open(sampleSettings());
    auto* combo = w<QComboBox>("comboBox_reg_prefix");
    combo->setCurrentIndex(combo->findText(QStringLiteral("C6")));
    w<QPlainTextEdit>("text_registration_num")->setPlainText(QStringLiteral("ABC"));
    const QByteArray first = registrationBytes(save());
    QCOMPARE(first, QByteArray("C6ABC\0\0\0\0\0\0\0", 12));
    // The save shows the record again: the first matching prefix is "C".
    QCOMPARE(combo->currentText(), QStringLiteral("C"));
    QCOMPARE(w<QPlainTextEdit>("text_registration_num")->toPlainText(), QStringLiteral("6ABC"));
    QCOMPARE(registrationBytes(save()), first);
}

void MappingTest::icaoField_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint32_t>("address");
    QTest::addColumn<QString>("shown");
    QTest::newRow("abc123") << "abc123" << 0xABC123u << "ABC123";
    QTest::newRow("decimal digits read as hex") << "123456" << 0x123456u << "123456";
    QTest::newRow("seven digits") << "1234567" << 0x234567u << "234567";
    QTest::newRow("white space") << " 00ff \n" << 0xFFu << "0000FF";
    QTest::newRow("not hex") << "g12" << 0u << "000000";
    QTest::newRow("empty") << "" << 0u << "000000";
    QTest::newRow("eight digits") << "FFABCDEF" << 0xABCDEFu << "ABCDEF";
    QTest::newRow("nine digits") << "123456789" << 0u << "000000";
    QTest::newRow("inner blank") << "12 34" << 0u << "000000";
}

void MappingTest::icaoField() {
    QFETCH(QString, text);
    QFETCH(uint32_t, address);
    QFETCH(QString, shown);
    open(sampleSettings());
    w<QPlainTextEdit>("text_icao")->setPlainText(text);
    QCOMPARE(save().ownship_icao, address);
    QCOMPARE(w<QPlainTextEdit>("text_icao")->toPlainText(), shown);
}

void MappingTest::unitsShown_data() {
    QTest::addColumn<uint32_t>("units");
    QTest::addColumn<QString>("airspeed");
    QTest::addColumn<QString>("altitude");
    QTest::addColumn<QString>("temperature");
    QTest::addColumn<QString>("pressure");
    QTest::newRow("no bits") << 0u << "Knots"
                             << "Feet"
                             << "Fahrenheit"
                             << "InHg";
    QTest::newRow("mph and kph") << 0x5u << "MPH"
                                 << "Feet"
                                 << "Fahrenheit"
                                 << "InHg";
    QTest::newRow("kph only") << 0x4u << "KPH"
                              << "Feet"
                              << "Fahrenheit"
                              << "InHg";
    QTest::newRow("metric") << 0x154u << "KPH"
                            << "Meters"
                            << "Celsius"
                            << "Mbar";
    QTest::newRow("both of each pair") << 0x1FAu << "Knots"
                                       << "Meters"
                                       << "Celsius"
                                       << "Mbar";
}

void MappingTest::unitsShown() {
    QFETCH(uint32_t, units);
    QFETCH(QString, airspeed);
    QFETCH(QString, altitude);
    QFETCH(QString, temperature);
    QFETCH(QString, pressure);
    Settings_t s = sampleSettings();
    s.units.units_value = units;
    open(withCrc(s));
    QCOMPARE(w<QComboBox>("comboBox_airspeed")->currentText(), airspeed);
    QCOMPARE(w<QComboBox>("comboBox_altitude")->currentText(), altitude);
    QCOMPARE(w<QComboBox>("comboBox_temp")->currentText(), temperature);
    QCOMPARE(w<QComboBox>("comboBox_pressure")->currentText(), pressure);
}

void MappingTest::unitsSavedOneBitPerGroup() {
    Settings_t s = sampleSettings();
    s.units.units_value = 0xABCDE000u | 0x1FFu;  // every defined bit set
    open(withCrc(s));
    // Not edited, the word stays as the unit holds it.
    QCOMPARE(save().units.units_value, s.units.units_value);
    // An edited group takes one bit; the groups not edited stay as the unit holds them.
    reselect("comboBox_temp", 1);
    QCOMPARE(save().units.units_value, s.units.units_value & ~0x020u);
    reselect("comboBox_airspeed", 0);
    reselect("comboBox_altitude", 1);
    reselect("comboBox_pressure", 1);
    const uint32_t saved = save().units.units_value;
    QCOMPARE(saved & ~0x1FFu, 0xABCDE000u);
    // MPH shown (first match), and of every pair the second bit.
    QCOMPARE(saved & 0x1FFu, 0x001u | 0x010u | 0x040u | 0x100u);
}

void MappingTest::colourAlphaIgnoredAndSavedOpaque() {
    Settings_t s = sampleSettings();
    s.red_arc_color = 0x00FF0000;
    s.sky_color[1] = 0x12345678;
    open(withCrc(s));
    QCOMPARE(w<QPushButton>("color_picker_red")->styleSheet(),
             QStringLiteral("background-color: #ff0000;"));
    QCOMPARE(w<QPushButton>("color_picker_sky1")->styleSheet(),
             QStringLiteral("background-color: #345678;"));
    // Not edited, the colours keep their alpha; picked again, they are stored opaque.
    QCOMPARE(save().red_arc_color, 0x00FF0000u);
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onRedArcColorChanged"));
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSkyColor1Changed"));
    const Settings_t saved = save();
    QCOMPARE(saved.red_arc_color, 0xFFFF0000u);
    QCOMPARE(saved.sky_color[1], 0xFF345678u);
}

void MappingTest::clampsAndLimits() {
    Settings_t s = sampleSettings();
    s.text_bg_alpha = 300;
    s.emitter_cat = 40;
    s.map_track = static_cast<map_dir_t>(2);
    s.vspeeds.Vne = 250;
    s.volt_warnings.min_volts = 30;  // 3.0 V, below the box's 5.0
    s.volt_alerts.max_volts = 700;   // 70.0 V, above the box's 65.0
    s.backlight_brightness = 40;
    open(withCrc(s));
    QCOMPARE(w<QSlider>("text_bg_alpha_slider")->value(), 254);
    QCOMPARE(w<QComboBox>("comboBox_emitter_cat")->currentIndex(), 21);
    QCOMPARE(w<QComboBox>("comboBox_map_view")->currentText(), QStringLiteral("North Up"));
    QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 240);
    QCOMPARE(w<QDoubleSpinBox>("min_volt_warn_value")->value(), 5.0);
    QCOMPARE(w<QDoubleSpinBox>("max_volt_alert_value")->value(), 65.0);
    QCOMPARE(w<QSlider>("backlight_slider")->value(), 21);
    // A save without edits keeps every value as the unit holds it.
    QCOMPARE(recordBytes(save()), recordBytes(withCrc(s)));
    // Edited, a control stores what it shows.
    w<QSpinBox>("spinBox_vne")->setValue(239);
    w<QSpinBox>("spinBox_vne")->setValue(240);
    reselect("comboBox_map_view", 0);
    const Settings_t saved = save();
    QCOMPARE(saved.vspeeds.Vne, uint8_t{240});
    QCOMPARE(saved.map_track, map_north_up);
    QCOMPARE(saved.text_bg_alpha, 300u);
    QCOMPARE(saved.volt_warnings.min_volts, uint16_t{30});

    // Words that read as negative numbers show the lowest item.
    s = sampleSettings();
    s.emitter_cat = 0xFFFFFFFF;
    s.map_track = static_cast<map_dir_t>(0xFFFFFFFF);
    s.text_bg_alpha = 0x80000000;
    window.reset();
    open(withCrc(s));
    QCOMPARE(w<QComboBox>("comboBox_emitter_cat")->currentIndex(), 0);
    QCOMPARE(w<QComboBox>("comboBox_map_view")->currentIndex(), 0);
    QCOMPARE(w<QSlider>("text_bg_alpha_slider")->value(), 0);
}

void MappingTest::roundingOfDecimals() {
    Settings_t s = sampleSettings();
    s.volt_warnings.min_volts = 125;
    s.roll_correction = 1.26f;
    s.pitch_correction = std::numeric_limits<float>::quiet_NaN();
    open(withCrc(s));
    QCOMPARE(w<QDoubleSpinBox>("min_volt_warn_value")->value(), 12.5);
    QCOMPARE(w<QDoubleSpinBox>("roll_corr_spinbox")->text(), QStringLiteral("1.3"));
    // A correction that is not a number shows as none rather than as a limit.
    QCOMPARE(w<QDoubleSpinBox>("pitch_corr_spinbox")->value(), 0.0);
    QCOMPARE(floatWord(save().roll_correction), floatWord(1.26f));
    auto* roll = w<QDoubleSpinBox>("roll_corr_spinbox");
    roll->setValue(1.4);
    roll->setValue(1.3);
    const Settings_t saved = save();
    QCOMPARE(saved.volt_warnings.min_volts, uint16_t{125});
    QCOMPARE(floatWord(saved.roll_correction), floatWord(1.3f));
    QCOMPARE(floatWord(saved.pitch_correction), floatWord(std::numeric_limits<float>::quiet_NaN()));
}

void MappingTest::termResistor_data() {
    QTest::addColumn<uint32_t>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<uint32_t>("saved");
    QTest::newRow("0 disabled") << 0u << "Disable" << 0u;
    QTest::newRow("1 enabled") << 1u << "Enable" << 1u;
    QTest::newRow("5 enabled") << 5u << "Enable" << 1u;
}

void MappingTest::termResistor() {
    QFETCH(uint32_t, stored);
    QFETCH(QString, shown);
    QFETCH(uint32_t, saved);
    Settings_t s = sampleSettings();
    s.enable_term_resistor = stored;
    open(withCrc(s));
    QCOMPARE(w<QComboBox>("comboBox_term_res")->currentText(), shown);
    QCOMPARE(save().enable_term_resistor, stored);
    reselect("comboBox_term_res", w<QComboBox>("comboBox_term_res")->currentIndex());
    QCOMPARE(save().enable_term_resistor, saved);
}

EFIS_QTEST(MappingTest);
#include "test_mapping.moc"
