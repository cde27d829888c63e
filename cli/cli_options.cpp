#include "cli/cli_options.h"

#include <QCommandLineParser>

namespace {

// Options that belong to some verbs only.
enum VerbOption : unsigned {
    kSave = 1u << 0,
    kDryRun = 1u << 1,
    kOnly = 1u << 2,
    kNoBackup = 1u << 3,
    kNoWait = 1u << 4,
    kLogbook = 1u << 5,  // --since, --csv
};

struct VerbDef {
    Verb verb;
    const char* words;  // as typed
    int min_operands;
    int max_operands;  // -1: any number
    unsigned options;
    const char* synopsis;
    const char* help;
};

const VerbDef kVerbs[] = {
    {Verb::Info, "info", 0, 0, 0, "info",
     "Shows which links the unit answered on, its serial number, firmware version and\n"
     "generation.\n"},
    {Verb::SettingsShow, "settings show", 0, 0, 0, "settings show [--json]",
     "Reads the unit's settings and shows each one with its name, value and raw word(s),\n"
     "and whether the record's CRC checks.\n"},
    {Verb::SettingsSet, "settings set", 1, -1, kSave, "settings set NAME=VALUE... [--save]",
     "Sends the values named, and nothing else. VALUE is written as 'settings show' shows\n"
     "it (160, 12.5, \"Knots, Feet, Fahrenheit, InHg\", #87ceeb, Track Up, ...) or as the\n"
     "raw word 0x....; every value is checked before anything is sent.\n"
     "  --save          commit the settings to the unit's memory afterwards; without it\n"
     "                  the unit forgets the values when it restarts\n"},
    {Verb::SettingsExport, "settings export", 1, 1, 0, "settings export FILE",
     "Writes the unit's settings, and its calibration for the record, to a settings file.\n"
     "FILE - writes it to standard output (and the result line to standard error).\n"},
    {Verb::SettingsImport, "settings import", 1, 1, kSave | kDryRun | kOnly,
     "settings import FILE [--dry-run] [--save] [--only NAME,...]",
     "Compares a settings file with the unit, prints the differences and sends the\n"
     "differing values; FILE - reads it from standard input. A file from another unit\n"
     "leaves the aircraft's identity (registration, ICAO address and type, emitter\n"
     "category) as the unit holds it, unless --only names them.\n"
     "  --dry-run       print the comparison only; nothing is sent\n"
     "  --save          commit the settings to the unit's memory afterwards\n"
     "  --only NAMES    take only these settings (comma-separated names)\n"},
    {Verb::CalibrationExport, "calibration export", 1, 1, 0, "calibration export FILE",
     "Reads the unit's sensor calibration and writes it to FILE (- for standard output).\n"
     "Calibration is never written to a unit.\n"},
    {Verb::Firmware, "firmware", 1, 1, kNoBackup, "firmware FILE [--no-backup]",
     "Uploads a firmware image into the flash bank the unit names. The unit's settings are\n"
     "backed up first; when the backup cannot be written (or not every value can be read),\n"
     "nothing is sent and the exit status is 4. Ctrl-C stops between packets.\n"
     "  --no-backup     upload without backing up the settings first\n"},
    {Verb::Airports, "airports", 1, 1, 0, "airports FILE",
     "Uploads an airport database. Ctrl-C stops between packets.\n"},
    {Verb::Reboot, "reboot", 0, 0, kNoWait, "reboot [--no-wait]",
     "Restarts the unit into its boot loader. Values sent but not saved are lost. Waits up\n"
     "to 30 s for the unit to come back and shows the firmware it now runs.\n"
     "  --no-wait       end once the command is sent\n"},
    {Verb::List, "list", 0, 0, 0, "list [--json]",
     "Lists every unit found on the links tried: link, device (hidraw path or CAN\n"
     "interface), serial number, firmware and generation, and the units that did not\n"
     "answer. With several units connected, every other verb needs --serial.\n"},
    {Verb::Logbook, "logbook", 0, 0, kLogbook,
     "logbook [--serial 0x...] [--since DATE] [--json|--csv]",
     "Shows the logbook of a unit: every change made to it with this tool (settings sent\n"
     "and saved, imports, uploads, restarts), oldest first. No unit needs to be connected.\n"
     "  --serial 0x...  the unit whose logbook is shown; needed when several units have one\n"
     "  --since DATE    only entries from DATE (2026-05-01, or a UTC time 2026-05-01T14:00)\n"
     "  --csv           the entries as CSV on standard output\n"},
};

const VerbDef* find_verb(Verb verb) {
    for (const VerbDef& def : kVerbs) {
        if (def.verb == verb) {
            return &def;
        }
    }
    return nullptr;
}

const char kGlobalOptions[] =
    "Options:\n"
    "  --link auto|usb|can    links to try (default auto: USB HID, then CAN FD)\n"
    "  --can-interface NAME   CAN interface (default can0)\n"
    "  --serial 0xNNNNNNNN    the unit to use, by serial number (needed when several\n"
    "                         units are connected; 'efis-cli list' shows them)\n"
    "  --trace FILE           write every frame sent and received to FILE, in the\n"
    "                         candump -L log format (the USB link is named usbhid)\n"
    "  --json                 one JSON object per line on standard output (begin,\n"
    "                         progress, result)\n"
    "  -q, --quiet            print errors only\n"
    "  -v, --verbose          print the protocol log on standard error\n"
    "  -h, --help             this help; 'efis-cli VERB --help' for one verb\n"
    "  -V, --version          the version\n";

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  done\n"
    "  1  the unit refused or the exchange failed\n"
    "  2  usage error, or several units connected and none named (nothing was sent)\n"
    "  3  no unit answered, or none with the serial number named\n"
    "  4  a file was refused (unreadable, invalid or too large) or could not be written\n"
    "  5  cancelled (Ctrl-C); the link was left idle\n";

CliParse fail(const QString& error) {
    CliParse parse;
    parse.error = error;
    return parse;
}

}  // namespace

bool names_standard_output(const QString& path) {
    static const char* const names[] = {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"};
    for (const char* name : names) {
        if (path == QLatin1String(name)) {
            return true;
        }
    }
    return false;
}

QString verb_name(Verb verb) {
    const VerbDef* def = find_verb(verb);
    return def != nullptr ? QString::fromLatin1(def->words) : QString();
}

QString cli_help(Verb verb) {
    const VerbDef* def = find_verb(verb);
    if (def != nullptr) {
        return QStringLiteral("Usage: efis-cli [OPTIONS] %1\n\n%2\n%3\n%4")
            .arg(QLatin1String(def->synopsis), QLatin1String(def->help),
                 QLatin1String(kGlobalOptions), QLatin1String(kExitStatuses));
    }
    QString verbs;
    for (const VerbDef& v : kVerbs) {
        verbs += QStringLiteral("  efis-cli %1\n").arg(QLatin1String(v.synopsis));
    }
    return QStringLiteral(
               "Usage: efis-cli [OPTIONS] VERB [ARGUMENTS]\n"
               "Configures and maintains an EFIS display unit over USB HID or CAN FD.\n\n"
               "Verbs:\n%1\n%2\n%3")
        .arg(verbs, QLatin1String(kGlobalOptions), QLatin1String(kExitStatuses));
}

CliParse parse_cli(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption link(QStringLiteral("link"), QString(), QStringLiteral("links"));
    const QCommandLineOption canInterface(QStringLiteral("can-interface"), QString(),
                                          QStringLiteral("name"));
    const QCommandLineOption trace(QStringLiteral("trace"), QString(), QStringLiteral("file"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")});
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("V"), QStringLiteral("version")});
    const QCommandLineOption save(QStringLiteral("save"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption only(QStringLiteral("only"), QString(), QStringLiteral("names"));
    const QCommandLineOption noBackup(QStringLiteral("no-backup"));
    const QCommandLineOption noWait(QStringLiteral("no-wait"));
    const QCommandLineOption serial(QStringLiteral("serial"), QString(), QStringLiteral("serial"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("date"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    parser.addOptions({link, canInterface, serial, trace, json, quiet, verbose, help, version, save,
                       dryRun, only, noBackup, noWait, since, csv});

    if (!parser.parse(QStringList{QStringLiteral("efis-cli")} + arguments)) {
        return fail(parser.errorText());
    }
    CliParse parse;
    CliOptions& o = parse.options;
    o.help = parser.isSet(help);
    o.version = parser.isSet(version);
    o.json = parser.isSet(json);
    o.quiet = parser.isSet(quiet);
    o.verbose = parser.isSet(verbose);
    o.save = parser.isSet(save);
    o.dry_run = parser.isSet(dryRun);
    o.no_backup = parser.isSet(noBackup);
    o.no_wait = parser.isSet(noWait);

    // The verb: one word, or two for the settings and calibration families.
    QStringList words = parser.positionalArguments();
    const VerbDef* def = nullptr;
    if (!words.isEmpty()) {
        for (const VerbDef& v : kVerbs) {
            const QStringList vw = QString::fromLatin1(v.words).split(QLatin1Char(' '));
            if (words.size() >= vw.size() && words.mid(0, vw.size()) == vw) {
                def = &v;
                break;
            }
        }
        if (def == nullptr) {
            const QString first = words.first();
            if (first == QLatin1String("settings") || first == QLatin1String("calibration")) {
                return fail(
                    words.size() == 1
                        ? QStringLiteral("'%1' needs a subcommand (%2)")
                              .arg(first, first == QLatin1String("settings")
                                              ? QStringLiteral("show, set, export, import")
                                              : QStringLiteral("export"))
                        : QStringLiteral("unknown subcommand '%1 %2'").arg(first, words[1]));
            }
            if (first == QLatin1String("help")) {
                o.help = true;
                parse.ok = true;
                return parse;
            }
            return fail(QStringLiteral("unknown verb '%1'").arg(first));
        }
        o.verb = def->verb;
        words = words.mid(QString::fromLatin1(def->words).count(QLatin1Char(' ')) + 1);
    }
    if (o.help || o.version) {
        parse.ok = true;
        return parse;
    }
    if (def == nullptr) {
        return fail(QStringLiteral("no verb given"));
    }

    if (words.size() < def->min_operands ||
        (def->max_operands >= 0 && words.size() > def->max_operands)) {
        const QString need =
            def->max_operands == 0
                ? QStringLiteral("takes no arguments")
                : QStringLiteral("needs %1")
                      .arg(def->max_operands == 1 ? QStringLiteral("one FILE")
                                                  : QStringLiteral("at least one NAME=VALUE"));
        return fail(QStringLiteral("'%1' %2").arg(QLatin1String(def->words), need));
    }
    o.operands = words;

    const std::pair<const QCommandLineOption*, unsigned> verbOptions[] = {
        {&save, kSave},     {&dryRun, kDryRun}, {&only, kOnly},  {&noBackup, kNoBackup},
        {&noWait, kNoWait}, {&since, kLogbook}, {&csv, kLogbook}};
    for (const auto& [option, bit] : verbOptions) {
        if (parser.isSet(*option) && (def->options & bit) == 0) {
            return fail(QStringLiteral("--%1 is not an option of '%2'")
                            .arg(option->names().first(), QLatin1String(def->words)));
        }
    }
    o.since = parser.value(since);
    o.csv = parser.isSet(csv);
    if (o.csv && o.json) {
        return fail(QStringLiteral("--csv and --json cannot go together"));
    }
    if (o.save && o.dry_run) {
        return fail(QStringLiteral("--dry-run sends nothing, so --save cannot go with it"));
    }
    if (parser.isSet(only)) {
        o.only_given = true;
        for (const QString& name : parser.values(only)) {
            // A blank between two commas names nothing, like an empty part.
            for (const QString& part : name.split(QLatin1Char(','))) {
                if (!part.trimmed().isEmpty()) {
                    o.only << part.trimmed();
                }
            }
        }
        if (o.only.isEmpty()) {
            return fail(QStringLiteral("--only needs at least one setting name"));
        }
    }

    if (parser.isSet(link)) {
        const QString value = parser.value(link);
        if (value == QLatin1String("usb")) {
            o.links.can = false;
        } else if (value == QLatin1String("can")) {
            o.links.usb = false;
        } else if (value != QLatin1String("auto")) {
            return fail(QStringLiteral("--link must be auto, usb or can, not '%1'").arg(value));
        }
    }
    if (parser.isSet(canInterface)) {
        const QString name = parser.value(canInterface);
        // The kernel's interface names are at most 15 bytes.
        if (name.isEmpty() || name.toLocal8Bit().size() > 15 || name.contains(QLatin1Char('/'))) {
            return fail(QStringLiteral("'%1' is not a network interface name").arg(name));
        }
        o.links.can_interface = name.toStdString();
    }
    if (parser.isSet(serial)) {
        const QString text = parser.value(serial);
        bool ok = false;
        const qulonglong value = text.toULongLong(&ok, 0);
        if (!ok || value > 0xFFFFFFFEull) {
            return fail(
                QStringLiteral("--serial needs a serial number such as 0x00C0FFEE, not '%1'")
                    .arg(text));
        }
        if (o.verb == Verb::List) {
            return fail(QStringLiteral("'list' shows every unit; --serial is not an option of it"));
        }
        o.links.serial = static_cast<uint32_t>(value);
    }
    o.trace_path = parser.value(trace);
    parse.ok = true;
    return parse;
}
