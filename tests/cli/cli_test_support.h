// efis-cli run in-process against the emulated unit: its output captured, its clock and
// Ctrl-C in the test's hands.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "emulator/hidapi/emulated_hidapi.h"

namespace cli_test {

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;

    // Every line of standard output as a JSON object (a line that is not one fails).
    std::vector<QJsonObject> events() const {
        std::vector<QJsonObject> objects;
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            QJsonParseError error{};
            const QJsonDocument doc =
                QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
            EXPECT_TRUE(doc.isObject()) << line;
            objects.push_back(doc.object());
        }
        return objects;
    }
};

inline std::string slurp(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(f);
    return text;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A clock that moves `step` seconds at every reading, and a hook that sees each reading.
struct FakeClock {
    double now = 1000.0;
    double step = 0.01;
    std::function<void(double)> on_read;
};

// `in` (when not null) is the standard input a FILE "-" is read from.
inline CliResult run_cli(const QStringList& args, std::atomic<bool>* cancel,
                         FakeClock* clock = nullptr, bool terminal = false, FILE* in = nullptr) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    EXPECT_NE(out, nullptr);
    EXPECT_NE(err, nullptr);
    CliEnvironment env;
    if (in != nullptr) {
        env.in = in;
    }
    env.out = out;
    env.err = err;
    env.out_is_terminal = terminal;
    env.err_is_terminal = terminal;
    env.cancel = cancel;
    FakeClock local;
    FakeClock* c = clock != nullptr ? clock : &local;
    env.now = [c]() {
        c->now += c->step;
        if (c->on_read) {
            c->on_read(c->now);
        }
        return c->now;
    };
    CliResult result;
    result.status = cli_run(args, env);
    result.out = slurp(out);
    result.err = slurp(err);
    return result;
}

// Whether the pattern (Perl-style) is found in the text; \\A and \\z anchor a whole match.
inline bool found(const std::string& text, const std::string& pattern) {
    const QRegularExpression re(QString::fromStdString(pattern));
    EXPECT_TRUE(re.isValid()) << pattern;
    return re.match(QString::fromStdString(text)).hasMatch();
}

inline std::string temp_path(const std::string& name) {
    return testing::TempDir() + "cli_" + std::to_string(getpid()) + "_" + name;
}

}  // namespace cli_test
