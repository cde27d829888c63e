// The connection that follows the unit, against the emulated unit: found when plugged in,
// lost when pulled (idle and during an upload), back after a restart with the firmware it
// now runs, the restart that never ends, the remembered CAN interface and the saved trace.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>

#include "gui_test_support.h"
#include "tests/qtest_registry.h"
#include "tests/transfer/upload_file_support.h"

namespace {

const QString kLoaded = QStringLiteral("Configuration successfully loaded from device");
const QString kNoUnit = QStringLiteral("No unit — connect it and it will be found");
const QString kDisconnected = QStringLiteral("Warning: The unit was disconnected");

}  // namespace

class ReconnectTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> window;
    QTemporaryDir dir;

    QString status() { return statusText(window.get()); }
    QString link() { return widget<QLabel>(window.get(), "label_link")->text(); }
    void click(const char* name) { widget<QPushButton>(window.get(), name)->click(); }
    QString file(const char* name, const transfer_test::Bytes& bytes) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        if (!transfer_test::write_file(path.toStdString(), bytes)) {
            qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }

private slots:
    void init() { emu_hid::reset(); }
    void cleanup() {
        window.reset();
        emu_hid::reset();
    }

    void startWithoutUnitThenPlugIn_data() {
        addGenerationColumn();
        addGenerationRows();
    }
    void startWithoutUnitThenPlugIn() {
        QFETCH(emu::Generation, generation);
        resetUnit(generation);
        emu_hid::unplug();
        window = makeWindow();
        QCOMPARE(status(), QStringLiteral("Failed to connect to EFIS via USB or CAN FD - please "
                                          "check connections"));
        QCOMPARE(link(), kNoUnit);
        QVERIFY(emu_hid::unit().received().empty());
        emu_hid::plug();
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, 10000);
        QVERIFY(link().startsWith(QStringLiteral("USB HID · serial 0x00C0FFEE · ")));
        QCOMPARE(widget<QSpinBox>(window.get(), "spinBox_vne")->value(), 160);
        QVERIFY(widget<QPushButton>(window.get(), "pushButton_update")->isEnabled());
    }

    void pulledWhileIdleIsReportedAndFoundAgain() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        emu_hid::unplug();
        QTRY_COMPARE_WITH_TIMEOUT(status(), kDisconnected, 5000);
        QCOMPARE(link(), kNoUnit);
        for (const char* name :
             {"pushButton_load", "pushButton_update", "pushButton_save", "pushButton_reboot"}) {
            QVERIFY2(!widget<QWidget>(window.get(), name)->isEnabled(), name);
        }
        emu_hid::unit().clear_received();
        emu_hid::plug();
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, 10000);
        QVERIFY(widget<QPushButton>(window.get(), "pushButton_load")->isEnabled());
        QCOMPARE(framesOn(0x370).size(), size_t{40});
    }

    // Edits not sent survive a pulled cable, laid over the record of the unit that came back
    // (read again: the record is always the connected unit's, so Save's CRC is the one that
    // unit computes), and the message says whether it is the unit they were made for.
    void editsSurviveAReconnection_data() {
        QTest::addColumn<uint32_t>("serial");
        QTest::addColumn<QString>("which");
        QTest::newRow("same unit") << 0x00C0FFEEu << "Warning: The unit is connected again; ";
        QTest::newRow("another unit")
            << 0x00ABCDEFu << "Warning: Another unit (serial 0x00ABCDEF) is connected; ";
    }
    void editsSurviveAReconnection() {
        QFETCH(uint32_t, serial);
        QFETCH(QString, which);
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        widget<QSpinBox>(window.get(), "spinBox_vne")->setValue(171);
        emu_hid::unplug();
        QTRY_COMPARE_WITH_TIMEOUT(status(), kDisconnected, 5000);
        emu_hid::unit().clear_received();
        emu_hid::unit().set_serial(serial);
        Settings_t other = emu_hid::unit().settings();
        other.vspeeds.Vs0 = 47;
        emu_hid::unit().set_settings(withCrc(other));
        emu_hid::plug();
        QTRY_VERIFY_WITH_TIMEOUT(window->unitLinked(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            status(),
            which + QStringLiteral("1 edit(s) not sent are kept in the form (Load replaces them "
                                   "with the unit's settings)"),
            10000);
        QCOMPARE(widget<QSpinBox>(window.get(), "spinBox_vne")->value(), 171);
        QCOMPARE(widget<QSpinBox>(window.get(), "spinBox_vs0")->value(), 47);
        QCOMPARE(framesOn(0x370).size(), size_t{40});
        click("pushButton_update");
        QCOMPARE(emu_hid::unit().settings().vspeeds.Vne, uint8_t{171});
        const uint32_t stores = emu_hid::unit().store_count();
        click("pushButton_save");
        QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));
        QCOMPARE(emu_hid::unit().store_count(), stores + 1);
    }

    void pulledDuringAirportUpload() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        const QString db = file("airports.db", transfer_test::random_bytes(64 * 4000, 3));
        {
            FileAnswer answer(db);
            click("pushButton_browse_airports");
        }
        emu_hid::set_latency_us(1000);
        click("pushButton_start_airport");
        auto* bar = widget<QProgressBar>(window.get(), "progressBar_airports");
        QTRY_VERIFY_WITH_TIMEOUT(bar->value() > bar->maximum() / 10, 30000);
        emu_hid::unplug();
        QTRY_VERIFY_WITH_TIMEOUT(
            status().startsWith(QStringLiteral("Error: Airport database transfer failed: ")),
            10000);
        const QString failure = status();
        QTRY_COMPARE_WITH_TIMEOUT(link(), kNoUnit, 5000);
        // The failure's cause stays in view.
        QCOMPARE(status(), failure);
        emu_hid::set_latency_us(0);
        emu_hid::plug();
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, 10000);
        QVERIFY(window->unitLinked());
    }

    void restartShowsTheNewFirmware() {
        resetUnit(emu::Generation::Current);
        emu_hid::unit().set_reboot_ms(300);
        window = makeWindow();
        transfer_test::Bytes image = transfer_test::firmware_image(64 * 40, 5);
        const uint32_t version = 0x00030100;  // 0.3.1
        std::memcpy(image.data() + 4, &version, sizeof version);
        {
            FileAnswer answer(file("new.bin", image));
            click("pushButton_browse");
        }
        click("pushButton_start_update");
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Firmware update completed"), 30000);
        {
            BoxAnswer reboot(QStringLiteral("Reboot"));
            click("pushButton_reboot");
        }
        QCOMPARE(status(), QStringLiteral("Reboot command sent to device"));
        QVERIFY2(link().startsWith(QStringLiteral("Restarting")), qPrintable(link()));
        QTRY_COMPARE_WITH_TIMEOUT(
            status(),
            QStringLiteral("The unit restarted and now runs firmware 0.3.1 (before: firmware "
                           "0.2.12)"),
            15000);
        QCOMPARE(link(), QStringLiteral("USB HID · serial 0x00C0FFEE · firmware 0.3.1"));
    }

    void restartThatNeverEndsIsReported() {
        resetUnit(emu::Generation::Current);
        emu_hid::unit().set_reboot_ms(600000);
        window = makeWindow();
        std::atomic<int64_t> now{1000000};
        window->setLinkClock([&now]() { return now.load(); });
        {
            BoxAnswer reboot(QStringLiteral("Reboot"));
            click("pushButton_reboot");
        }
        QCOMPARE(link(), QStringLiteral("Restarting — waiting up to 30 s for the unit"));
        now += 29000;
        QTest::qWait(1500);
        QVERIFY(status() == QStringLiteral("Reboot command sent to device"));
        now += 1000;
        QTRY_VERIFY_WITH_TIMEOUT(
            status().startsWith(QStringLiteral("Warning: The unit did not come back within 30 s")),
            5000);
        QCOMPARE(link(), kNoUnit);
        // Watching goes on: the unit is found when it appears.
        emu_hid::unit().set_reboot_ms(0);
        emu_hid::plug();
        now += 1000;
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, 10000);
    }

    void reconnectRunsTheSequenceAgain() {
        resetUnit(emu::Generation::Legacy);
        window = makeWindow();
        emu_hid::unit().clear_received();
        window->findChild<QAction*>(QStringLiteral("action_reconnect"))->trigger();
        QVERIFY(window->connectionAttemptRunning());
        QVERIFY(waitForConnectionAttempt(window.get()));
        QCOMPARE(status(), kLoaded);
        // The current identification first, then the legacy one that this unit answers.
        QVERIFY(!framesOn(0x010).empty());
        QVERIFY(!framesOn(0x123).empty());
        QCOMPARE(framesOn(0x376).size(), size_t{40});
    }

    void canInterfaceChoiceIsRemembered_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("used");
        QTest::newRow("none") << QString() << "can0";
        QTest::newRow("can7") << "can7"
                              << "can7";
        QTest::newRow("not a name") << "../can0"
                                    << "can0";
        QTest::newRow("too long") << "can0123456789abcd"
                                  << "can0";
    }
    void canInterfaceChoiceIsRemembered() {
        QFETCH(QString, stored);
        QFETCH(QString, used);
        isolateWindowSettings();
        if (!stored.isEmpty()) {
            QSettings(QStringLiteral("efis-config"), QStringLiteral("efis-config"))
                .setValue(QStringLiteral("link/can_interface"), stored);
        }
        resetUnit(emu::Generation::Current);
        window = std::make_unique<MainWindow>();
        QVERIFY(waitForConnectionAttempt(window.get()));
        QCOMPARE(window->canInterface(), used);
        auto* menu = window->findChild<QMenu*>(QStringLiteral("menu_can_interface"));
        QVERIFY(menu != nullptr);
        emit menu->aboutToShow();
        auto* chosen = window->findChild<QAction*>(QStringLiteral("action_can_") + used);
        QVERIFY(chosen != nullptr);
        QVERIFY(chosen->isChecked());
    }

    void aboutNamesTheVersionLinkAndUnit() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        BoxAnswer ok(QStringLiteral("OK"));
        window->findChild<QAction*>(QStringLiteral("action_about"))->trigger();
        QCOMPARE(ok.asked().size(), 1);
        const QString text = ok.asked().first();
        QVERIFY2(text.contains(QStringLiteral("efis-config " EFIS_VERSION)), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("USB HID · serial 0x00C0FFEE · firmware 0.2.12")),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("CAN interface: can0")), qPrintable(text));
    }

    void diagnosticTraceHoldsFramesAndLogLines() {
        resetUnit(emu::Generation::Current);
        window = makeWindow();
        const QString path = dir.filePath(QStringLiteral("trace.log"));
        {
            FileAnswer answer(path);
            window->findChild<QAction*>(QStringLiteral("action_save_trace"))->trigger();
        }
        QVERIFY2(status().startsWith(QStringLiteral("Diagnostic trace saved to ")),
                 qPrintable(status()));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'));
        QVERIFY(lines.first().startsWith(QStringLiteral("# efis-config ")));
        // Identification, then 40 reads and their answers.
        QCOMPARE(lines
                     .filter(QRegularExpression(
                         QStringLiteral("^\\(\\d+\\.\\d{6}\\) usbhid 010##0EF15$")))
                     .size(),
                 1);
        QCOMPARE(
            lines.filter(QRegularExpression(QStringLiteral("^\\(\\d+\\.\\d{6}\\) usbhid 370##0")))
                .size(),
            40);
        QVERIFY(!lines.filter(QStringLiteral("Status: ") + kLoaded).isEmpty());
    }
};

EFIS_QTEST(ReconnectTest);
#include "test_reconnect.moc"
