// Renders the main window, loaded from an emulated unit, to a PNG file:
//   window_snapshot <file.png>                 as loaded
//   window_snapshot <file.png> marks           with an unsent edit and a value it cannot show
//   window_snapshot <file.png> import          the comparison of an import
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPixmap>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cstdio>

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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString mode = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (argc < 2 || argc > 3 || !(mode.isEmpty() || mode == "marks" || mode == "import")) {
        std::fprintf(stderr, "usage: window_snapshot <file.png> [marks|import]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    Settings_t held = sampleSettings();
    if (mode == "marks") {
        held.vspeeds.Vne = 250;
    }
    resetUnit(emu::Generation::Current, withCrc(held));
    MainWindow window;
    window.show();
    QApplication::processEvents();
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
    return window.grab().save(out) ? 0 : 1;
}
