// Where efis-cli's words go: results as text on standard output (or one JSON object per
// line with --json), errors on standard error, progress on standard error (or as JSON).
#pragma once

#include <QJsonObject>
#include <QString>
#include <cstdio>

#include "cli/cli_run.h"

class CliOutput {
public:
    CliOutput(const CliEnvironment& env, bool json, bool quiet);

    bool json() const { return json_; }
    bool quiet() const { return quiet_; }
    // Progress is shown unless --quiet; as JSON events with --json.
    bool showsProgress() const { return !quiet_; }

    // A line of the human-readable result (dropped with --json; kept with --quiet, which
    // hides only what comes on the way to a result). Lines, warnings
    // and errors carry text from the unit and from files: on a terminal their control
    // characters are shown escaped ("\x1B"), so that none of them acts on the terminal.
    void text(const QString& line);
    // A line of standard output on the way to the result (a backup kept first), dropped with
    // --json or --quiet.
    void note(const QString& line);
    // "efis-cli: warning: ..." on standard error unless --quiet; gathered for the result.
    void warning(const QString& line);
    // "efis-cli: ..." on standard error, always; the result's "error".
    void error(const QString& line);
    // A line on standard error that explains the error before it, always.
    void detail(const QString& line);

    // JSON events (with --json only): begin and progress unless --quiet, result always.
    void begin(const QJsonObject& fields);
    void progress(const QJsonObject& fields);
    // Ends the verb: with --json the result object (exit status, error and warnings added).
    void result(int exit_status, const QJsonObject& fields = QJsonObject());

    FILE* errStream() const { return err_; }
    // The error of the first write to standard output that failed, 0 when none did.
    int outError() const { return out_errno_; }

private:
    void flushOut();
    void event(const char* kind, const QJsonObject& fields);

    FILE* out_;
    FILE* err_;
    bool out_terminal_;
    bool err_terminal_;
    bool json_;
    bool quiet_;
    int out_errno_ = 0;
    QString error_;
    QStringList warnings_;
};
