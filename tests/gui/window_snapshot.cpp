// Renders the main window, loaded from an emulated unit, to a PNG file:
//   window_snapshot <file.png>                 as loaded
//   window_snapshot <file.png> marks           with an unsent edit and a value it cannot show
//   window_snapshot <file.png> import          the comparison of an import
//   window_snapshot <file.png> transfer        a firmware upload running on a slow link
//   window_snapshot <file.png> link-STATE      the status bar with the link label, STATE one of
//                                              connecting, usb, none, lost, restarting
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <vector>

#include "EFIS_shared/firmware.h"

#include "gui_test_support.h"

namespace {

// Answers every file dialog with `path`, and grabs the import comparison into `shot`.
void answerDialogs(const QString& path, const QString& shot, bool* grabbed) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [=]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            static_cast<QDialog*>(files)->accept();
        } else if (modal != nullptr &&
                   modal->objectName() == QStringLiteral("dialog_import_settings")) {
            *grabbed = modal->grab().save(shot);
            static_cast<QDialog*>(modal)->reject();
        }
    });
    timer->start(20);
}

// The status bar of a window whose link is in the state named.
int linkSnapshot(const QString& out, const QString& state) {
    isolateWindowSettings();
    if (state == "connecting") {
        emu_hid::set_latency_us(30000);
    } else if (state == "none") {
        emu_hid::unplug();
    } else if (state == "restarting") {
        emu_hid::unit().set_reboot_ms(60000);
    } else if (state != "usb" && state != "lost") {
        return 2;
    }
    MainWindow window;
    window.resize(1000, 700);
    window.show();
    auto* label = window.findChild<QLabel*>(QStringLiteral("label_link"));
    if (state == "connecting") {
        QTest::qWait(30);
    } else if (!waitForConnectionAttempt(&window)) {
        return 1;
    }
    if (state == "lost") {
        emu_hid::unplug();
        if (!QTest::qWaitFor([&]() { return !window.unitLinked(); }, 5000)) {
            return 1;
        }
    }
    if (state == "restarting") {
        BoxAnswer reboot(QStringLiteral("Reboot"));
        window.findChild<QPushButton*>(QStringLiteral("pushButton_reboot"))->click();
    }
    QApplication::processEvents();
    std::printf("%s\n", qPrintable(label->text()));
    return window.statusBar()->grab().save(out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString mode = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (argc < 2 || argc > 3 ||
        !(mode.isEmpty() || mode == "marks" || mode == "import" || mode == "transfer" ||
          mode.startsWith(QStringLiteral("link-")))) {
        std::fprintf(stderr,
                     "usage: window_snapshot <file.png> [marks|import|transfer|link-STATE]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (mode.startsWith(QStringLiteral("link-"))) {
        resetUnit(emu::Generation::Current);
        return linkSnapshot(out, mode.mid(5));
    }
    Settings_t held = sampleSettings();
    if (mode == "marks") {
        held.vspeeds.Vne = 250;
    }
    resetUnit(emu::Generation::Current, withCrc(held));
    if (mode == "transfer") {
        // A link of 3 ms round trips from the start, so that the estimate is made on it.
        emu_hid::set_latency_us(3000);
    }
    isolateWindowSettings();
    MainWindow window;
    window.show();
    if (!waitForConnectionAttempt(&window)) {
        return 1;
    }
    if (mode == "marks") {
        widget<QSpinBox>(&window, "spinBox_vs1")->setValue(52);
        widget<QSpinBox>(&window, "spinBox_vne")->setFocus();
        QApplication::processEvents();
    }
    if (mode == "import") {
        QTemporaryDir dir;
        bool grabbed = false;
        answerDialogs(dir.filePath(QStringLiteral("settings.json")), out, &grabbed);
        window.findChild<QAction*>(QStringLiteral("action_export_settings"))->trigger();
        Settings_t changed = sampleSettings();
        changed.vspeeds.Vne = 175;
        emu_hid::unit().set_settings(withCrc(changed));
        widget<QPushButton>(&window, "pushButton_load")->click();
        window.findChild<QAction*>(QStringLiteral("action_import_settings"))->trigger();
        return grabbed ? 0 : 1;
    }
    if (mode == "transfer") {
        // A 1.5 MiB image on a link of 3 ms round trips, grabbed a few seconds into the write.
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("efis-0.2.14.bin"));
        firmware_header_t h;
        std::memset(&h, 0, sizeof(h));
        h.magic = 0x45464953;
        h.encrypted_size = h.plaintext_size = 1536 * 1024;
        h.total_size = sizeof(h) + h.encrypted_size;
        h.offset = 64;
        std::vector<char> bytes(sizeof(h) + h.encrypted_size, 0x5A);
        std::memcpy(bytes.data(), &h, sizeof(h));
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
                static_cast<qint64>(bytes.size())) {
            return 1;
        }
        file.close();
        bool unused = false;
        answerDialogs(image, QString(), &unused);
        window.findChild<QTabWidget*>()->setCurrentIndex(1);
        widget<QPushButton>(&window, "pushButton_browse")->click();
        widget<QPushButton>(&window, "pushButton_start_update")->click();
        QTest::qWait(6000);
        const bool saved = window.grab().save(out);
        widget<QPushButton>(&window, "pushButton_cancel_update")->click();
        const bool stopped = QTest::qWaitFor(
            [&]() { return widget<QPushButton>(&window, "pushButton_browse")->isEnabled(); },
            30000);
        return saved && stopped ? 0 : 1;
    }
    return window.grab().save(out) ? 0 : 1;
}
