#include "cli/cli_options.h"

#include <algorithm>
#include <vector>

#include "comms/can_interfaces.h"
#include "settings/setting_names.h"

namespace {

// Options that belong to some verbs only.
enum VerbOption : unsigned {
    kSave = 1u << 0,
    kDryRun = 1u << 1,
    kOnly = 1u << 2,
    kNoBackup = 1u << 3,
    kNoWait = 1u << 4,
    kLogbook = 1u << 5,
};

// What a verb's operands are, for completion.
enum class Operands { None, File, Assignments };

struct VerbDef {
    Verb verb;
    const char* words;  // as typed
    int min_operands;
    int max_operands;  // -1: any number
    Operands operands;
    unsigned options;
    const char* help;
};

const VerbDef kVerbs[] = {
    {Verb::Info, "info", 0, 0, Operands::None, 0,
     "Shows which links the unit answered on, its serial number, firmware version and\n"
     "generation; with no unit, what was tried on each link and why it failed.\n"},
    {Verb::SettingsList, "settings list", 0, 0, Operands::None, 0,
     "Lists every setting with the values it takes. Needs no unit.\n"},
    {Verb::SettingsShow, "settings show", 0, 0, Operands::None, 0,
     "Reads the unit's settings and shows each one with its name, value and raw word(s),\n"
     "and whether the record's CRC checks.\n"},
    {Verb::SettingsSet, "settings set", 1, -1, Operands::Assignments, kSave,
     "Sends the values named, and nothing else. VALUE is written as 'settings show' shows\n"
     "it (160, 12.5, \"Knots, Feet, Fahrenheit, InHg\", #87ceeb, Track Up, ...) or as the\n"
     "raw word 0x....; every value is checked before anything is sent. Names and words\n"
     "are matched without regard to case; 'efis-cli settings list' shows them all.\n"},
    {Verb::SettingsExport, "settings export", 1, 1, Operands::File, 0,
     "Writes the unit's settings, and its calibration for the record, to a settings file.\n"
     "FILE - writes it to standard output (and the result line to standard error).\n"},
    {Verb::SettingsImport, "settings import", 1, 1, Operands::File, kSave | kDryRun | kOnly,
     "Compares a settings file with the unit, prints the differences and sends the\n"
     "differing values; FILE - reads it from standard input. A file from another unit\n"
     "leaves the aircraft's identity (registration, ICAO address and type, emitter\n"
     "category) as the unit holds it, unless --only names them.\n"},
    {Verb::CalibrationExport, "calibration export", 1, 1, Operands::File, 0,
     "Reads the unit's sensor calibration and writes it to FILE (- for standard output).\n"
     "Calibration is never written to a unit.\n"},
    {Verb::Firmware, "firmware", 1, 1, Operands::File, kNoBackup,
     "Uploads a firmware image into the flash bank the unit names. The unit's settings are\n"
     "backed up first; when the backup cannot be written (or not every value can be read),\n"
     "nothing is sent and the exit status is 4. Ctrl-C stops between packets.\n"},
    {Verb::Airports, "airports", 1, 1, Operands::File, 0,
     "Uploads an airport database. Ctrl-C stops between packets.\n"},
    {Verb::Reboot, "reboot", 0, 0, Operands::None, kNoWait,
     "Restarts the unit into its boot loader. Values sent but not saved are lost. Waits up\n"
     "to 30 s for the unit to come back and shows the firmware it now runs.\n"},
    {Verb::List, "list", 0, 0, Operands::None, 0,
     "Lists every unit found on the links tried: link, device (hidraw path or CAN\n"
     "interface), serial number, firmware and generation, and the units that did not\n"
     "answer. With several units connected, every other verb needs --serial.\n"},
    {Verb::Logbook, "logbook", 0, 0, Operands::None, kLogbook,
     "Shows the logbook of a unit: every change made to it with this tool (settings sent\n"
     "and saved, imports, uploads, restarts), oldest first. No unit needs to be connected.\n"
     "With one unit's logbook on disk it is shown; otherwise --serial names the unit.\n"},
};

// Where the words an option's value may take come from, for completion.
enum class Values { None, Links, CanInterfaces, Files, SettingNames };

struct OptionDef {
    const char* name;   // the long name, without the dashes
    char short_name;    // 0: none
    const char* value;  // the value's name in help, null for a flag
    unsigned verbs;     // the verbs' option bit; 0 for a global option
    Values values;
    const char* help;  // may run over lines indented to the help column
};

const OptionDef kOptions[] = {
    {"link", 0, "auto|usb|can", 0, Values::Links,
     "links to try (default auto: USB HID, then CAN FD)"},
    {"can-interface", 0, "NAME", 0, Values::CanInterfaces,
     "CAN interface (default: the one the window uses,\n"
     "else can0)"},
    {"serial", 0, "0xNNNNNNNN", 0, Values::None,
     "the unit to use, by serial number (needed when\n"
     "several units are connected; 'efis-cli list' shows them)"},
    {"trace", 0, "FILE", 0, Values::Files,
     "write every frame sent and received to FILE, in the\n"
     "candump -L log format (the USB link is named usbhid)"},
    {"json", 0, nullptr, 0, Values::None,
     "one JSON object per line on standard output (begin,\n"
     "progress, result); the result line on every exit"},
    {"quiet", 'q', nullptr, 0, Values::None,
     "no progress, warnings or unit line; errors and the\n"
     "verb's results only"},
    {"verbose", 'v', nullptr, 0, Values::None, "print the protocol log on standard error"},
    {"help", 'h', nullptr, 0, Values::None,
     "this help; 'efis-cli VERB --help' or 'efis-cli help VERB'\n"
     "for one verb"},
    {"version", 'V', nullptr, 0, Values::None, "the version"},
    {"save", 0, nullptr, kSave, Values::None,
     "commit the settings to the unit's memory afterwards;\n"
     "without it the unit forgets the values when it restarts"},
    {"dry-run", 0, nullptr, kDryRun, Values::None, "print the comparison only; nothing is sent"},
    {"only", 0, "NAME,...", kOnly, Values::SettingNames,
     "take only these settings (comma-separated names)"},
    {"no-backup", 0, nullptr, kNoBackup, Values::None,
     "upload without backing up the settings first"},
    {"no-wait", 0, nullptr, kNoWait, Values::None, "end once the restart command is sent"},
    {"since", 0, "DATE", kLogbook, Values::None,
     "only entries from DATE (2026-05-01, or a UTC time\n"
     "2026-05-01T14:00)"},
    {"csv", 0, nullptr, kLogbook, Values::None, "the entries as CSV on standard output"},
};

constexpr int kHelpColumn = 25;

const char kHelpWord[] = "help";
const char kCompleteWord[] = "__complete";

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  done\n"
    "  1  the unit refused or the exchange failed\n"
    "  2  usage error, or several units connected and none named (nothing was sent)\n"
    "  3  no unit answered, or none with the serial number named\n"
    "  4  a file was refused (unreadable, invalid or too large) or could not be written,\n"
    "     standard output included\n"
    "  5  cancelled (Ctrl-C or SIGTERM); the link was left idle\n";

const VerbDef* find_verb(Verb verb) {
    for (const VerbDef& def : kVerbs) {
        if (def.verb == verb) {
            return &def;
        }
    }
    return nullptr;
}

const OptionDef* find_option(const QString& name) {
    for (const OptionDef& o : kOptions) {
        if (name == QLatin1String(o.name)) {
            return &o;
        }
    }
    return nullptr;
}

const OptionDef* find_short(QChar c) {
    for (const OptionDef& o : kOptions) {
        if (o.short_name != 0 && c == QLatin1Char(o.short_name)) {
            return &o;
        }
    }
    return nullptr;
}

// "settings import FILE [--save] [--dry-run] [--only NAME,...]": the words, the operands and
// the verb's own options.
QString synopsis(const VerbDef& def) {
    QString text = QLatin1String(def.words);
    if (def.operands == Operands::File) {
        text += QStringLiteral(" FILE");
    } else if (def.operands == Operands::Assignments) {
        text += QStringLiteral(" NAME=VALUE...");
    }
    for (const OptionDef& o : kOptions) {
        if ((o.verbs & def.options) != 0) {
            text += o.value != nullptr ? QStringLiteral(" [--%1 %2]")
                                             .arg(QLatin1String(o.name), QLatin1String(o.value))
                                       : QStringLiteral(" [--%1]").arg(QLatin1String(o.name));
        }
    }
    return text;
}

QStringList verb_words(const VerbDef& def) {
    return QString::fromLatin1(def.words).split(QLatin1Char(' '));
}

// The first words of the verbs, each once, in table order, and "help".
QStringList first_words() {
    QStringList words;
    for (const VerbDef& v : kVerbs) {
        const QString first = verb_words(v).first();
        if (!words.contains(first)) {
            words << first;
        }
    }
    return words << QLatin1String(kHelpWord);
}

// The subcommands of a family ("show", "set", ... of "settings"); empty for a one-word verb.
QStringList subcommands(const QString& family) {
    QStringList subs;
    for (const VerbDef& v : kVerbs) {
        const QStringList words = verb_words(v);
        if (words.size() == 2 && words.first() == family) {
            subs << words[1];
        }
    }
    return subs;
}

// The verb that `words` begin with, and how many of them name it; null when none does.
const VerbDef* match_verb(const QStringList& words, int* taken) {
    *taken = 0;
    for (const VerbDef& v : kVerbs) {
        const QStringList vw = verb_words(v);
        bool match = words.size() >= vw.size();
        for (int i = 0; match && i < vw.size(); ++i) {
            match = words[i].compare(vw[i], Qt::CaseInsensitive) == 0;
        }
        if (match) {
            *taken = vw.size();
            return &v;
        }
    }
    return nullptr;
}

// "--link", ...: the global options and those of the verbs given.
QStringList long_names(unsigned verb_options) {
    QStringList names;
    for (const OptionDef& o : kOptions) {
        if (o.verbs == 0 || (o.verbs & verb_options) != 0) {
            names << QStringLiteral("--") + QLatin1String(o.name);
        }
    }
    return names;
}

QString option_lines(unsigned verbs_mask, bool globals) {
    QString text;
    for (const OptionDef& o : kOptions) {
        if (globals ? o.verbs != 0 : (o.verbs & verbs_mask) == 0) {
            continue;
        }
        QString head = o.short_name != 0 ? QStringLiteral("  -%1, --%2")
                                               .arg(QLatin1Char(o.short_name))
                                               .arg(QLatin1String(o.name))
                                         : QStringLiteral("  --%1").arg(QLatin1String(o.name));
        if (o.value != nullptr) {
            head += QLatin1Char(' ') + QLatin1String(o.value);
        }
        const QStringList help = QString::fromLatin1(o.help).split(QLatin1Char('\n'));
        text += head.size() < kHelpColumn - 1
                    ? head.leftJustified(kHelpColumn) + help.first() + QLatin1Char('\n')
                    : head + QLatin1Char('\n') + QString(kHelpColumn, QLatin1Char(' ')) +
                          help.first() + QLatin1Char('\n');
        for (int i = 1; i < help.size(); ++i) {
            text += QString(kHelpColumn, QLatin1Char(' ')) + help[i] + QLatin1Char('\n');
        }
    }
    return text;
}

CliParse fail(const QString& error, bool json) {
    CliParse parse;
    parse.error = error;
    parse.options.json = json;
    return parse;
}

// Damerau-Levenshtein distance (adjacent transpositions count one), without regard to case.
int edit_distance(const QString& a_text, const QString& b_text) {
    const QString a = a_text.toLower();
    const QString b = b_text.toLower();
    const int n = a.size();
    const int m = b.size();
    std::vector<std::vector<int>> d(static_cast<size_t>(n + 1),
                                    std::vector<int>(static_cast<size_t>(m + 1), 0));
    for (int i = 0; i <= n; ++i) {
        d[static_cast<size_t>(i)][0] = i;
    }
    for (int j = 0; j <= m; ++j) {
        d[0][static_cast<size_t>(j)] = j;
    }
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= m; ++j) {
            const auto ui = static_cast<size_t>(i);
            const auto uj = static_cast<size_t>(j);
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            int best = std::min({d[ui - 1][uj] + 1, d[ui][uj - 1] + 1, d[ui - 1][uj - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                best = std::min(best, d[ui - 2][uj - 2] + 1);
            }
            d[ui][uj] = best;
        }
    }
    return d[static_cast<size_t>(n)][static_cast<size_t>(m)];
}

}  // namespace

QString nearest_word(const QString& typed, const QStringList& candidates) {
    // A few slips for a long word, one for a short one; a word typed in part is taken when
    // only one candidate begins with it.
    const int allowed = typed.size() <= 4 ? 1 : typed.size() <= 8 ? 2 : 3;
    QString best;
    int best_distance = allowed + 1;
    QStringList beginning;
    for (const QString& c : candidates) {
        const int distance = edit_distance(typed, c);
        if (distance < best_distance) {
            best = c;
            best_distance = distance;
        }
        if (typed.size() >= 3 && c.startsWith(typed, Qt::CaseInsensitive)) {
            beginning << c;
        }
    }
    if (best.isEmpty() && beginning.size() == 1) {
        best = beginning.first();
    }
    return best;
}

QString did_you_mean(const QString& typed, const QStringList& candidates) {
    const QString nearest = nearest_word(typed, candidates);
    return nearest.isEmpty() ? QString() : QStringLiteral("; did you mean '%1'?").arg(nearest);
}

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

QString cli_help(Verb verb, const QString& family) {
    const VerbDef* def = find_verb(verb);
    const QString globals = QStringLiteral("Options:\n") + option_lines(0, true);
    if (def != nullptr) {
        const QString own = option_lines(def->options, false);
        return QStringLiteral("Usage: efis-cli [OPTIONS] %1\n\n%2%3\n%4\n%5")
            .arg(synopsis(*def), QLatin1String(def->help),
                 own.isEmpty() ? QString() : QStringLiteral("\n") + own, globals,
                 QLatin1String(kExitStatuses));
    }
    QString verbs;
    for (const VerbDef& v : kVerbs) {
        if (family.isEmpty() || verb_words(v).first() == family) {
            verbs += QStringLiteral("  efis-cli %1\n").arg(synopsis(v));
        }
    }
    if (!family.isEmpty()) {
        return QStringLiteral(
                   "Usage: efis-cli [OPTIONS] %1 SUBCOMMAND [ARGUMENTS]\n\n"
                   "Subcommands:\n%2\n'efis-cli %1 SUBCOMMAND --help' explains one.\n")
            .arg(family, verbs);
    }
    verbs += QStringLiteral("  efis-cli help [VERB [SUBCOMMAND]]\n");
    return QStringLiteral(
               "Usage: efis-cli [OPTIONS] VERB [ARGUMENTS]\n"
               "Configures and maintains an EFIS display unit over USB HID or CAN FD.\n\n"
               "Verbs:\n%1\n%2\n%3")
        .arg(verbs, globals, QLatin1String(kExitStatuses));
}

namespace {

// The verb (and its operands) named by the positional words, or the problem with them.
CliParse parse_verb(const QStringList& words, CliParse parse) {
    CliOptions& o = parse.options;
    const bool help_word = !words.isEmpty() && words.first() == QLatin1String(kHelpWord);
    const QStringList named = help_word ? words.mid(1) : QStringList(words);
    if (help_word) {
        o.help = true;
    }
    if (named.isEmpty()) {
        if (o.help || o.version) {
            parse.ok = true;
            return parse;
        }
        return fail(QStringLiteral("no verb given"), o.json);
    }
    int taken = 0;
    const VerbDef* def = match_verb(named, &taken);
    if (def == nullptr) {
        const QString first = named.first();
        QString family;
        for (const QString& w : first_words()) {
            if (first.compare(w, Qt::CaseInsensitive) == 0) {
                family = w;
            }
        }
        const QStringList subs = subcommands(family);
        if (!family.isEmpty() && !subs.isEmpty()) {
            if (named.size() == 1 && o.help) {
                o.help_family = family;
                parse.ok = true;
                return parse;
            }
            return fail(named.size() == 1
                            ? QStringLiteral("'%1' needs a subcommand (%2)")
                                  .arg(family, subs.join(QStringLiteral(", ")))
                            : QStringLiteral("unknown subcommand '%1 %2'%3")
                                  .arg(family, named[1], did_you_mean(named[1], subs)),
                        o.json);
        }
        QStringList verbs = first_words();
        verbs.removeAll(QLatin1String(kHelpWord));
        return fail(QStringLiteral("unknown verb '%1'%2").arg(first, did_you_mean(first, verbs)),
                    o.json);
    }
    o.verb = def->verb;
    const QStringList operands = named.mid(taken);
    if (o.help || o.version) {
        parse.ok = help_word ? operands.isEmpty() : true;
        if (!parse.ok) {
            parse.error = QStringLiteral("'help %1' takes nothing more").arg(def->words);
        }
        return parse;
    }
    if (operands.size() < def->min_operands ||
        (def->max_operands >= 0 && operands.size() > def->max_operands)) {
        const QString need =
            def->max_operands == 0
                ? QStringLiteral("takes no arguments")
                : QStringLiteral("needs %1")
                      .arg(def->max_operands == 1 ? QStringLiteral("one FILE")
                                                  : QStringLiteral("at least one NAME=VALUE"));
        return fail(QStringLiteral("'%1' %2").arg(QLatin1String(def->words), need), o.json);
    }
    o.operands = operands;
    parse.ok = true;
    return parse;
}

struct Given {
    const OptionDef* option;
    QString value;
};

}  // namespace

CliParse parse_cli(const QStringList& arguments) {
    // --json asks for a result line even when the rest of the line is refused.
    bool json = false;
    for (const QString& arg : arguments) {
        if (arg == QLatin1String("--")) {
            break;
        }
        json = json || arg == QLatin1String("--json");
    }
    if (!arguments.isEmpty() && arguments.first() == QLatin1String(kCompleteWord)) {
        CliParse parse;
        parse.ok = true;
        parse.options.complete = true;
        parse.options.operands = arguments.mid(1);
        return parse;
    }

    std::vector<Given> given;
    QStringList words;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--")) {
            words += arguments.mid(i + 1);
            break;
        }
        if (arg.startsWith(QLatin1String("--"))) {
            const int eq = arg.indexOf(QLatin1Char('='));
            const QString name = arg.mid(2, eq < 0 ? -1 : eq - 2);
            const OptionDef* option = find_option(name);
            if (option == nullptr) {
                return fail(
                    QStringLiteral("unknown option '--%1'%2")
                        .arg(name, did_you_mean(QStringLiteral("--") + name, long_names(~0u))),
                    json);
            }
            if (option->value == nullptr && eq >= 0) {
                return fail(QStringLiteral("--%1 takes no value").arg(name), json);
            }
            QString value;
            if (option->value != nullptr) {
                if (eq >= 0) {
                    value = arg.mid(eq + 1);
                } else if (i + 1 < arguments.size()) {
                    value = arguments[++i];
                } else {
                    return fail(QStringLiteral("--%1 needs a value").arg(name), json);
                }
            }
            given.push_back({option, value});
            continue;
        }
        if (arg.size() > 1 && arg.startsWith(QLatin1Char('-'))) {
            // Short options may be combined (-qv); a long name after one dash is refused
            // rather than read as a string of short ones.
            if (find_option(arg.mid(1)) != nullptr) {
                return fail(QStringLiteral("unknown option '%1'; did you mean '-%1'?").arg(arg),
                            json);
            }
            for (int c = 1; c < arg.size(); ++c) {
                const OptionDef* option = find_short(arg[c]);
                if (option == nullptr || option->value != nullptr) {
                    return fail(
                        QStringLiteral("unknown option '-%1'%2")
                            .arg(arg[c],
                                 arg.size() > 2 ? QStringLiteral(" in '%1'").arg(arg) : QString()),
                        json);
                }
                given.push_back({option, QString()});
            }
            continue;
        }
        words << arg;
    }

    CliParse parse;
    CliOptions& o = parse.options;
    o.json = json;
    auto isSet = [&given](const char* name) {
        return std::any_of(given.begin(), given.end(),
                           [name](const Given& g) { return qstrcmp(g.option->name, name) == 0; });
    };
    auto values = [&given](const char* name) {
        QStringList found;
        for (const Given& g : given) {
            if (qstrcmp(g.option->name, name) == 0) {
                found << g.value;
            }
        }
        return found;
    };
    o.help = isSet("help");
    o.version = isSet("version");
    o.quiet = isSet("quiet");
    o.verbose = isSet("verbose");
    o.save = isSet("save");
    o.dry_run = isSet("dry-run");
    o.no_backup = isSet("no-backup");
    o.no_wait = isSet("no-wait");
    o.csv = isSet("csv");
    if (isSet("since")) {
        o.since = values("since").last();
    }

    parse = parse_verb(words, parse);
    if (!parse.ok || o.help || o.version) {
        return parse;
    }
    parse.ok = false;
    const VerbDef* def = find_verb(o.verb);

    for (const Given& g : given) {
        if (g.option->verbs != 0 && (def->options & g.option->verbs) == 0) {
            return fail(QStringLiteral("--%1 is not an option of '%2'")
                            .arg(QLatin1String(g.option->name), QLatin1String(def->words)),
                        json);
        }
    }
    if (o.quiet && o.verbose) {
        return fail(QStringLiteral("--quiet and --verbose cannot go together"), json);
    }
    if (o.save && o.dry_run) {
        return fail(QStringLiteral("--dry-run sends nothing, so --save cannot go with it"), json);
    }
    if (o.csv && o.json) {
        return fail(QStringLiteral("--csv and --json cannot go together"), json);
    }
    if (isSet("only")) {
        o.only_given = true;
        for (const QString& name : values("only")) {
            // A blank between two commas names nothing, like an empty part.
            for (const QString& part : name.split(QLatin1Char(','))) {
                if (!part.trimmed().isEmpty()) {
                    o.only << part.trimmed();
                }
            }
        }
        if (o.only.isEmpty()) {
            return fail(QStringLiteral("--only needs at least one setting name"), json);
        }
    }

    if (isSet("link")) {
        const QString value = values("link").last();
        if (value.compare(QLatin1String("usb"), Qt::CaseInsensitive) == 0) {
            o.links.can = false;
        } else if (value.compare(QLatin1String("can"), Qt::CaseInsensitive) == 0) {
            o.links.usb = false;
        } else if (value.compare(QLatin1String("auto"), Qt::CaseInsensitive) != 0) {
            return fail(QStringLiteral("--link must be auto, usb or can, not '%1'").arg(value),
                        json);
        }
    }
    if (isSet("can-interface")) {
        const QString name = values("can-interface").last();
        // The kernel's interface names are at most 15 bytes.
        if (name.isEmpty() || name.toLocal8Bit().size() > 15 || name.contains(QLatin1Char('/'))) {
            return fail(QStringLiteral("'%1' is not a network interface name").arg(name), json);
        }
        o.links.can_interface = name.toStdString();
        o.can_interface_given = true;
    }
    if (isSet("serial")) {
        const QString text = values("serial").last();
        bool ok = false;
        const qulonglong value = text.toULongLong(&ok, 0);
        if (!ok || value > 0xFFFFFFFEull) {
            return fail(
                QStringLiteral("--serial needs a serial number such as 0x00C0FFEE, not '%1'")
                    .arg(text),
                json);
        }
        if (o.verb == Verb::List) {
            return fail(QStringLiteral("'list' shows every unit; --serial is not an option of it"),
                        json);
        }
        o.links.serial = static_cast<uint32_t>(value);
    }
    if (isSet("trace")) {
        o.trace_path = values("trace").last();
    }
    parse.ok = true;
    return parse;
}

namespace {

// The candidates that begin with `typed`, without regard to case, each with `prefix` before it.
QStringList starting(const QStringList& candidates, const QString& typed,
                     const QString& prefix = QString()) {
    QStringList found;
    for (const QString& c : candidates) {
        if (c.startsWith(typed, Qt::CaseInsensitive)) {
            found << prefix + c;
        }
    }
    return found;
}

QStringList setting_names() {
    QStringList names;
    for (const SettingDef& def : settings_table()) {
        names << QLatin1String(def.name);
    }
    return names;
}

// The words a setting's value may be, for those with a list of them.
QStringList setting_value_words(size_t setting) {
    const SettingDef& def = settings_table()[setting];
    QStringList words;
    if (def.kind == SettingKind::Units) {
        words << QString();
        for (const UnitGroup& group : unit_groups()) {
            QStringList longer;
            for (const QString& w : words) {
                for (const SettingChoice& c : group.items) {
                    longer << (w.isEmpty() ? QString() : w + QStringLiteral(", ")) +
                                  QString::fromUtf8(c.text);
                }
            }
            words = longer;
        }
    } else if (def.kind == SettingKind::Choice) {
        for (const SettingChoice& c : def.choices) {
            words << QString::fromUtf8(c.text).trimmed();
        }
    }
    return words;
}

QStringList option_values(const OptionDef& option, const QString& typed) {
    switch (option.values) {
    case Values::Links:
        return starting({QStringLiteral("auto"), QStringLiteral("usb"), QStringLiteral("can")},
                        typed);
    case Values::CanInterfaces: {
        QStringList names;
        for (const CanInterface& iface : list_can_interfaces()) {
            names << QString::fromStdString(iface.name);
        }
        return starting(names, typed);
    }
    case Values::Files:
        return {QStringLiteral("@files")};
    case Values::SettingNames: {
        const int comma = typed.lastIndexOf(QLatin1Char(','));
        return starting(setting_names(), typed.mid(comma + 1), typed.left(comma + 1));
    }
    case Values::None:
        break;
    }
    return {};
}

}  // namespace

QStringList cli_completions(const QStringList& words) {
    const QString typed = words.isEmpty() ? QString() : words.last();
    const QStringList before = words.mid(0, words.size() - 1);
    // The positional words before the one typed, and an option awaiting its value.
    QStringList positional;
    const OptionDef* awaiting = nullptr;
    bool options_end = false;
    for (const QString& w : before) {
        if (awaiting != nullptr) {
            awaiting = nullptr;
        } else if (!options_end && w == QLatin1String("--")) {
            options_end = true;
        } else if (!options_end && w.startsWith(QLatin1String("--"))) {
            const OptionDef* o = find_option(w.mid(2));
            awaiting = o != nullptr && o->value != nullptr ? o : nullptr;
        } else if (options_end || !w.startsWith(QLatin1Char('-')) || w == QLatin1String("-")) {
            positional << w;
        }
    }
    if (awaiting != nullptr) {
        return option_values(*awaiting, typed);
    }
    const bool help_word = !positional.isEmpty() && positional.first() == QLatin1String(kHelpWord);
    const QStringList named = help_word ? positional.mid(1) : QStringList(positional);
    int taken = 0;
    const VerbDef* def = match_verb(named, &taken);
    if (!options_end && typed.startsWith(QLatin1String("--")) && typed.contains(QLatin1Char('='))) {
        const int eq = typed.indexOf(QLatin1Char('='));
        const OptionDef* o = find_option(typed.mid(2, eq - 2));
        if (o == nullptr || o->value == nullptr) {
            return {};
        }
        QStringList values = option_values(*o, typed.mid(eq + 1));
        if (o->values != Values::Files) {
            for (QString& v : values) {
                v.prepend(typed.left(eq + 1));
            }
        }
        return values;
    }
    if (!options_end && typed.startsWith(QLatin1Char('-'))) {
        return starting(long_names(def != nullptr ? def->options : 0u), typed);
    }
    if (def == nullptr) {
        if (named.isEmpty()) {
            QStringList verbs = first_words();
            if (help_word) {
                verbs.removeAll(QLatin1String(kHelpWord));
            }
            return starting(verbs, typed);
        }
        return named.size() == 1 ? starting(subcommands(named.first()), typed) : QStringList();
    }
    if (help_word) {
        return {};
    }
    const int operands = named.size() - taken;
    if (def->max_operands >= 0 && operands >= def->max_operands) {
        return {};
    }
    if (def->operands == Operands::File) {
        return {QStringLiteral("@files")};
    }
    if (def->operands != Operands::Assignments) {
        return {};
    }
    const int eq = typed.indexOf(QLatin1Char('='));
    if (eq < 0) {
        QStringList names = starting(setting_names(), typed);
        for (QString& n : names) {
            n += QLatin1Char('=');
        }
        return names;
    }
    const int setting = setting_by_name(typed.left(eq), Qt::CaseInsensitive);
    return setting < 0 ? QStringList()
                       : starting(setting_value_words(static_cast<size_t>(setting)),
                                  typed.mid(eq + 1), typed.left(eq + 1));
}
