#include "cli/cli_output.h"

#include <QJsonArray>
#include <QJsonDocument>

CliOutput::CliOutput(FILE* out, FILE* err, bool json, bool quiet)
    : out_(out), err_(err), json_(json), quiet_(quiet) {}

void CliOutput::text(const QString& line) {
    if (json_ || quiet_) {
        return;
    }
    std::fprintf(out_, "%s\n", line.toLocal8Bit().constData());
    std::fflush(out_);
}

void CliOutput::warning(const QString& line) {
    warnings_ << line;
    if (!quiet_) {
        std::fprintf(err_, "efis-cli: warning: %s\n", line.toLocal8Bit().constData());
        std::fflush(err_);
    }
}

void CliOutput::error(const QString& line) {
    error_ = line;
    std::fprintf(err_, "efis-cli: %s\n", line.toLocal8Bit().constData());
    std::fflush(err_);
}

void CliOutput::event(const char* kind, const QJsonObject& fields) {
    QJsonObject object = fields;
    object.insert(QStringLiteral("event"), QLatin1String(kind));
    std::fprintf(out_, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(out_);
}

void CliOutput::begin(const QJsonObject& fields) {
    if (json_ && !quiet_) {
        event("begin", fields);
    }
}

void CliOutput::progress(const QJsonObject& fields) {
    if (json_ && !quiet_) {
        event("progress", fields);
    }
}

void CliOutput::result(int exit_status, const QJsonObject& fields) {
    if (!json_) {
        return;
    }
    QJsonObject object = fields;
    object.insert(QStringLiteral("exit_status"), exit_status);
    object.insert(QStringLiteral("ok"), exit_status == 0);
    if (!error_.isEmpty()) {
        object.insert(QStringLiteral("error"), error_);
    }
    if (!warnings_.isEmpty()) {
        object.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(warnings_));
    }
    event("result", object);
}
