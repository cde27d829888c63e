#include <unistd.h>
#include <QApplication>
#include <cstdio>
#include <string>

#include "gui/mainwindow.h"
#include "gui/stdout_tee.h"

int main(int argc, char** argv) {
    // Started with a standard stream closed, the log copy's pipe or a settings file would take
    // its number and receive the protocol log.
    open_standard_streams();
    // The protocol log goes to standard output: keep it line by line also when it is piped
    // into a file, so that nothing is lost if the program is stopped.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The protocol's lines also go into the diagnostic trace of the window.
    StdoutTee tee;
    tee.start(STDOUT_FILENO, [](const std::string& line) { traceLogLine(line); });
    QApplication app(argc, argv);
    int rc = 0;
    {
        MainWindow window(nullptr);
        window.show();
        rc = app.exec();
    }
    tee.stop();
    return rc;
}
