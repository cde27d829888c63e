// The verbs of efis-cli. Each checks its input before anything is sent (prepare_*) and then
// runs against the connected unit (run_*); both return an exit status.
#pragma once

#include <QJsonObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/cli_run.h"
#include "settings/settings_exchange.h"
#include "settings/settings_file.h"

class CommsManager;

struct CliContext {
    const CliOptions& options;
    const CliEnvironment& env;
    CliOutput& out;
    CommsManager* comms;
    // What the verb found, for the JSON result.
    QJsonObject result;

    bool cancelled() const { return env.cancel->load(); }
};

// One NAME=VALUE of 'settings set', checked.
struct Assignment {
    size_t setting;
    std::vector<uint32_t> words;
};

// What the verbs take from the command line and files before the unit is reached.
struct PreparedInput {
    std::vector<Assignment> assignments;
    SettingsFileRead import;
    std::set<size_t> only;
};

int prepare_settings_set(const CliOptions& options, CliOutput& out, PreparedInput* input);
// FILE "-" is read from `in`.
int prepare_settings_import(const CliOptions& options, FILE* in, CliOutput& out,
                            PreparedInput* input);
// The file an export writes: its directory must exist and be writable (standard output
// needs nothing).
int prepare_output_file(const QString& path, CliOutput& out);
// The file an upload reads: readable, and an image or database that fits its flash area.
int prepare_upload_file(const QString& path, bool firmware, CliOutput& out);

// Needs no unit: every setting with the values it takes; `result` receives them for --json.
void run_settings_list(CliOutput& out, QJsonObject* result);

int run_info(CliContext& ctx);
int run_settings_show(CliContext& ctx);
int run_settings_set(CliContext& ctx, const PreparedInput& input);
int run_settings_export(CliContext& ctx);
int run_settings_import(CliContext& ctx, const PreparedInput& input);
int run_calibration_export(CliContext& ctx);
int run_upload(CliContext& ctx, bool firmware);
// Restarts the unit and, unless --no-wait, waits for it to come back.
int run_reboot(CliContext& ctx);
// Lists the units found; needs no unit chosen.
int run_list(const CliOptions& options, CliOutput& out);
// No unit is reached: the logbooks on disk are read.
int run_logbook(const CliOptions& options, CliOutput& out, FILE* data_out);

// Shared by the verbs: reads the whole settings record, or says why not (the exit status:
// failed, or cancelled by the user). `result` (may be null) receives the load's outcome.
int load_unit_settings(CliContext& ctx, UnitRecord* unit, LoadResult* result = nullptr);
// Commits what the unit holds; the exit status.
int save_unit_settings(CliContext& ctx, UnitRecord* unit);
// Sends the pending elements of `working`; the exit status (1 naming what the unit did not
// take, 5 naming what was and was not sent when the user stopped it). `logged` receives the
// logbook's account of what was sent.
int send_unit_settings(CliContext& ctx, const Settings_t& working, PendingSet* pending,
                       UnitRecord* unit, QJsonObject* logged);
// Adds the action to the connected unit's logbook; a logbook that cannot be written is a
// warning.
void record_in_logbook(CliContext& ctx, const QJsonObject& action);
// Writes an export's text to `path`, or to standard output when it names it; false (with the
// error said) when any of it could not be written.
bool write_export(CliContext& ctx, const QString& path, const QByteArray& text);
