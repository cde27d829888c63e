#include "cli/cli_output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>

namespace {

// C0 controls, DEL and the C1 controls (which some terminals act on, such as 0x9B for an
// escape sequence) as "\x1B".
QByteArray printable(const QString& line, bool terminal) {
    if (!terminal) {
        return line.toLocal8Bit();
    }
    QString shown;
    for (const QChar c : line) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0)) {
            shown += QStringLiteral("\\x") +
                     QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    return shown.toLocal8Bit();
}

}  // namespace

CliOutput::CliOutput(const CliEnvironment& env, bool json, bool quiet)
    : out_(env.out),
      err_(env.err),
      out_terminal_(env.out_is_terminal),
      err_terminal_(env.err_is_terminal),
      json_(json),
      quiet_(quiet) {}

void CliOutput::text(const QString& line) {
    if (json_) {
        return;
    }
    std::fprintf(out_, "%s\n", printable(line, out_terminal_).constData());
    flushOut();
}

void CliOutput::flushOut() {
    errno = 0;
    if ((std::fflush(out_) != 0 || std::ferror(out_) != 0) && out_errno_ == 0) {
        out_errno_ = errno != 0 ? errno : EIO;
    }
}

void CliOutput::note(const QString& line) {
    if (!quiet_) {
        text(line);
    }
}

void CliOutput::warning(const QString& line) {
    warnings_ << line;
    if (!quiet_) {
        std::fprintf(err_, "efis-cli: warning: %s\n", printable(line, err_terminal_).constData());
        std::fflush(err_);
    }
}

void CliOutput::error(const QString& line) {
    error_ = line;
    std::fprintf(err_, "efis-cli: %s\n", printable(line, err_terminal_).constData());
    std::fflush(err_);
}

void CliOutput::detail(const QString& line) {
    std::fprintf(err_, "%s\n", printable(line, err_terminal_).constData());
    std::fflush(err_);
}

void CliOutput::event(const char* kind, const QJsonObject& fields) {
    QJsonObject object = fields;
    object.insert(QStringLiteral("event"), QLatin1String(kind));
    std::fprintf(out_, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    flushOut();
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
