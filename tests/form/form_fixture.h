#pragma once

#include <QMainWindow>
#include <QString>
#include <QWidget>
#include <memory>

#include "ui_mainwindow.h"

// The main window's form set up on a bare QMainWindow, without the window logic.
struct FormFixture {
    std::unique_ptr<QMainWindow> window = std::make_unique<QMainWindow>();
    Ui::MainWindow ui;

    FormFixture() { ui.setupUi(window.get()); }

    QObject* object(const QString& name) const { return window->findChild<QObject*>(name); }

    template <typename T>
    T* find(const QString& name) const {
        return window->findChild<T*>(name);
    }
};
