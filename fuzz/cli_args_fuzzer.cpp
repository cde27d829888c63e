// efis-cli's command line of any content, split into arguments at NUL bytes: a parse either
// names its problem on one line or yields a verb (or help or version) with operands and
// options that the verb takes, and links that can be opened.
#include <QString>
#include <QStringList>
#include <cstdint>

#include "cli/cli_options.h"
#include "fuzz_support.h"

namespace {

struct VerbRule {
    Verb verb;
    int min_operands;
    int max_operands;  // -1: any number
    bool save;
    bool dry_run_and_only;
};

// What each verb takes, as its help states it.
constexpr VerbRule kRules[] = {
    {Verb::Info, 0, 0, false, false},         {Verb::SettingsShow, 0, 0, false, false},
    {Verb::SettingsSet, 1, -1, true, false},  {Verb::SettingsExport, 1, 1, false, false},
    {Verb::SettingsImport, 1, 1, true, true}, {Verb::CalibrationExport, 1, 1, false, false},
    {Verb::Firmware, 1, 1, false, false},     {Verb::Airports, 1, 1, false, false},
    {Verb::Reboot, 0, 0, false, false},       {Verb::SettingsList, 0, 0, false, false},
    {Verb::List, 0, 0, false, false},         {Verb::Logbook, 0, 0, false, false},
};

const VerbRule* rule_of(Verb verb) {
    for (const VerbRule& r : kRules) {
        if (r.verb == verb) {
            return &r;
        }
    }
    return nullptr;
}

void check_verb(const CliOptions& o) {
    const VerbRule* rule = rule_of(o.verb);
    fuzz::check(rule != nullptr, "a known verb");
    const int n = o.operands.size();
    fuzz::check(n >= rule->min_operands && (rule->max_operands < 0 || n <= rule->max_operands),
                "as many operands as the verb takes");
    fuzz::check(!o.save || rule->save, "--save only where the verb takes it");
    fuzz::check(!o.dry_run || rule->dry_run_and_only, "--dry-run only where the verb takes it");
    fuzz::check(!o.only_given || rule->dry_run_and_only, "--only only where the verb takes it");
    fuzz::check(!(o.save && o.dry_run), "never --save with --dry-run");
    fuzz::check(!o.no_wait || o.verb == Verb::Reboot, "--no-wait only for reboot");
    fuzz::check((o.since.isEmpty() && !o.csv) || o.verb == Verb::Logbook,
                "--since and --csv only for logbook");
    fuzz::check(!(o.csv && o.json), "never --csv with --json");
    fuzz::check(!o.links.serial || o.verb != Verb::List, "list takes no --serial");
    fuzz::check(o.only_given == !o.only.isEmpty(), "--only names at least one setting");
    for (const QString& name : o.only) {
        fuzz::check(!name.isEmpty() && name == name.trimmed() && !name.contains(QLatin1Char(',')),
                    "--only: trimmed names, one each");
    }
    fuzz::check(o.links.usb || o.links.can, "at least one link to try");
    const std::string& can = o.links.can_interface;
    fuzz::check(!can.empty() && can.size() <= 15 && can.find('/') == std::string::npos &&
                    can.find('\0') == std::string::npos,
                "a CAN interface name the kernel can have");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList arguments;
    const char* text = reinterpret_cast<const char*>(data);
    size_t start = 0;
    for (size_t i = 0; size > 0 && i <= size; ++i) {
        if (i == size || data[i] == 0) {
            arguments << QString::fromLocal8Bit(text + start, static_cast<int>(i - start));
            start = i + 1;
        }
    }
    const CliParse parse = parse_cli(arguments);
    if (!parse.ok) {
        fuzz::check(!parse.error.isEmpty(), "a refusal names its problem");
        bool newline_given = false;
        for (const QString& a : arguments) {
            newline_given = newline_given || a.contains(QLatin1Char('\n'));
        }
        fuzz::check(newline_given || !parse.error.contains(QLatin1Char('\n')),
                    "the problem on one line");
        return 0;
    }
    fuzz::check(parse.error.isEmpty(), "an accepted command line has no error");
    const CliOptions& o = parse.options;
    if (o.help || o.version || o.complete) {
        return 0;
    }
    check_verb(o);
    return 0;
}
