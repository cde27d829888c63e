#include <QApplication>
#include <cstdio>

#include "mainwindow.h"

int main(int argc, char** argv) {
    // The protocol log goes to standard output: keep it line by line also when it is piped
    // into a file, so that nothing is lost if the program is stopped.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    int rc = 0;
    {
        MainWindow window(nullptr);
        window.show();
        rc = app.exec();
    }
    return rc;
}
