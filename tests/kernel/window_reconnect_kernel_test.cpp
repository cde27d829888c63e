// The window on the real hidapi and the kernel's uhid and SocketCAN, against efis-emu pulled
// out and plugged in again: during a settings load over USB and over CAN FD on an interface
// not named can0, during an airport database upload, and across a restart. Run in the test
// guest by window_reconnect.sh, which creates the vcan "efis1" and names efis-emu in EFIS_EMU.
#include <signal.h>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/mainwindow.h"
#include "tests/gui/dialog_answers.h"
#include "tests/kernel/emu_process.h"
#include "tests/window_wait.h"

namespace {

// qemu's software emulation makes every step slow.
constexpr int kWaitMs = 60000;
const QString kLoaded = QStringLiteral("Configuration successfully loaded from device");
const QString kNoUnit = QStringLiteral("No unit — connect it and it will be found");
const QString kDisconnected = QStringLiteral("Warning: The unit was disconnected");
const char* const kSerial = "0x00E715C1";
const QString kUsbLabel = QStringLiteral("USB HID · serial 0x00E715C1 · firmware 0.2.12");
const QString kCanLabel = QStringLiteral("CAN FD (efis1) · serial 0x00E715C1 · firmware 0.2.12");
const char* const kDeviceButtons[] = {"pushButton_load", "pushButton_update", "pushButton_save",
                                      "pushButton_reboot"};

// Serves events until `done`; false when it is still not done after `timeout_ms`.
bool waitUntil(const std::function<bool()>& done, int timeout_ms = kWaitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout_ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

}  // namespace

class WindowReconnectKernelTest : public QObject {
    Q_OBJECT

    std::string emuPath;
    std::unique_ptr<kernel_test::EmuProcess> emu;
    std::unique_ptr<MainWindow> window;
    QTemporaryDir dir;

    QString status() const { return window->statusBar()->currentMessage(); }
    QString link() const {
        return window->findChild<QLabel*>(QStringLiteral("label_link"))->text();
    }
    QPushButton* button(const char* name) const {
        return window->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    bool emuPrinted(const std::string& prefix, int timeout_ms = kWaitMs) {
        return waitUntil([&] { return emu->countLines(prefix) > 0; }, timeout_ms);
    }
    // efis-emu with `args`, logging every frame, once it says it is ready.
    bool startEmu(std::vector<std::string> args) {
        args.insert(args.end(), {"--serial", kSerial, "--log"});
        emu = std::make_unique<kernel_test::EmuProcess>();
        return emu->start(emuPath, args) && emuPrinted("efis-emu: ready", 30000);
    }
    void openWindow() {
        window = std::make_unique<MainWindow>();
        window->show();
    }
    bool deviceButtonsEnabled(bool enabled) const {
        for (const char* name : kDeviceButtons) {
            if (button(name)->isEnabled() != enabled) {
                return false;
            }
        }
        return true;
    }

private slots:
    void initTestCase() {
        emuPath = qgetenv("EFIS_EMU").toStdString();
        QVERIFY2(!emuPath.empty() && QFile::exists(QString::fromStdString(emuPath)),
                 "EFIS_EMU names no efis-emu");
        QVERIFY(dir.isValid());
    }
    void init() { isolateWindowSettings(); }
    void cleanup() {
        window.reset();
        if (emu) {
            if (QTest::currentTestFailed()) {
                qWarning("efis-emu output:\n%s", emu->output().c_str());
            }
            QVERIFY2(emu->stop(), "efis-emu did not stop cleanly");
            emu.reset();
        }
    }

    void pulledDuringLoadIsReportedAndFoundAgain_data() {
        QTest::addColumn<QString>("linkOption");
        QTest::addColumn<QString>("canInterface");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("readLine");
        QTest::addColumn<QString>("picture");
        QTest::newRow("usb") << "--uhid" << QString() << kUsbLabel << "usb rx id=0x370 "
                             << "label-usb.png";
        QTest::newRow("can efis1") << "--can"
                                   << "efis1" << kCanLabel << "can rx id=0x370 "
                                   << "label-can.png";
    }
    void pulledDuringLoadIsReportedAndFoundAgain() {
        QFETCH(QString, linkOption);
        QFETCH(QString, canInterface);
        QFETCH(QString, label);
        QFETCH(QString, readLine);
        QFETCH(QString, picture);
        const std::string reads = readLine.toStdString();
        std::vector<std::string> args = {linkOption.toStdString()};
        if (!canInterface.isEmpty()) {
            args.push_back(canInterface.toStdString());
            QSettings(QStringLiteral("efis-config"), QStringLiteral("efis-config"))
                .setValue(QStringLiteral("link/can_interface"), canInterface);
        }
        // Each settings read answered 60 ms late: the cable is pulled well inside a load.
        args.insert(args.end(), {"--fault", "0x370,delay=60"});
        QVERIFY(startEmu(args));
        openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, kWaitMs);
        QCOMPARE(link(), label);
        QVERIFY(deviceButtonsEnabled(true));
        // The label's new width is laid out by a posted request: the picture waits for it.
        QTest::qWait(200);
        auto* shown = window->findChild<QLabel*>(QStringLiteral("label_link"));
        QVERIFY(shown->width() >= shown->sizeHint().width());
        QVERIFY(shown->mapTo(window.get(), QPoint(shown->width(), 0)).x() <= window->width());
        QVERIFY(window->grab().save(QDir::current().filePath(picture)));

        // Pulled after the four header words and four elements of the next load.
        emu->signalAfter(reads, 8, SIGUSR1);
        button("pushButton_load")->click();
        QVERIFY2(emu->triggerFired(), "the load ended before the unit was pulled");
        const QString failed = status();
        QVERIFY2(failed.startsWith(QStringLiteral("Warning: ")) ||
                     failed.startsWith(QStringLiteral("Error: ")),
                 qPrintable(failed));
        QVERIFY(emuPrinted("efis-emu: unplugged"));
        QTRY_COMPARE_WITH_TIMEOUT(link(), kNoUnit, kWaitMs);
        QVERIFY(!window->unitLinked());
        // A load's own error names the cause and stays; a warning gives way to the loss.
        QCOMPARE(status(), failed.startsWith(QStringLiteral("Error: ")) ? failed : kDisconnected);
        QVERIFY(deviceButtonsEnabled(false));

        const int readsBefore = emu->countLines(reads);
        QVERIFY(emu->send(SIGUSR2));
        QVERIFY(emuPrinted("efis-emu: plugged in"));
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, kWaitMs);
        QCOMPARE(link(), label);
        QVERIFY(deviceButtonsEnabled(true));
        // A whole record was read over the link that came back.
        QVERIFY2(emu->countLines(reads) - readsBefore >= 40,
                 qPrintable(QString::number(emu->countLines(reads) - readsBefore)));
    }

    void pulledDuringAirportUploadIsReportedAndFoundAgain() {
        // 600 writes, each answered 5 ms late; the cable is pulled at the hundredth.
        QVERIFY(startEmu({"--uhid", "--fault", "0x420,delay=5"}));
        openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, kWaitMs);
        const QString db = dir.filePath(QStringLiteral("airports.db"));
        {
            QFile file(db);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray bytes(64 * 600, '\0');
            for (int i = 0; i < bytes.size(); ++i) {
                bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
            }
            QCOMPARE(file.write(bytes), bytes.size());
        }
        {
            FileAnswer answer(db);
            button("pushButton_browse_airports")->click();
        }
        QVERIFY(button("pushButton_start_airport")->isEnabled());
        emu->signalAfter("usb rx id=0x420 ", 100, SIGUSR1);
        button("pushButton_start_airport")->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            status().startsWith(QStringLiteral("Error: Airport database transfer failed: ")),
            kWaitMs);
        QVERIFY(emu->triggerFired());
        QVERIFY2(emu->countLines("usb rx id=0x420 ") < 600,
                 "the upload wrote the whole file after the unit was pulled");
        const QString failure = status();
        QTRY_COMPARE_WITH_TIMEOUT(link(), kNoUnit, kWaitMs);
        // The failure's cause stays in view.
        QCOMPARE(status(), failure);
        QVERIFY(deviceButtonsEnabled(false));

        QVERIFY(emu->send(SIGUSR2));
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, kWaitMs);
        QCOMPARE(link(), kUsbLabel);
        QVERIFY(deviceButtonsEnabled(true));
    }

    void restartedUnitIsFoundAgain() {
        QVERIFY(startEmu({"--uhid", "--reboot-ms", "3000"}));
        openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(status(), kLoaded, kWaitMs);
        {
            BoxAnswer reboot(QStringLiteral("Reboot"));
            button("pushButton_reboot")->click();
            QCOMPARE(reboot.asked().size(), 1);
        }
        QCOMPARE(status(), QStringLiteral("Reboot command sent to device"));
        QVERIFY2(link().startsWith(QStringLiteral("Restarting")), qPrintable(link()));
        QVERIFY(emuPrinted("efis-emu: rebooting for 3000 ms"));
        QCOMPARE(emu->countLines("usb rx id=0x3B0 "), 1);
        QTRY_COMPARE_WITH_TIMEOUT(
            status(), QStringLiteral("The unit restarted and still runs firmware 0.2.12"), kWaitMs);
        QVERIFY(emuPrinted("efis-emu: back, firmware 0.2.12", 0));
        QCOMPARE(link(), kUsbLabel);
        QVERIFY(deviceButtonsEnabled(true));
    }
};

QTEST_MAIN(WindowReconnectKernelTest)
#include "window_reconnect_kernel_test.moc"
