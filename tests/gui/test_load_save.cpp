#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include "gui_test_support.h"
#include "tests/qtest_registry.h"

namespace {

const QString kLoaded = QStringLiteral("Configuration successfully loaded from device");
const QString kCrcWarning = QStringLiteral("Warning: Configuration CRC verification failed");

emu::Fault silentOnce(uint32_t skip) {
    emu::Fault f;
    f.answer = emu::AnswerKind::Reply;
    f.no_answer = true;
    f.skip_first = skip;
    f.times = 1;
    return f;
}

emu::Fault refuseOnce(uint32_t skip) {
    emu::Fault f;
    f.refuse = true;
    f.skip_first = skip;
    f.times = 1;
    return f;
}

}  // namespace

// Load, Update, Save and Reboot against the emulated unit, in both firmware generations.
class LoadSaveTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;

    template <typename T>
    T* w(const char* name) {
        return widget<T>(window.get(), name);
    }
    void click(const char* name) { w<QPushButton>(name)->click(); }
    QString status() { return statusText(window.get()); }

    SharedWindow shared;

private slots:
    void cleanup() { window.reset(); }
    void cleanupTestCase() { shared.reset(); }

    void headerReadFailureStopsLoad_data();
    void headerReadFailureStopsLoad();
    void checksumAllOnesStopsLoad();
    void failedDataReadIsCountedNotHidden_data();
    void failedDataReadIsCountedNotHidden();
    void whiteColoursLoadAsWhite_data();
    void whiteColoursLoadAsWhite();
    void crcMatchReportedOnStdout();
    void crcMismatchWarningStays_data();
    void crcMismatchWarningStays();
    void elementCountAbove31Refused_data();
    void elementCountAbove31Refused();
    void loadClearsPendingEdits();

    void updateWithNothingPending();
    void updateSendsAscendingLatestOnce_data();
    void updateSendsAscendingLatestOnce();
    void updateKeepsFailedIndicesPending_data();
    void updateKeepsFailedIndicesPending();
    void updateOnVanishedLinkKeepsAll();

    void saveStoresTheUnitsRecord_data();
    void saveStoresTheUnitsRecord();
    void saveRefusedByUnit();
    void saveAfterIncompleteLoadRefused();
    void saveHeaderReadFailure_data();
    void saveHeaderReadFailure();

    void rebootFrame_data();
    void rebootFrame();
    void rebootSendFailure();
};

void LoadSaveTest::headerReadFailureStopsLoad_data() {
    addGenerationColumn();
    QTest::addColumn<uint32_t>("skip");
    QTest::addColumn<QString>("text");
    const char* texts[] = {"Error: Failed to read checksum from device",
                           "Error: Failed to read magic number from device",
                           "Error: Failed to read memory version from device",
                           "Error: Failed to read num_elements from device"};
    for (emu::Generation g : {emu::Generation::Current, emu::Generation::Legacy}) {
        for (uint32_t k = 0; k < 4; ++k) {
            QTest::addRow("%s header %u", g == emu::Generation::Current ? "current" : "legacy", k)
                << g << k << QString::fromLatin1(texts[k]);
        }
    }
}

void LoadSaveTest::headerReadFailureStopsLoad() {
    QFETCH(emu::Generation, generation);
    QFETCH(uint32_t, skip);
    QFETCH(QString, text);
    MainWindow* const main = shared.freshlyLoaded(generation);
    // The unit now holds other values; the failing load must not show any of them.
    Settings_t changed = sampleSettings();
    changed.vspeeds.Vne = 77;
    changed.ownship_icao = 0x123456;
    emu_hid::unit().set_settings(withCrc(changed));
    emu_hid::unit().set_fault(wireIds(generation).request, silentOnce(skip));
    widget<QSpinBox>(main, "spinBox_vmin")->setValue(33);
    BoxAnswer discard(QStringLiteral("Discard Edits and Load"));
    widget<QPushButton>(main, "pushButton_load")->click();
    QCOMPARE(discard.asked().size(), 1);
    QCOMPARE(statusText(main), text);
    // Nothing after the failed header read was asked for; the form shows what it showed.
    QCOMPARE(framesOn(wireIds(generation).request).size(), size_t{skip + 1});
    QCOMPARE(widget<QSpinBox>(main, "spinBox_vne")->value(), 160);
    QCOMPARE(widget<QPlainTextEdit>(main, "text_icao")->toPlainText(), QStringLiteral("ABC123"));
    // The record holds only the header words read before the failure.
    Settings_t expected;
    std::memset(&expected, 0, sizeof(expected));
    uint32_t Settings_t::*const fields[] = {&Settings_t::crc32, &Settings_t::magic,
                                            &Settings_t::version, &Settings_t::num_elements};
    for (uint32_t k = 0; k < skip; ++k) {
        expected.*fields[k] = changed.*fields[k];
    }
    expected.crc32 = skip > 0 ? withCrc(changed).crc32 : 0;
    QCOMPARE(recordBytes(user_config), recordBytes(expected));
    // The load emptied the pending set before it failed.
    widget<QPushButton>(main, "pushButton_update")->click();
    QCOMPARE(statusText(main), QStringLiteral("No changes to send"));
}

void LoadSaveTest::checksumAllOnesStopsLoad() {
    Settings_t s = sampleSettings();
    s.crc32 = 0xFFFFFFFF;
    resetUnit(emu::Generation::Current, s);
    window = makeWindow();
    QCOMPARE(status(), QStringLiteral("Error: Failed to read checksum from device"));
    QCOMPARE(framesOn(0x370).size(), size_t{1});
}

void LoadSaveTest::failedDataReadIsCountedNotHidden_data() {
    addGenerationColumn();
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    for (emu::Generation g : {emu::Generation::Current, emu::Generation::Legacy}) {
        const char* gen = g == emu::Generation::Current ? "current" : "legacy";
        // Vne is 160 on the unit: reading it as 0 also breaks the CRC.
        QTest::addRow("%s Vne", gen)
            << g << 6
            << QStringLiteral(
                   "Warning: Configuration CRC verification failed and 1 configuration value(s) "
                   "could not be read from device");
        // The unit's icao_address_type is 0, so the CRC still matches.
        QTest::addRow("%s address type", gen)
            << g << 32
            << QStringLiteral("Warning: 1 configuration value(s) could not be read from device");
    }
}

void LoadSaveTest::failedDataReadIsCountedNotHidden() {
    QFETCH(emu::Generation, generation);
    QFETCH(int, index);
    QFETCH(QString, text);
    MainWindow* const main = shared.freshlyLoaded(generation);
    emu_hid::unit().set_fault(wireIds(generation).request,
                              silentOnce(4 + static_cast<uint32_t>(index)));
    FdCapture err(2);
    widget<QPushButton>(main, "pushButton_load")->click();
    const QByteArray log = err.text();
    QCOMPARE(statusText(main), text);
    QVERIFY2(log.contains(QByteArray("Debug: Warning: Failed to read value for index ") +
                          QByteArray::number(index) + " , setting to 0 ("),
             log.constData());
    // The load went on past the failed index and filled the form; the elements after it are
    // confirmed by a second read each.
    QCOMPARE(framesOn(wireIds(generation).request).size(),
             size_t{40} + static_cast<size_t>(SETTINGS_LAST_INDEX - 1 - index));
    QCOMPARE(widget<QSpinBox>(main, "spinBox_vne")->value(), index == 6 ? 0 : 160);
    QCOMPARE(widget<QSpinBox>(main, "spinBox_vlo")->value(), 90);
}

void LoadSaveTest::whiteColoursLoadAsWhite_data() {
    addGenerationColumn();
    addGenerationRows();
}

void LoadSaveTest::whiteColoursLoadAsWhite() {
    QFETCH(emu::Generation, generation);
    Settings_t s = sampleSettings();
    s.airplane_color = 0xFFFFFFFF;
    s.gear_indi_color = 0xFFFFFFFF;
    s.sky_color[0] = 0xFFFFFFFF;
    resetUnit(generation, withCrc(s));
    emu_hid::unit().set_check_store_crc(true);
    FdCapture err(2);
    window = makeWindow();
    const QByteArray log = err.text();
    QCOMPARE(status(), kLoaded);
    QVERIFY2(!log.contains("Failed to read value"), log.constData());
    const QString white = QStringLiteral("background-color: #ffffff;");
    QCOMPARE(w<QPushButton>("color_picker_airplane")->styleSheet(), white);
    QCOMPARE(w<QPushButton>("color_picker_gear")->styleSheet(), white);
    QCOMPARE(w<QPushButton>("color_picker_sky0")->styleSheet(), white);
    QCOMPARE(user_config.airplane_color, 0xFFFFFFFFu);
    // The unit accepts the save: the tool's record equals its own.
    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));
}

void LoadSaveTest::crcMatchReportedOnStdout() {
    resetUnit(emu::Generation::Current);
    window = makeWindow();
    FdCapture out(1);
    click("pushButton_load");
    const QByteArray text = out.text();
    QCOMPARE(status(), kLoaded);
    const QByteArray crc =
        QByteArray::number(sampleSettings().crc32, 16).toUpper().rightJustified(8, '0');
    QVERIFY2(text.contains("app: 0x" + crc + ", device: 0x" + crc + " \nCRC Check Passed.\n"),
             text.constData());
}

void LoadSaveTest::crcMismatchWarningStays_data() {
    addGenerationColumn();
    addGenerationRows();
}

void LoadSaveTest::crcMismatchWarningStays() {
    QFETCH(emu::Generation, generation);
    Settings_t s = sampleSettings();
    const uint32_t good = s.crc32;
    s.crc32 = good ^ 0x00010000u;
    resetUnit(generation, s);
    FdCapture out(1);
    FdCapture err(2);
    window = makeWindow();
    const QByteArray log = err.text();
    const QByteArray text = out.text();
    QCOMPARE(status(), kCrcWarning);
    QCoreApplication::processEvents();
    QCOMPARE(status(), kCrcWarning);
    QVERIFY(!text.contains("CRC Check Passed."));
    const QByteArray line = "Debug: CRC mismatch: Calculated = \"" + QByteArray::number(good, 16) +
                            "\" Stored= \"" + QByteArray::number(s.crc32, 16) + "\" (";
    QVERIFY2(log.contains(line), log.constData());
    // The form was filled all the same.
    QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 160);
    QCOMPARE(user_config_chk, s.crc32);
}

void LoadSaveTest::elementCountAbove31Refused_data() {
    addGenerationColumn();
    addGenerationRows();
}

void LoadSaveTest::elementCountAbove31Refused() {
    QFETCH(emu::Generation, generation);
    Settings_t s = sampleSettings();
    s.num_elements = 32;
    resetUnit(generation, withCrc(s));
    emu_hid::unit().set_check_store_crc(false);
    window = makeWindow();
    const QString refusal =
        QStringLiteral("Error: Device reported an invalid settings element count (32)");
    QCOMPARE(status(), refusal);
    // Stopped after the header: no data read, form not refreshed.
    QCOMPARE(framesOn(wireIds(generation).request).size(), size_t{4});
    QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 0);

    // The record was not read, so Save has no CRC to send.
    emu_hid::unit().clear_received();
    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Error: The unit's settings were not read completely; "
                                      "press Load before Save"));
    QVERIFY(emu_hid::unit().received().empty());

    // A count that grows past 31 between load and save is refused by the save itself.
    emu_hid::unit().set_settings(sampleSettings());
    click("pushButton_load");
    emu_hid::unit().set_settings(withCrc(s));
    emu_hid::unit().clear_received();
    click("pushButton_save");
    QCOMPARE(status(), refusal);
    QVERIFY(framesOn(wireIds(generation).save).empty());
    QCOMPARE(emu_hid::unit().store_count(), 0u);
}

void LoadSaveTest::loadClearsPendingEdits() {
    resetUnit(emu::Generation::Current);
    window = makeWindow();
    w<QSpinBox>("spinBox_vne")->setValue(200);
    w<QPlainTextEdit>("text_registration_num")->setPlainText(QStringLiteral("XYZ"));
    w<QComboBox>("comboBox_temp")->setCurrentIndex(1);
    {
        // Declining keeps the edits and reads nothing.
        BoxAnswer keep(QStringLiteral("Cancel"));
        emu_hid::unit().clear_received();
        click("pushButton_load");
        QCOMPARE(keep.asked(), QStringList{QStringLiteral("Discard 3 unsent edit(s)?")});
        QVERIFY(emu_hid::unit().received().empty());
        QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 200);
    }
    {
        BoxAnswer discard(QStringLiteral("Discard Edits and Load"));
        click("pushButton_load");
        QCOMPARE(discard.asked().size(), 1);
    }
    QCOMPARE(status(), kLoaded);
    // The fill ran no edit handler: nothing is pending.
    QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 160);
    emu_hid::unit().clear_received();
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("No changes to send"));
    QVERIFY(emu_hid::unit().received().empty());
}

void LoadSaveTest::updateWithNothingPending() {
    resetUnit(emu::Generation::Current);
    window = makeWindow();
    emu_hid::unit().clear_received();
    click("pushButton_update");
    QTRY_COMPARE(status(), QStringLiteral("No changes to send"));
    QVERIFY(emu_hid::unit().received().empty());
}

void LoadSaveTest::updateSendsAscendingLatestOnce_data() {
    addGenerationColumn();
    addGenerationRows();
}

void LoadSaveTest::updateSendsAscendingLatestOnce() {
    QFETCH(emu::Generation, generation);
    const WireIds ids = wireIds(generation);
    resetUnit(generation);
    window = makeWindow();
    emu_hid::unit().clear_received();
    w<QSpinBox>("spinBox_vne")->setValue(150);
    w<QSpinBox>("spinBox_vmin")->setValue(30);
    w<QSpinBox>("spinBox_vne")->setValue(155);
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Successfully sent 2 configuration value(s) to device"));
    const auto frames = framesOn(ids.set);
    QCOMPARE(frames.size(), size_t{2});
    for (const COMMS_MSG_t& f : frames) {
        QCOMPARE(int{f.msg_len}, int{CAN_5_BYTES});
    }
    const std::vector<SetCommand> expected = {{1, 30}, {6, 155}};
    QVERIFY(setCommands(ids) == expected);
    QCOMPARE(emu_hid::unit().settings().vspeeds.Vne, uint8_t{155});
    QCOMPARE(emu_hid::unit().settings().vspeeds.Vmin, uint8_t{30});
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("No changes to send"));
    QCOMPARE(framesOn(ids.set).size(), size_t{2});
}

void LoadSaveTest::updateKeepsFailedIndicesPending_data() {
    addGenerationColumn();
    addGenerationRows();
}

void LoadSaveTest::updateKeepsFailedIndicesPending() {
    QFETCH(emu::Generation, generation);
    const WireIds ids = wireIds(generation);
    resetUnit(generation);
    window = makeWindow();
    emu_hid::unit().clear_received();
    emu_hid::unit().set_fault(ids.set, refuseOnce(1));
    w<QSpinBox>("spinBox_vmin")->setValue(30);
    w<QSpinBox>("spinBox_vne")->setValue(150);
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Sent 1 value(s), 1 failed"));
    QCOMPARE(emu_hid::unit().settings().vspeeds.Vmin, uint8_t{30});

    // Only the refused index goes again.
    emu_hid::unit().clear_received();
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
    const std::vector<SetCommand> retry = {{6, 150}};
    QVERIFY(setCommands(ids) == retry);
    QCOMPARE(emu_hid::unit().settings().vspeeds.Vne, uint8_t{150});

    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("No changes to send"));
}

void LoadSaveTest::updateOnVanishedLinkKeepsAll() {
    resetUnit(emu::Generation::Current);
    window = makeWindow();
    w<QSpinBox>("spinBox_vmin")->setValue(30);
    w<QSpinBox>("spinBox_vne")->setValue(150);
    emu_hid::vanish_after(0);
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Sent 0 value(s), 2 failed"));
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Sent 0 value(s), 2 failed"));
}

void LoadSaveTest::saveStoresTheUnitsRecord_data() {
    addGenerationColumn();
    addGenerationRows();
}

void LoadSaveTest::saveStoresTheUnitsRecord() {
    QFETCH(emu::Generation, generation);
    const WireIds ids = wireIds(generation);
    resetUnit(generation);
    window = makeWindow();
    emu_hid::unit().clear_received();
    // An edit not sent yet: Save refuses and sends nothing; the edit stays pending.
    w<QSpinBox>("spinBox_vne")->setValue(199);
    click("pushButton_save");
    QCOMPARE(status(),
             QStringLiteral("Warning: 1 edited value(s) not sent yet; press Update before Save"));
    QVERIFY(emu_hid::unit().received().empty());

    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
    emu_hid::unit().clear_received();
    FdCapture out(1);
    click("pushButton_save");
    const QByteArray text = out.text();
    QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));

    Settings_t expected = sampleSettings();
    expected.vspeeds.Vne = 199;
    expected.crc32 = 0;
    const uint32_t crc = settings_CalcCRC(&expected);
    const auto stores = framesOn(ids.save);
    QCOMPARE(stores.size(), size_t{1});
    QCOMPARE(int{stores[0].msg_len}, int{CAN_4_BYTES});
    QCOMPARE(le32(stores[0].data), crc);
    QVERIFY(framesOn(ids.set).empty());
    QCOMPARE(emu_hid::unit().store_count(), 1u);
    const QByteArray line =
        "New CRC " + QByteArray::number(crc, 16).toUpper().rightJustified(8, '0') + "\n";
    QVERIFY2(text.contains(line), text.constData());
    // The save read the header words it needs, version first.
    const auto reads = framesOn(ids.request);
    QCOMPARE(reads.size(), size_t{2});
    QCOMPARE(int{reads[0].data[0]}, 254);
    QCOMPARE(int{reads[1].data[0]}, 255);

    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("No changes to send"));
}

void LoadSaveTest::saveRefusedByUnit() {
    resetUnit(emu::Generation::Current);
    window = makeWindow();
    w<QSpinBox>("spinBox_vne")->setValue(199);
    click("pushButton_update");
    emu::Fault refuse;
    refuse.refuse = true;
    refuse.times = 1;
    emu_hid::unit().set_fault(0x3A0, refuse);
    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Error: Failed to store configuration to EEPROM"));
    QCOMPARE(emu_hid::unit().store_count(), 0u);
    QCOMPARE(w<QLabel>("label_pending_edits")->text(),
             QStringLiteral("Sent values not saved on the unit"));
    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));
    QCOMPARE(emu_hid::unit().store_count(), 1u);
    QCOMPARE(w<QLabel>("label_pending_edits")->text(), QString());
}

void LoadSaveTest::saveAfterIncompleteLoadRefused() {
    // A start-up load that stopped at a header read leaves the unit's record unknown: no CRC
    // the tool could compute would be the unit's.
    resetUnit(emu::Generation::Current);
    emu_hid::unit().set_fault(0x370, silentOnce(0));
    window = makeWindow();
    QCOMPARE(status(), QStringLiteral("Error: Failed to read checksum from device"));
    emu_hid::unit().clear_received();
    click("pushButton_save");
    QCOMPARE(status(),
             QStringLiteral("Error: The unit's settings were not read completely; press Load "
                            "before Save"));
    QVERIFY(emu_hid::unit().received().empty());
    click("pushButton_load");
    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));
}

void LoadSaveTest::saveHeaderReadFailure_data() {
    QTest::addColumn<uint32_t>("skip");
    QTest::addColumn<QString>("text");
    QTest::newRow("version") << 0u << "Error: Failed to read memory version from device";
    QTest::newRow("element count") << 1u << "Error: Failed to read num_elements from device";
}

void LoadSaveTest::saveHeaderReadFailure() {
    QFETCH(uint32_t, skip);
    QFETCH(QString, text);
    resetUnit(emu::Generation::Current);
    window = makeWindow();
    emu_hid::unit().clear_received();
    emu_hid::unit().set_fault(0x370, silentOnce(skip));
    click("pushButton_save");
    QCOMPARE(status(), text);
    QVERIFY(framesOn(0x3A0).empty());
    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));
}

void LoadSaveTest::rebootFrame_data() {
    addGenerationColumn();
    addGenerationRows();
}

void LoadSaveTest::rebootFrame() {
    QFETCH(emu::Generation, generation);
    resetUnit(generation);
    window = makeWindow();
    emu_hid::unit().clear_received();
    {
        BoxAnswer cancel(QStringLiteral("Cancel"));
        click("pushButton_reboot");
        QCOMPARE(cancel.asked(), QStringList{QStringLiteral("Reboot the EFIS?")});
        QVERIFY(emu_hid::unit().received().empty());
    }
    {
        BoxAnswer reboot(QStringLiteral("Reboot"));
        click("pushButton_reboot");
    }
    QCOMPARE(status(), QStringLiteral("Reboot command sent to device"));
    const auto received = emu_hid::unit().received();
    QCOMPARE(received.size(), size_t{1});
    const COMMS_MSG_t f = received[0];
    QCOMPARE(uint32_t{f.can_ID}, wireIds(generation).enter_bl);
    QCOMPARE(int{f.msg_len}, int{CAN_1_BYTES});
    QCOMPARE(int{f.data[0]}, 0x48);
    for (int i = 1; i < 64; ++i) {
        QCOMPARE(int{f.data[i]}, 0);
    }
    QCOMPARE(emu_hid::unit().reboot_count(), 1u);
    // No acknowledgement is awaited: the window lets the link go and waits for the unit,
    // which comes back with the same firmware and is loaded again.
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("label_link"))
                ->text()
                .startsWith(QStringLiteral("Restarting")));
    QVERIFY(!window->unitLinked());
    QVERIFY(!emu_hid::plugged());
    QTRY_COMPARE_WITH_TIMEOUT(
        status(),
        generation == emu::Generation::Current
            ? QStringLiteral("The unit restarted and still runs firmware 0.2.12")
            : QStringLiteral("The unit restarted and still runs legacy firmware"),
        15000);
    QVERIFY(window->unitLinked());
    QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 160);
}

void LoadSaveTest::rebootSendFailure() {
    resetUnit(emu::Generation::Current);
    window = makeWindow();
    emu_hid::vanish_after(0);
    BoxAnswer reboot(QStringLiteral("Reboot"));
    click("pushButton_reboot");
    QCOMPARE(status(), QStringLiteral("Error: Failed to send reboot command"));
    QCOMPARE(emu_hid::unit().reboot_count(), 0u);
}

EFIS_QTEST(LoadSaveTest);
#include "test_load_save.moc"
