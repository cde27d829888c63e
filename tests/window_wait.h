// Waiting for the window's connection attempt, which runs off the GUI thread, and keeping the
// window's remembered choices out of the user's configuration.
#pragma once

#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>

#include "gui/mainwindow.h"

// Serves events until the window's connection attempt (and the load after it) has ended;
// false when it still runs after `timeout_ms`.
inline bool waitForConnectionAttempt(MainWindow* window, int timeout_ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (window->connectionAttemptRunning()) {
        if (timer.elapsed() > timeout_ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return true;
}

// The window's settings (the chosen CAN interface) go to a directory of this process.
inline void isolateWindowSettings() {
    static const QString dir =
        QDir::temp().filePath(QStringLiteral("efis-config-test-%1").arg(::getpid()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    QSettings(QStringLiteral("efis-config"), QStringLiteral("efis-config")).clear();
}
