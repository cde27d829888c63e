#include "gui/mainwindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "comms/comms.h"
#include "gui/form_behaviour.h"
#include "gui/form_controls.h"
#include "settings/registration_prefix.h"
#include "ui_mainwindow.h"

Settings_t user_config;
uint32_t user_config_chk = 0;

namespace {
// The open window's diagnostic trace, which keeps the last log lines too; the lock keeps a
// closing window from going while a line is added from another thread.
std::mutex g_logTraceMutex;
DiagnosticTrace* g_logTrace = nullptr;

void setLogTrace(DiagnosticTrace* trace) {
    std::lock_guard<std::mutex> lock(g_logTraceMutex);
    g_logTrace = trace;
}
}  // namespace

void traceLogLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_logTraceMutex);
    if (g_logTrace != nullptr) {
        g_logTrace->addLine(frame_tap_time_us(), line);
    }
}

void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    const QByteArray text = msg.toLocal8Bit();
    const char* file = context.file != nullptr ? context.file : "";
    const char* function = context.function != nullptr ? context.function : "";
    const unsigned line = static_cast<unsigned>(context.line);
    static const char* const kinds[] = {"Debug", "Warning", "Critical", "Fatal", "Info"};
    const auto kind = static_cast<size_t>(type);
    traceLogLine(std::string(kind < 5 ? kinds[kind] : "Log") + ": " + text.toStdString());
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

namespace {

// Enter in a one-line text field does nothing (Tab moves the focus on).
class SingleLineKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

bool linkUp(const CommsManager* comms) {
    return comms != nullptr && comms->isConnected();
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), comms(nullptr) {
    qInstallMessageHandler(customMessageHandler);
    ui->setupUi(this);
    applySettingRanges(ui);
    installFormBehaviour(ui);
    statusBar()->showMessage(QStringLiteral("Initializing..."), 0);
    pendingLabel = new QLabel(this);
    pendingLabel->setObjectName(QStringLiteral("label_pending_edits"));
    backupLabel = new QLabel(this);
    backupLabel->setObjectName(QStringLiteral("label_backup"));
    statusBar()->addPermanentWidget(backupLabel);
    statusBar()->addPermanentWidget(pendingLabel);
    setupFileMenu();
    setupTransferControls();
    setupLinkControls();
    auto* singleLine = new SingleLineKeys(this);
    for (QPlainTextEdit* field : {ui->text_registration_num, ui->text_icao}) {
        field->setTabChangesFocus(true);
        field->installEventFilter(singleLine);
    }

    for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
        ui->comboBox_reg_prefix->addItem(QString::fromLatin1(REGISTRATION_PREFIXES[i]));
    }

    ui->text_firmware_file->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->progressBar_firmware->setEnabled(false);
    connect(ui->pushButton_browse, &QPushButton::clicked, this, &MainWindow::onBrowseClicked);
    connect(ui->pushButton_start_update, &QPushButton::clicked, this,
            &MainWindow::onStartUpdateClicked);

    ui->text_firmware_file_2->setEnabled(false);
    ui->pushButton_start_airport->setEnabled(false);
    ui->progressBar_airports->setEnabled(false);
    connect(ui->pushButton_browse_airports, &QPushButton::clicked, this,
            &MainWindow::onBrowseAirportsClicked);
    connect(ui->pushButton_start_airport, &QPushButton::clicked, this,
            &MainWindow::onStartAirportClicked);

    std::memset(&user_config.vspeeds, 0, sizeof(user_config.vspeeds));

    connect(ui->pushButton_save, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(ui->pushButton_load, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
    connectFormControls();
    connect(ui->pushButton_update, &QPushButton::clicked, this, &MainWindow::onUpdateClicked);
    connect(ui->pushButton_reboot, &QPushButton::clicked, this, &MainWindow::onRebootClicked);

    refreshMarks();
    comms = new CommsManager();
    setLogTrace(&diagnosticTrace);
    // The window shows at once; the connection sequence and the first load follow.
    startLinkWatch();
}

MainWindow::~MainWindow() {
    unitPoll->stop();
    // A connection attempt ends on its own within its links' time-outs.
    if (connectionThread != nullptr) {
        connectionThread->wait();
    }
    setLogTrace(nullptr);
    // A worker holds the comms manager until its upload returns, so the manager outlives it:
    // after the two-minute wait the worker is asked to stop between packets and joined.
    for (QThread* worker : {firmwareUploadThread.data(), airportUploadThread.data()}) {
        if (worker != nullptr && worker->isRunning() && !worker->wait(120000)) {
            uploadCancel = true;
            worker->wait();
        }
    }
    // Each worker's last act is storing its result: reading both after the joins orders all
    // its use of the link before the deletion, in a way thread checkers see too.
    (void)firmwareUploadResult.load(std::memory_order_acquire);
    (void)airportUploadResult.load(std::memory_order_acquire);
    delete comms;
    comms = nullptr;
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closeDuringTransfer()) {
        event->ignore();
        return;
    }
    if (changed_values.empty() && !unitRecord.sent_not_saved) {
        event->accept();
        return;
    }
    QStringList lost;
    if (!changed_values.empty()) {
        lost << QStringLiteral("%1 edit(s) not sent to the unit")
                    .arg(pending_setting_count(changed_values));
    }
    if (unitRecord.sent_not_saved) {
        lost << QStringLiteral("values sent but not saved on the unit (lost when it restarts)");
    }
    if (confirm(QStringLiteral("Close with unsaved settings?"),
                QStringLiteral("There are %1.").arg(lost.join(QStringLiteral(" and "))),
                QStringLiteral("Close Anyway"))) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool MainWindow::event(QEvent* event) {
    // A menu's status tip would clear the status bar; its messages stay until the next one.
    if (event->type() == QEvent::StatusTip) {
        return true;
    }
    return QMainWindow::event(event);
}

bool MainWindow::linkUpAndIdle() const {
    return linkReady() && !transferRunning();
}

bool MainWindow::linkReady() const {
    return !connectionAttemptRunning() && linkUp(comms);
}

bool MainWindow::confirm(const QString& text, const QString& informative, const QString& proceed) {
    QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("confirmation"));
    box.setInformativeText(informative);
    QPushButton* go = box.addButton(proceed, QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == go;
}
