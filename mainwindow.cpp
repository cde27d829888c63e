#include "mainwindow.h"

#include <cstdio>
#include <cstdlib>

#include "ui_mainwindow.h"

void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    const QByteArray text = msg.toLocal8Bit();
    const char* file = context.file != nullptr ? context.file : "";
    const char* function = context.function != nullptr ? context.function : "";
    const unsigned line = static_cast<unsigned>(context.line);
    switch (type) {
    case QtDebugMsg:
        std::fprintf(stderr, "Debug: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        break;
    case QtWarningMsg:
        std::fprintf(stderr, "Warning: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        break;
    case QtCriticalMsg:
        std::fprintf(stderr, "Critical: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        break;
    case QtFatalMsg:
        std::fprintf(stderr, "Fatal: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        std::abort();
    case QtInfoMsg:
        std::fprintf(stderr, "Info: %s (%s:%u, %s)\n", text.constData(), file, line, function);
        break;
    }
    std::fflush(stderr);
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
    qInstallMessageHandler(customMessageHandler);
    ui->setupUi(this);
}

MainWindow::~MainWindow() {
    delete ui;
}
