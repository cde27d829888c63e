#include <QApplication>

#include "mainwindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int rc = 0;
    {
        MainWindow window(nullptr);
        window.show();
        rc = app.exec();
    }
    return rc;
}
