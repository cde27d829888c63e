#include <QCoreApplication>
#include <QRegularExpression>
#include <QtTest>
#include <thread>
#include <vector>

#include "gui_test_support.h"
#include "tests/qtest_registry.h"

// The log sink as the program uses it: from several threads at once, and through qDebug with
// the source context the build carries. (Its line formats are tested with the shared code.)
class LogContextTest : public QObject {
    Q_OBJECT

private slots:
    void linesFromManyThreadsStayWhole();
    void qDebugCarriesSourceContext();
};

void LogContextTest::linesFromManyThreadsStayWhole() {
    constexpr int kThreads = 4;
    constexpr int kMessages = 200;
    FdCapture err(2);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const QMessageLogContext context("t.cpp", t, "worker()", "default");
            for (int i = 0; i < kMessages; ++i) {
                customMessageHandler(QtDebugMsg, context,
                                     QStringLiteral("thread %1 message %2").arg(t).arg(i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const QList<QByteArray> lines = err.text().split('\n');
    QCOMPARE(lines.size(), kThreads * kMessages + 1);
    QVERIFY(lines.last().isEmpty());
    const QRegularExpression whole(
        QStringLiteral("^Debug: thread (\\d) message \\d+ \\(t\\.cpp:(\\d), worker\\(\\)\\)$"));
    for (int i = 0; i < lines.size() - 1; ++i) {
        const QRegularExpressionMatch m = whole.match(QString::fromLatin1(lines[i]));
        QVERIFY2(m.hasMatch(), lines[i].constData());
        QCOMPARE(m.captured(1), m.captured(2));
    }
}

void LogContextTest::qDebugCarriesSourceContext() {
    const QtMessageHandler previous = qInstallMessageHandler(customMessageHandler);
    FdCapture err(2);
    const int line = __LINE__ + 1;
    qDebug() << "from the test";
    const QByteArray text = err.text();
    qInstallMessageHandler(previous);
    QVERIFY2(text.startsWith("Debug: from the test ("), text.constData());
    QVERIFY2(text.contains("test_log_context.cpp:" + QByteArray::number(line) + ", "),
             text.constData());
    QVERIFY2(text.contains("LogContextTest::qDebugCarriesSourceContext()"), text.constData());
}

EFIS_QTEST_GUILESS(LogContextTest);
#include "test_log_context.moc"
