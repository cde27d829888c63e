// Device > Unit: the units found, the one in use, and the user's choice between several.
#include <QAction>
#include <QActionGroup>
#include <QDebug>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>

#include "comms/comms.h"
#include "gui/firmware_text.h"
#include "gui/mainwindow.h"
#include "settings/word_text.h"

namespace {

const QString kSettingsUnitSerial = QStringLiteral("link/unit_serial");

QSettings appSettings() {
    return QSettings(QStringLiteral("efis-config"), QStringLiteral("efis-config"));
}

QString linkWords(const FoundUnit& u) {
    return u.link == USB_HID ? QStringLiteral("USB HID")
                             : QStringLiteral("CAN FD (%1)").arg(QString::fromStdString(u.device));
}

// One line per unit: a unit answering on both links is one unit.
struct UnitLine {
    uint32_t serial;
    QString links;
    fwversion_t firmware;
};

std::vector<UnitLine> unitLines(const std::vector<FoundUnit>& found) {
    std::vector<UnitLine> lines;
    for (const FoundUnit& u : found) {
        if (!u.answered || u.shared_bus) {
            continue;
        }
        auto same = std::find_if(lines.begin(), lines.end(),
                                 [&u](const UnitLine& l) { return l.serial == u.serial; });
        if (same == lines.end()) {
            lines.push_back({u.serial, linkWords(u), u.firmware});
        } else {
            same->links += QStringLiteral(" and ") + linkWords(u);
        }
    }
    return lines;
}

}  // namespace

void MainWindow::setupUnitMenu(QMenu* device) {
    const QVariant remembered = appSettings().value(kSettingsUnitSerial);
    uint32_t serial = 0;
    if (remembered.isValid() && parse_hex_word(remembered.toString(), &serial)) {
        unitPreferred = serial;
    }
    unitMenu = device->addMenu(QStringLiteral("Unit"));
    unitMenu->setObjectName(QStringLiteral("menu_unit"));
    connect(unitMenu, &QMenu::aboutToShow, this, [this]() { fillUnitMenu(); });
    fillUnitMenu();
}

void MainWindow::fillUnitMenu() {
    unitMenu->clear();
    delete unitGroup;
    unitGroup = new QActionGroup(unitMenu);
    unitGroup->setExclusive(true);
    const bool linked = linkWatch.state() == LinkState::Linked;
    for (const UnitLine& line : unitLines(unitsSeen)) {
        const QString serial = serial_text(line.serial);
        QAction* action =
            unitMenu->addAction(QStringLiteral("%1 · serial %2 · %3")
                                    .arg(line.links, serial, firmwareText(line.firmware)));
        action->setObjectName(QStringLiteral("action_unit_") + serial);
        action->setCheckable(true);
        action->setChecked(linked && comms->serialNumber() == line.serial);
        unitGroup->addAction(action);
        const uint32_t chosen = line.serial;
        connect(action, &QAction::triggered, this, [this, chosen]() { chooseUnit(chosen); });
    }
    // Found but not usable: listed so that the user sees why.
    for (const FoundUnit& u : unitsSeen) {
        QString text;
        if (!u.answered) {
            text = QStringLiteral("%1 %2 · did not answer")
                       .arg(linkWords(u), QString::fromStdString(u.device));
        } else if (u.shared_bus) {
            text = QStringLiteral("%1 · serial %2 · shares the bus with another unit")
                       .arg(linkWords(u), serial_text(u.serial));
        } else {
            continue;
        }
        unitMenu->addAction(text)->setEnabled(false);
    }
    if (unitsSeen.empty()) {
        unitMenu->addAction(QStringLiteral("No unit found"))->setEnabled(false);
    }
    unitMenu->addSeparator();
    QAction* again = unitMenu->addAction(QStringLiteral("Look for Units Again"));
    again->setObjectName(QStringLiteral("action_units_again"));
    connect(again, &QAction::triggered, this, [this]() { reconnect(); });
}

void MainWindow::chooseUnit(uint32_t serial) {
    if (connectionAttemptRunning() || refuseWhileTransferring()) {
        fillUnitMenu();
        return;
    }
    if (linkWatch.state() == LinkState::Linked && comms->serialNumber() == serial) {
        return;
    }
    if (!changed_values.empty() &&
        !confirm(
            QStringLiteral("Discard %1 unsent edit(s)?").arg(pending_setting_count(changed_values)),
            QStringLiteral("Choosing another unit loads its settings into the form. Edits not "
                           "sent with Update are lost."),
            QStringLiteral("Discard Edits and Choose"))) {
        fillUnitMenu();
        return;
    }
    changed_values.clear();
    unitPreferred = serial;
    appSettings().setValue(kSettingsUnitSerial, serial_text(serial));
    qDebug() << "Unit chosen:" << serial_text(serial);
    reconnect();
}

void MainWindow::noteUnitsFound(bool linked) {
    unitsSeen = comms->unitsFound();
    const UnitChoice choice = comms->unitChoice();
    unitChoiceNeeded = !linked && choice.pick == UnitPick::ChoiceNeeded;
    if (linked) {
        unitPreferred = choice.serial;
    }
    const std::vector<uint32_t> shared = shared_bus_serials(unitsSeen);
    if (unitChoiceNeeded) {
        const QString text =
            QStringLiteral("Warning: %1; choose one in Device > Unit")
                .arg(QString::fromStdString(units_connected_text(usable_serials(unitsSeen))));
        qDebug() << text;
        statusBar()->showMessage(text, 0);
    } else if (!shared.empty()) {
        const QString text =
            QStringLiteral("Warning: ") +
            QString::fromStdString(shared_bus_text(canInterfaceName.toStdString(), shared));
        qDebug() << text;
        if (!linked) {
            statusBar()->showMessage(text, 0);
        }
    }
}
