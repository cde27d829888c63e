// Renders the main window, loaded from an emulated unit, to a PNG file.
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "gui_test_support.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_snapshot <file.png>\n");
        return 2;
    }
    resetUnit(emu::Generation::Current);
    MainWindow window;
    window.show();
    QApplication::processEvents();
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
