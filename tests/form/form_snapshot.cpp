#include <QApplication>
#include <QMainWindow>
#include <QPixmap>
#include <cstdio>

#include "gui/form_behaviour.h"
#include "settings/registration_prefix.h"
#include "ui_mainwindow.h"

// Renders the form as the window shows it before anything is loaded (set up, its behaviour
// installed, the registration prefixes filled in) into a PNG file; an optional tab index picks
// the tab shown instead of the Settings tab.
int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <file.png> [tab]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    installFormBehaviour(&ui);
    for (const char* prefix : REGISTRATION_PREFIXES) {
        ui.comboBox_reg_prefix->addItem(QString::fromLatin1(prefix));
    }
    if (argc == 3) {
        bool ok = false;
        const int tab = QString::fromLocal8Bit(argv[2]).toInt(&ok);
        if (!ok || tab < 0 || tab >= ui.tabWidget->count()) {
            std::fprintf(stderr, "no tab %s\n", argv[2]);
            return 2;
        }
        ui.tabWidget->setCurrentIndex(tab);
    }
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
