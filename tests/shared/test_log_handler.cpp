#include <gtest/gtest.h>

#include <QString>
#include <QTextCodec>
#include <string>

#include "gui/mainwindow.h"

namespace {

std::string log_line(QtMsgType type, const char* file, int line, const char* function,
                     const QString& text) {
    const QMessageLogContext context(file, line, function, "default");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    customMessageHandler(type, context, text);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "") << "nothing goes to standard output";
    return testing::internal::GetCapturedStderr();
}

struct Case {
    QtMsgType type;
    const char* expected;
};

TEST(LogHandler, OneLinePerMessageTypeOnStandardError) {
    const Case cases[] = {
        {QtDebugMsg, "Debug: hello (mainwindow.cpp:42, void MainWindow::onSaveClicked())\n"},
        {QtWarningMsg, "Warning: hello (mainwindow.cpp:42, void MainWindow::onSaveClicked())\n"},
        {QtCriticalMsg, "Critical: hello (mainwindow.cpp:42, void MainWindow::onSaveClicked())\n"},
        {QtInfoMsg, "Info: hello (mainwindow.cpp:42, void MainWindow::onSaveClicked())\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(log_line(c.type, "mainwindow.cpp", 42, "void MainWindow::onSaveClicked()",
                           QStringLiteral("hello")),
                  c.expected);
    }
}

TEST(LogHandler, MissingFileAndFunctionPrintAsEmptyFields) {
    EXPECT_EQ(log_line(QtDebugMsg, nullptr, 7, nullptr, QStringLiteral("no context")),
              "Debug: no context (:7, )\n");
    EXPECT_EQ(log_line(QtWarningMsg, nullptr, 0, nullptr, QString()), "Warning:  (:0, )\n");
}

TEST(LogHandler, UnknownTypePrintsNothing) {
    EXPECT_EQ(log_line(static_cast<QtMsgType>(99), "f.cpp", 1, "fn", QStringLiteral("x")), "");
}

TEST(LogHandler, TextInTheLocal8BitEncoding) {
    QTextCodec* const saved = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    EXPECT_EQ(log_line(QtDebugMsg, "a.cpp", 1, "f", QString::fromUtf8("D-\xC3\xA9t\xC3\xA9")),
              "Debug: D-\xE9t\xE9 (a.cpp:1, f)\n");
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    EXPECT_EQ(log_line(QtDebugMsg, "a.cpp", 1, "f", QString::fromUtf8("D-\xC3\xA9t\xC3\xA9")),
              "Debug: D-\xC3\xA9t\xC3\xA9 (a.cpp:1, f)\n");
    QTextCodec::setCodecForLocale(saved);
}

TEST(LogHandlerDeathTest, FatalIsWrittenInFullBeforeAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QMessageLogContext context("main.cpp", 12, "int main()", "default");
    EXPECT_DEATH(customMessageHandler(QtFatalMsg, context, QStringLiteral("out of memory")),
                 "Fatal: out of memory \\(main\\.cpp:12, int main\\(\\)\\)\n");
}

}  // namespace
