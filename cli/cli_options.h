// The command line of efis-cli: global options, a verb and its operands.
#pragma once

#include <QString>
#include <QStringList>

#include "comms/comms.h"

enum class Verb {
    None,
    Info,
    SettingsShow,
    SettingsSet,
    SettingsExport,
    SettingsImport,
    CalibrationExport,
    Firmware,
    Airports,
    Reboot,
    List,
    Logbook,
};

struct CliOptions {
    Verb verb = Verb::None;
    QStringList operands;
    LinkChoice links;
    QString trace_path;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool save = false;
    bool dry_run = false;
    bool no_backup = false;
    bool only_given = false;
    bool no_wait = false;
    QStringList only;
    // logbook: the first day or time shown, CSV output.
    QString since;
    bool csv = false;
    bool help = false;
    bool version = false;
};

struct CliParse {
    bool ok = false;
    QString error;  // one line naming the problem
    CliOptions options;
};

// `arguments` without the program name.
CliParse parse_cli(const QStringList& arguments);

// An output FILE that names standard output rather than a file: "-", or one of the system's
// names for it (efis-cli's descriptor 1 carries the protocol log, not its results).
bool names_standard_output(const QString& path);

// The verb as typed: "settings import".
QString verb_name(Verb verb);

// The help of one verb, or of the program for Verb::None.
QString cli_help(Verb verb);
