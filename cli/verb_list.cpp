// efis-cli list: every unit found on the links tried, whether or not one could be used.
#include <QJsonArray>
#include <QJsonObject>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/exit_status.h"
#include "cli/verbs.h"
#include "comms/comms.h"
#include "comms/unit_choice.h"
#include "settings/word_text.h"

namespace {

QString link_name(const FoundUnit& u) {
    return u.link == USB_HID ? QStringLiteral("USB HID") : QStringLiteral("CAN FD");
}

QString generation(const FoundUnit& u) {
    return fwversion_ge(u.firmware, 0, 2, 12) ? QStringLiteral("current")
                                              : QStringLiteral("legacy");
}

}  // namespace

int run_list(const CliOptions& options, CliOutput& out) {
    CommsManager comms;
    LinkChoice links = options.links;
    links.serial.reset();
    comms.establish_connection(links);
    const std::vector<FoundUnit> found = comms.unitsFound();
    comms.disconnectAll();

    QJsonArray units;
    for (const FoundUnit& u : found) {
        const QString device = QString::fromStdString(u.device);
        QJsonObject unit{{QStringLiteral("link"),
                          u.link == USB_HID ? QStringLiteral("usb") : QStringLiteral("can")},
                         {QStringLiteral("device"), device},
                         {QStringLiteral("answered"), u.answered}};
        if (!u.answered) {
            out.text(QStringLiteral("%1  %2  did not answer").arg(link_name(u), -7).arg(device));
            units.append(unit);
            continue;
        }
        const QString firmware = firmware_version_text(u.firmware);
        unit.insert(QStringLiteral("serial_number"), hex_word(u.serial));
        unit.insert(QStringLiteral("firmware_version"), firmware);
        unit.insert(QStringLiteral("generation"), generation(u));
        unit.insert(QStringLiteral("shared_bus"), u.shared_bus);
        units.append(unit);
        out.text(QStringLiteral("%1  %2  serial %3  firmware %4  %5%6")
                     .arg(link_name(u), -7)
                     .arg(device, serial_text(u.serial), firmware, generation(u),
                          u.shared_bus ? QStringLiteral("  (shares the bus with another unit)")
                                       : QString()));
    }
    const std::vector<uint32_t> shared = shared_bus_serials(found);
    if (!shared.empty()) {
        out.warning(QString::fromStdString(shared_bus_text(links.can_interface, shared)));
    }
    const int status = found.empty() ? kExitNoUnit : kExitDone;
    if (found.empty()) {
        out.error(QStringLiteral("no unit found"));
    }
    out.result(status, QJsonObject{{QStringLiteral("units"), units}});
    return status;
}
