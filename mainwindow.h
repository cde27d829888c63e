#pragma once

#include <QMainWindow>
#include <QString>

namespace Ui {
class MainWindow;
}

// Formats every Qt log message of the process as one line on standard error.
void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

private:
    Ui::MainWindow* ui;
};
