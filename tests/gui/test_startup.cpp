#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTextEdit>
#include <QtTest>

#include "gui_test_support.h"
#include "tests/qtest_registry.h"

// Start-up of the window with and without a reachable unit.
class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void noUnitReportsFailedConnection();
    void noUnitFillsPrefixesAndDisablesTransfers();
    void noUnitRefusesDeviceActions_data();
    void noUnitRefusesDeviceActions();
    void showsAtOnceThenLoads_data();
    void showsAtOnceThenLoads();
    void prefixFillMarksNothingPending();
    void calibrationStartSendsNothing();
    void logLinesCarrySourceContext();
};

void StartupTest::noUnitReportsFailedConnection() {
    emu_hid::reset();
    emu_hid::set_interfaces({});
    auto window = makeWindow();
    QCOMPARE(
        statusText(window.get()),
        QStringLiteral("Failed to connect to EFIS via USB or CAN FD - please check connections"));
    QCOMPARE(window->windowTitle(), QStringLiteral("OW_52 EFIS Config"));
}

void StartupTest::noUnitFillsPrefixesAndDisablesTransfers() {
    emu_hid::reset();
    emu_hid::set_interfaces({});
    auto window = makeWindow();
    auto* prefix = widget<QComboBox>(window.get(), "comboBox_reg_prefix");
    QCOMPARE(prefix->count(), 193);
    QCOMPARE(prefix->itemText(0), QStringLiteral("N"));
    QCOMPARE(prefix->itemText(52), QStringLiteral("C6"));
    QCOMPARE(prefix->itemText(192), QStringLiteral("9Z"));
    QVERIFY(!prefix->itemData(0).isValid());
    for (const char* name :
         {"text_firmware_file", "pushButton_start_update", "progressBar_firmware",
          "text_firmware_file_2", "pushButton_start_airport", "progressBar_airports"}) {
        QVERIFY2(!widget<QWidget>(window.get(), name)->isEnabled(), name);
    }
    for (const char* name : {"pushButton_browse", "pushButton_browse_airports", "pushButton_load",
                             "pushButton_update", "pushButton_save", "pushButton_reboot"}) {
        QVERIFY2(widget<QWidget>(window.get(), name)->isEnabled(), name);
    }
}

void StartupTest::noUnitRefusesDeviceActions_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("load") << "pushButton_load";
    QTest::newRow("update") << "pushButton_update";
    QTest::newRow("save") << "pushButton_save";
    QTest::newRow("reboot") << "pushButton_reboot";
}

void StartupTest::noUnitRefusesDeviceActions() {
    QFETCH(QString, button);
    emu_hid::reset();
    emu_hid::set_interfaces({});
    auto window = makeWindow();
    // An edit is pending, so that Update would have something to send.
    widget<QSpinBox>(window.get(), "spinBox_vmin")->setValue(50);
    widget<QPushButton>(window.get(), button.toLatin1().constData())->click();
    QTRY_COMPARE(statusText(window.get()),
                 QStringLiteral("Error: No communication interface connected (USB HID or CAN FD)"));
    QVERIFY(emu_hid::unit().received().empty());
    QCOMPARE(widget<QSpinBox>(window.get(), "spinBox_vmin")->value(), 50);
}

void StartupTest::showsAtOnceThenLoads_data() {
    addGenerationColumn();
    QTest::addColumn<QString>("link");
    QTest::newRow("current") << emu::Generation::Current
                             << "USB HID · serial 0x00C0FFEE · firmware 0.2.12";
    QTest::newRow("legacy") << emu::Generation::Legacy
                            << "USB HID · serial 0x00C0FFEE · legacy firmware";
}

void StartupTest::showsAtOnceThenLoads() {
    QFETCH(emu::Generation, generation);
    QFETCH(QString, link);
    resetUnit(generation);
    isolateWindowSettings();
    // The unit answers slowly: the window must not wait for it before it is shown.
    emu_hid::set_latency_us(20000);
    auto window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(window->connectionAttemptRunning());
    QCOMPARE(statusText(window.get()), QStringLiteral("Initializing..."));
    QCOMPARE(widget<QLabel>(window.get(), "label_link")->text(),
             QStringLiteral("Looking for the unit…"));
    for (const char* name :
         {"pushButton_load", "pushButton_update", "pushButton_save", "pushButton_reboot"}) {
        QVERIFY2(!widget<QWidget>(window.get(), name)->isEnabled(), name);
    }
    QVERIFY(waitForConnectionAttempt(window.get()));
    QCOMPARE(statusText(window.get()),
             QStringLiteral("Configuration successfully loaded from device"));
    QCOMPARE(widget<QLabel>(window.get(), "label_link")->text(), link);
    QCOMPARE(widget<QSpinBox>(window.get(), "spinBox_vne")->value(), 160);
    const WireIds ids = wireIds(generation);
    QCOMPARE(framesOn(ids.request).size(), size_t{40});
    QVERIFY(framesOn(ids.set).empty());
    for (const char* name :
         {"pushButton_load", "pushButton_update", "pushButton_save", "pushButton_reboot"}) {
        QVERIFY2(widget<QWidget>(window.get(), name)->isEnabled(), name);
    }
}

void StartupTest::prefixFillMarksNothingPending() {
    resetUnit(emu::Generation::Current);
    auto window = makeWindow();
    emu_hid::unit().clear_received();
    widget<QPushButton>(window.get(), "pushButton_update")->click();
    QTRY_COMPARE(statusText(window.get()), QStringLiteral("No changes to send"));
    QVERIFY(emu_hid::unit().received().empty());
}

void StartupTest::calibrationStartSendsNothing() {
    resetUnit(emu::Generation::Current);
    auto window = makeWindow();
    emu_hid::unit().clear_received();
    const QString before = statusText(window.get());
    widget<QPushButton>(window.get(), "pushButton_start_Pt_zerocal")->click();
    QCoreApplication::processEvents();
    QVERIFY(emu_hid::unit().received().empty());
    QCOMPARE(statusText(window.get()), before);
    QCOMPARE(widget<QProgressBar>(window.get(), "progressBar_Pt_zeropoint")->value(), 0);
}

void StartupTest::logLinesCarrySourceContext() {
    emu_hid::reset();
    emu_hid::set_interfaces({});
    FdCapture err(2);
    auto window = makeWindow();
    const QByteArray log = err.text();
    const QRegularExpression line(
        QStringLiteral("^Debug: Failed to establish connection via USB HID or CAN FD "
                       "\\(\\S*mainwindow_link\\.cpp:"
                       "[1-9][0-9]*, [^)]*MainWindow::onConnectionAttemptEnded\\([^)]*\\)\\)$"),
        QRegularExpression::MultilineOption);
    QVERIFY2(line.match(QString::fromLocal8Bit(log)).hasMatch(), log.constData());
}

EFIS_QTEST(StartupTest);
#include "test_startup.moc"
