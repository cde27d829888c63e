// The command line of efis-cli: global options, a verb and its operands.
#pragma once

#include <QString>
#include <QStringList>

#include "comms/comms.h"

enum class Verb {
    None,
    Info,
    SettingsList,
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
    // --can-interface was given; otherwise the one the window remembers is taken.
    bool can_interface_given = false;
    QString trace_path;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool save = false;
    bool dry_run = false;
    bool no_backup = false;
    bool only_given = false;
    QStringList only;
    bool no_wait = false;
    // logbook: the first day or time shown, CSV output.
    QString since;
    bool csv = false;
    bool help = false;
    // With help: the family ("settings", "calibration") whose subcommands are asked for.
    QString help_family;
    bool version = false;
    // The shell's completion asks for the words that may follow `operands`, whose last is the
    // word being typed.
    bool complete = false;
};

struct CliParse {
    bool ok = false;
    QString error;  // one line naming the problem
    CliOptions options;
};

// `arguments` without the program name. A refusal still tells whether --json was given, so
// that its result line is printed.
CliParse parse_cli(const QStringList& arguments);

// An output FILE that names standard output rather than a file: "-", or one of the system's
// names for it (efis-cli's descriptor 1 carries the protocol log, not its results).
bool names_standard_output(const QString& path);

// The verb as typed: "settings import".
QString verb_name(Verb verb);

// The help of one verb, of a family's subcommands (`family` set, Verb::None), or of the
// program.
QString cli_help(Verb verb, const QString& family = QString());

// The candidate nearest `typed` (without regard to case) when it is near enough to be what
// was meant, else "".
QString nearest_word(const QString& typed, const QStringList& candidates);
// "; did you mean 'x'?" for the nearest candidate, or "".
QString did_you_mean(const QString& typed, const QStringList& candidates);

// What may complete the last of `words` (the words after the program name, the last being
// typed, "" when a new word is begun): verbs, subcommands, options and their values, setting
// names and values. A lone "@files" asks the shell for file names.
QStringList cli_completions(const QStringList& words);
