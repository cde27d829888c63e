// The connection that follows the unit: the first attempt off the GUI thread, the watch for
// the unit arriving, leaving and restarting, the link label, and the Device and Help menus.
#include <QAction>
#include <QActionGroup>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <chrono>
#include <string>

#include "EFIS_shared/comms_types.h"
#include "comms/can_interfaces.h"
#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "comms/usb_hid/USBHID.h"
#include "comms/usb_hid/unit_interface.h"
#include "gui/device_events.h"
#include "gui/firmware_text.h"
#include "gui/mainwindow.h"
#include "settings/file_write.h"
#include "settings/word_text.h"
#include "ui_mainwindow.h"

namespace {

constexpr int kPollMs = 1000;
constexpr uint32_t kNoSerial = 0xFFFFFFFF;
// A hidraw node appears before udev has given the user access to it.
constexpr uint32_t kUsbOpenRetryMs = 2000;
const QString kSettingsCanInterface = QStringLiteral("link/can_interface");
const QString kDefaultCanInterface = QStringLiteral("can0");

QSettings appSettings() {
    return QSettings(QStringLiteral("efis-config"), QStringLiteral("efis-config"));
}

}  // namespace

void MainWindow::setupLinkControls() {
    linkClock = []() {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
    };
    {
        const QSettings settings = appSettings();
        canInterfaceName = settings.value(kSettingsCanInterface, kDefaultCanInterface).toString();
    }
    if (!can_interface_name_valid(canInterfaceName.toStdString())) {
        canInterfaceName = kDefaultCanInterface;
    }

    linkLabel = new QLabel(this);
    linkLabel->setObjectName(QStringLiteral("label_link"));
    statusBar()->addPermanentWidget(linkLabel);

    QMenu* device = ui->menubar->addMenu(QStringLiteral("&Device"));
    device->setObjectName(QStringLiteral("menu_device"));
    reconnectAction = device->addAction(QStringLiteral("Reconnect"));
    reconnectAction->setObjectName(QStringLiteral("action_reconnect"));
    connect(reconnectAction, &QAction::triggered, this, [this]() { reconnect(); });
    canMenu = device->addMenu(QStringLiteral("CAN Interface"));
    canMenu->setObjectName(QStringLiteral("menu_can_interface"));
    connect(canMenu, &QMenu::aboutToShow, this, [this]() { fillCanInterfaceMenu(); });
    fillCanInterfaceMenu();
    setupUnitMenu(device);

    QMenu* help = ui->menubar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("menu_help"));
    QAction* trace = help->addAction(QStringLiteral("Save Diagnostic Trace…"));
    trace->setObjectName(QStringLiteral("action_save_trace"));
    connect(trace, &QAction::triggered, this, [this]() { saveDiagnosticTrace(); });
    QAction* about = help->addAction(QStringLiteral("About"));
    about->setObjectName(QStringLiteral("action_about"));
    connect(about, &QAction::triggered, this, [this]() { showAbout(); });

    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
        if (!text.isEmpty()) {
            diagnosticTrace.addLine(frame_tap_time_us(), "Status: " + text.toStdString());
        }
    });

    unitPoll = new QTimer(this);
    unitPoll->setInterval(kPollMs);
    connect(unitPoll, &QTimer::timeout, this, [this]() { pollUnit(); });
    deviceEvents = new DeviceEvents(this);
    connect(deviceEvents, &DeviceEvents::changed, this,
            [this](const QString& subsystem, const QString& action, const QString& name) {
                qDebug() << "Device event:" << subsystem << action << name;
                pollUnit();
            });
}

int64_t MainWindow::linkNowMs() const {
    return linkClock();
}

void MainWindow::setLinkClock(std::function<int64_t()> clock) {
    linkClock = std::move(clock);
}

bool MainWindow::connectionAttemptRunning() const {
    return connectionThread != nullptr;
}

void MainWindow::startLinkWatch() {
    comms->setFrameTap(diagnosticTrace.tap());
    attemptAnnounced = true;
    applyLinkSteps(linkWatch.start(linkNowMs()));
    unitPoll->start();
}

// While a connection attempt has the comms manager, nothing else may reach it or the unit's
// identity it is filling in: the device buttons, Reconnect and the settings files wait.
void MainWindow::setAttemptActionsEnabled(bool enabled) {
    reconnectAction->setEnabled(enabled);
    for (const char* name : {"action_export_settings", "action_import_settings"}) {
        if (auto* action = findChild<QAction*>(QString::fromLatin1(name))) {
            action->setEnabled(enabled);
        }
    }
}

void MainWindow::startConnectionAttempt() {
    setDeviceActionsEnabled(false);
    setAttemptActionsEnabled(false);
    LinkChoice choice;
    choice.can_interface = canInterfaceName.toStdString();
    choice.usb_open_retry_ms = kUsbOpenRetryMs;
    choice.preferred = unitPreferred;
    CommsManager* manager = comms;
    std::atomic<bool>* result = &connectionResult;
    const bool first = firstAttempt;
    firstAttempt = false;
    QThread* worker = QThread::create([manager, choice, result, first]() {
        if (first) {
            // The unit's links are given a moment after the program starts.
            QThread::msleep(100);
        }
        result->store(manager->establish_connection(choice), std::memory_order_release);
    });
    connectionThread = worker;
    connect(worker, &QThread::finished, this, [this]() { onConnectionAttemptEnded(); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    showLinkLabel();
    worker->start();
}

void MainWindow::onConnectionAttemptEnded() {
    connectionThread = nullptr;
    const bool linked = connectionResult.load(std::memory_order_acquire);
    noteUnitsFound(linked);
    if (!linked && attemptAnnounced && !unitChoiceNeeded && shared_bus_serials(unitsSeen).empty()) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        statusBar()->showMessage(
            QStringLiteral(
                "Failed to connect to EFIS via USB or CAN FD - please check connections"),
            0);
        // As at start-up, the device actions stay available and say that no link is up.
        unitLost = false;
    }
    attemptAnnounced = false;
    setAttemptActionsEnabled(true);
    // A file chosen while the search ran was planned without the link's round trip.
    if (linked && !transferRunning()) {
        if (!firmwareFilePath.isEmpty() && !firmwareIncomplete) {
            showTransferPlan(true);
        }
        if (!airportDbFilePath.isEmpty()) {
            showTransferPlan(false);
        }
    }
    applyLinkSteps(unitChoiceNeeded ? linkWatch.choiceNeeded(unitPresence(), linkNowMs())
                                    : linkWatch.attemptEnded(linked, unitPresence(), linkNowMs()));
    setDeviceActionsEnabled(!transferRunning() && !unitLost && !unitChoiceNeeded &&
                            linkWatch.state() != LinkState::Restarting);
}

void MainWindow::applyLinkSteps(const LinkSteps& steps) {
    if (steps.close_links) {
        comms->disconnectAll();
    }
    if (steps.lost) {
        unitLost = true;
        setDeviceActionsEnabled(false);
        qDebug() << "The unit was disconnected";
        // A failure just shown (an upload that lost its link) names the cause; it stays.
        if (!statusBar()->currentMessage().startsWith(QStringLiteral("Error: "))) {
            statusBar()->showMessage(QStringLiteral("Warning: The unit was disconnected"), 0);
        }
    }
    if (steps.overdue) {
        unitLost = true;
        qDebug() << "The unit did not come back after the restart";
        statusBar()->showMessage(
            QStringLiteral("Warning: The unit did not come back within 30 s of the restart; it "
                           "will be found when it is connected again"),
            0);
        if (restartEntryPending) {
            restartEntryPending = false;
            const QString warning = logbook_record(
                logbook_dir(), LogbookFrontEnd::Window, unitBeforeRestart,
                logbook_restart_action(unitBeforeRestart.firmware,
                                       QStringLiteral("did not come back"), nullptr));
            if (!warning.isEmpty()) {
                statusBar()->showMessage(
                    statusBar()->currentMessage() + QStringLiteral("; Warning: ") + warning, 0);
            }
        }
    }
    if (steps.connect) {
        startConnectionAttempt();
    }
    if (steps.load) {
        unitLost = false;
        onUnitFound(steps.returned);
    }
    showLinkLabel();
}

void MainWindow::onUnitFound(bool returned) {
    USBHID* usb = comms->getUSBHID();
    CANFD* can = comms->getCANFD();
    if (usb != nullptr && can != nullptr && usb->isConnected() && can->isConnected()) {
        statusBar()->showMessage(QStringLiteral("Connected via both USB HID and CAN FD"), 0);
    } else if (comms->getActiveInterface() == USB_HID) {
        statusBar()->showMessage(QStringLiteral("Connected via USB HID"), 0);
    } else if (comms->getActiveInterface() == CAN_FD) {
        statusBar()->showMessage(QStringLiteral("Connected via CAN FD"), 0);
    }
    setDeviceActionsEnabled(!transferRunning());
    const uint32_t serial = comms->serialNumber();
    const uint32_t previous = previousUnitSerial;
    previousUnitSerial = serial;
    if (transferRunning()) {
        return;
    }
    // The record is always the connected unit's, so it is read again; edits the user has not
    // sent stay over it, and Load is theirs to discard them. Edits made for one unit may not
    // suit another: the message says which unit this is.
    if (!changed_values.empty()) {
        QString which = QStringLiteral("The unit is connected again");
        if (previous == kNoSerial) {
            which = QStringLiteral("The unit is connected");
        } else if (previous != serial) {
            which =
                QStringLiteral("Another unit (serial %1) is connected").arg(serial_text(serial));
        }
        loadConfigFromDevice(
            QStringLiteral("Warning: %1; %2 edit(s) not sent are kept in the form (Load replaces "
                           "them with the unit's settings)")
                .arg(which)
                .arg(pending_setting_count(changed_values)));
    } else {
        loadConfigFromDevice();
    }
    if (!returned) {
        return;
    }
    const fwversion_t now = g_whoami_fwversion;
    QString text;
    if (firmwareBeforeRestart.version == now.version) {
        text = QStringLiteral("The unit restarted and still runs %1").arg(firmwareText(now));
    } else {
        text = QStringLiteral("The unit restarted and now runs %1 (before: %2)")
                   .arg(firmwareText(now), firmwareText(firmwareBeforeRestart));
    }
    qDebug() << text;
    // A load that failed says so; otherwise the user sees what the unit runs now.
    if (!statusBar()->currentMessage().startsWith(QStringLiteral("Error: "))) {
        statusBar()->showMessage(text, 0);
    }
    if (restartEntryPending) {
        restartEntryPending = false;
        recordInLogbook(
            logbook_restart_action(firmwareBeforeRestart, QStringLiteral("came back"), &now));
    }
}

UnitPresence MainWindow::unitPresence() const {
    UnitPresence seen;
    seen.usb = usb_unit_present(vendor_id, product_id);
    CanInterface state;
    seen.can = can_interface_state(canInterfaceName.toStdString(), &state) && state.up;
    return seen;
}

void MainWindow::pollUnit() {
    if (connectionAttemptRunning()) {
        return;
    }
    const UnitPresence seen = unitPresence();
    const bool busy = transferRunning();
    bool lost = false;
    // While a transfer has the link, its own failure tells; the link is not looked at.
    if (linkWatch.state() == LinkState::Linked && !busy) {
        lost = !comms->isConnected() || comms->linkLost() ||
               (comms->getActiveInterface() == USB_HID ? !seen.usb : !seen.can);
    }
    applyLinkSteps(linkWatch.observe(seen, lost, busy, linkNowMs()));
}

void MainWindow::restartExpected() {
    firmwareBeforeRestart = g_whoami_fwversion;
    // Until the unit is back there is nothing for the device buttons to reach.
    setDeviceActionsEnabled(false);
    applyLinkSteps(linkWatch.restartSent(linkNowMs()));
}

void MainWindow::reconnect() {
    if (refuseWhileTransferring() || connectionAttemptRunning()) {
        return;
    }
    qDebug() << "Reconnecting";
    attemptAnnounced = true;
    applyLinkSteps(linkWatch.reconnect(linkNowMs()));
}

QString MainWindow::linkDescription() const {
    if (comms == nullptr || !comms->isConnected()) {
        return QString();
    }
    USBHID* usb = comms->getUSBHID();
    CANFD* can = comms->getCANFD();
    const bool usbUp = usb != nullptr && usb->isConnected();
    const bool canUp = can != nullptr && can->isConnected();
    const QString canText = QStringLiteral("CAN FD (%1)").arg(canInterfaceName);
    QString link;
    if (usbUp && canUp) {
        link = QStringLiteral("USB HID and ") + canText;
    } else if (usbUp) {
        link = QStringLiteral("USB HID");
    } else {
        link = canText;
    }
    const QString serial = serial_text(comms->serialNumber());
    return QStringLiteral("%1 · serial %2 · %3")
        .arg(link, serial, firmwareText(g_whoami_fwversion));
}

void MainWindow::showLinkLabel() {
    QString text;
    switch (linkWatch.state()) {
    case LinkState::Connecting:
        text = QStringLiteral("Looking for the unit…");
        break;
    case LinkState::Linked:
        text = linkDescription();
        break;
    case LinkState::Watching:
        text = QStringLiteral("No unit — connect it and it will be found");
        break;
    case LinkState::Choosing:
        text = QStringLiteral("%1 units found — choose one in Device > Unit")
                   .arg(usable_serials(unitsSeen).size());
        break;
    case LinkState::Restarting: {
        const int64_t left = (linkWatch.restartDeadlineMs() - linkNowMs() + 999) / 1000;
        text =
            QStringLiteral("Restarting — waiting up to %1 s for the unit").arg(left < 0 ? 0 : left);
        break;
    }
    }
    linkLabel->setText(text);
}

void MainWindow::fillCanInterfaceMenu() {
    canMenu->clear();
    delete canGroup;
    canGroup = new QActionGroup(canMenu);
    canGroup->setExclusive(true);
    bool chosenListed = false;
    for (const CanInterface& iface : list_can_interfaces()) {
        const QString name = QString::fromStdString(iface.name);
        QString text = name;
        if (!iface.fd_capable) {
            text += QStringLiteral(" (no CAN FD)");
        } else if (!iface.up) {
            text += QStringLiteral(" (down)");
        }
        QAction* action = canMenu->addAction(text);
        action->setObjectName(QStringLiteral("action_can_") + name);
        action->setCheckable(true);
        action->setChecked(name == canInterfaceName);
        action->setEnabled(iface.fd_capable);
        canGroup->addAction(action);
        chosenListed = chosenListed || name == canInterfaceName;
        connect(action, &QAction::triggered, this, [this, name]() { chooseCanInterface(name); });
        if (iface.fd_capable && !iface.up) {
            QAction* hint = canMenu->addAction(QStringLiteral("    bring it up: ") +
                                               QString::fromStdString(can_fd_up_command(iface)));
            hint->setEnabled(false);
        }
    }
    if (!chosenListed) {
        QAction* absent = canMenu->addAction(canInterfaceName + QStringLiteral(" (not present)"));
        absent->setObjectName(QStringLiteral("action_can_") + canInterfaceName);
        absent->setCheckable(true);
        absent->setChecked(true);
        absent->setEnabled(false);
        canGroup->addAction(absent);
    }
}

void MainWindow::chooseCanInterface(const QString& name) {
    if (!can_interface_name_valid(name.toStdString())) {
        return;
    }
    canInterfaceName = name;
    {
        QSettings settings = appSettings();
        settings.setValue(kSettingsCanInterface, name);
    }
    qDebug() << "CAN interface chosen:" << name;
    CanInterface state;
    if (can_interface_state(name.toStdString(), &state) && !state.up) {
        statusBar()->showMessage(QStringLiteral("Warning: %1 is down; bring it up with: %2")
                                     .arg(name, QString::fromStdString(can_fd_up_command(state))),
                                 0);
    }
    if (transferRunning()) {
        statusBar()->showMessage(
            QStringLiteral("%1 will be used at the next connection, after the transfer").arg(name),
            0);
        return;
    }
    reconnect();
}

QString MainWindow::canInterface() const {
    return canInterfaceName;
}

bool MainWindow::unitLinked() const {
    return linkWatch.state() == LinkState::Linked;
}

void MainWindow::saveDiagnosticTrace() {
    const QString suggested =
        QStringLiteral("efis-config-trace-%1.log")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Diagnostic Trace"), suggested,
                                     QStringLiteral("Trace Files (*.log);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    QByteArray text;
    text += "# efis-config " EFIS_VERSION " diagnostic trace, saved ";
    text += QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8();
    text += "\n# link: " + linkLabel->text().toUtf8() + "\n";
    for (const std::string& line : diagnosticTrace.lines(canInterfaceName.toStdString())) {
        text += QByteArray::fromStdString(line);
        text += '\n';
    }
    QString reason;
    if (!write_file_whole(path, text, &reason)) {
        statusBar()->showMessage(QStringLiteral("Error: Could not write %1: %2")
                                     .arg(QDir::toNativeSeparators(path), reason),
                                 0);
        return;
    }
    statusBar()->showMessage(QStringLiteral("Diagnostic trace saved to %1 (%2 frames)")
                                 .arg(path)
                                 .arg(diagnosticTrace.frameCount()),
                             0);
}

void MainWindow::showAbout() {
    QString unit = QStringLiteral("No unit connected");
    if (linkWatch.state() == LinkState::Linked) {
        unit = linkDescription();
    }
    QMessageBox::about(this, QStringLiteral("About efis-config"),
                       QStringLiteral("<p><b>efis-config %1</b></p>"
                                      "<p>Configuration and maintenance of the OW_52 EFIS.</p>"
                                      "<p>Link: %2</p><p>CAN interface: %3</p>")
                           .arg(QStringLiteral(EFIS_VERSION), unit.toHtmlEscaped(),
                                canInterfaceName.toHtmlEscaped()));
}
