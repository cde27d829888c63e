// The window's transfer side on an emulated unit: choosing files, the start refusals, the
// controls during and after an upload, what lands in the unit's flash, the progress shown,
// failures, the one-user rule and closing the window during an upload.
#include <unistd.h>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStringList>
#include <QTextEdit>
#include <QTimer>
#include <QVector>
#include <QtTest>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "comms/can_msg_ids.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "firmware_ops/firmware_ops.h"
#include "gui/mainwindow.h"
#include "tests/qtest_registry.h"
#include "tests/transfer/upload_file_support.h"
#include "tests/window_wait.h"

using transfer_test::Bytes;

namespace {

constexpr uint32_t kBank1Address = 832u * 65536u;
constexpr uint32_t kBank2Address = 896u * 65536u;
constexpr int kUploadTimeoutMs = 120000;

const char* const kRefusal = "Error: A transfer is running; wait until it finishes";

// Debug lines of the window, collected besides the window's own log handler.
QStringList g_debug_lines;
QtMessageHandler g_previous_handler = nullptr;

void recording_handler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (type == QtDebugMsg) {
        g_debug_lines.append(msg);
    }
    if (g_previous_handler != nullptr) {
        g_previous_handler(type, context, msg);
    }
}

uint32_t frames_on(uint32_t can_id) {
    uint32_t n = 0;
    for (const COMMS_MSG_t& f : emu_hid::unit().received()) {
        const uint32_t id = f.can_ID;
        if (id == can_id) {
            ++n;
        }
    }
    return n;
}

}  // namespace

class TransferWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;
    QStringList messages;
    QVector<int> firmwareBars;
    QVector<int> airportBars;
    QStringList files;

    template <typename T>
    T* find(const char* name) const {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        if (w == nullptr) {
            qFatal("no widget %s", name);
        }
        return w;
    }

    QString status() const { return window->statusBar()->currentMessage(); }

    // The window connects and loads as it opens: the unit is set up before.
    void openWindow() {
        isolateWindowSettings();
        window = std::make_unique<MainWindow>();
        QVERIFY(waitForConnectionAttempt(window.get()));
        g_previous_handler = qInstallMessageHandler(recording_handler);
        g_debug_lines.clear();
        messages.clear();
        firmwareBars.clear();
        airportBars.clear();
        connect(window->statusBar(), &QStatusBar::messageChanged, this,
                [this](const QString& m) { messages.append(m); });
        connect(find<QProgressBar>("progressBar_firmware"), &QProgressBar::valueChanged, this,
                [this](int v) { firmwareBars.append(v); });
        connect(find<QProgressBar>("progressBar_airports"), &QProgressBar::valueChanged, this,
                [this](int v) { airportBars.append(v); });
    }

    void closeWindow() {
        window.reset();
        qInstallMessageHandler(g_previous_handler);
        // Lets the finished worker threads delete themselves.
        QTest::qWait(20);
    }

    QString makeFile(const char* name, const Bytes& bytes) {
        const QString path = QStringLiteral("/tmp/efis_xfer_%1_%2")
                                 .arg(static_cast<qint64>(getpid()))
                                 .arg(QString::fromLatin1(name));
        if (!transfer_test::write_file(path.toStdString(), bytes)) {
            qFatal("cannot write %s", qPrintable(path));
        }
        files.append(path);
        return path;
    }

    // Types the path into the dialog's name box, as a user would, and accepts it. (selectFile
    // leaves the box alone once it has the focus.)
    static void enterFileName(QFileDialog* dialog, const QString& path) {
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name != nullptr) {
            name->setText(path);
        } else {
            dialog->selectFile(path);
        }
        static_cast<QDialog*>(dialog)->accept();
    }

    // Answers the file dialog that `browse` opens: enters `path`, or cancels when empty; again
    // on every tick while the dialog stays up.
    bool answerFileDialog(const char* browse, const QString& path) {
        int sightings = 0;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&]() {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                if (dialog == nullptr || !dialog->isVisible()) {
                    continue;
                }
                ++sightings;
                if (path.isEmpty()) {
                    dialog->reject();
                } else {
                    enterFileName(dialog, path);
                }
                return;
            }
        });
        poll.start();
        find<QPushButton>(browse)->click();
        poll.stop();
        return sightings > 0;
    }

    void invoke(const char* slot) {
        QVERIFY(QMetaObject::invokeMethod(window.get(), slot, Qt::DirectConnection));
    }

    bool deviceActionsEnabled() const {
        return find<QPushButton>("pushButton_load")->isEnabled() &&
               find<QPushButton>("pushButton_update")->isEnabled() &&
               find<QPushButton>("pushButton_save")->isEnabled() &&
               find<QPushButton>("pushButton_reboot")->isEnabled();
    }

    bool deviceActionsDisabled() const {
        return !find<QPushButton>("pushButton_load")->isEnabled() &&
               !find<QPushButton>("pushButton_update")->isEnabled() &&
               !find<QPushButton>("pushButton_save")->isEnabled() &&
               !find<QPushButton>("pushButton_reboot")->isEnabled();
    }

    bool waitFirmwareFinished() {
        return QTest::qWaitFor(
            [this]() { return find<QPushButton>("pushButton_browse")->isEnabled(); },
            kUploadTimeoutMs);
    }

    bool waitAirportFinished() {
        return QTest::qWaitFor(
            [this]() { return find<QPushButton>("pushButton_browse_airports")->isEnabled(); },
            kUploadTimeoutMs);
    }

    // `expected` appear in this order among the status messages (others may lie between).
    bool messagesInOrder(const QStringList& expected) const {
        int at = 0;
        for (const QString& e : expected) {
            at = messages.indexOf(e, at);
            if (at < 0) {
                qWarning("missing status message in order: %s", qPrintable(e));
                return false;
            }
            ++at;
        }
        return true;
    }

    static bool nonDecreasing(const QVector<int>& v) {
        for (int i = 1; i < v.size(); ++i) {
            if (v[i] < v[i - 1]) {
                return false;
            }
        }
        return true;
    }

    // Answers the next message box with the button of that text; its texts are kept.
    struct BoxReply {
        QString button;
        QString text;
        QString informative;
        QTimer timer;
    };
    void answerBox(BoxReply* reply) {
        reply->timer.setInterval(5);
        connect(&reply->timer, &QTimer::timeout, this, [reply]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) {
                return;
            }
            reply->text = box->text();
            reply->informative = box->informativeText();
            reply->timer.stop();
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == reply->button) {
                    b->click();
                    return;
                }
            }
            box->escapeButton()->click();
        });
        reply->timer.start();
    }

    // A slow upload under way: `firmware` or airports, writing, its Cancel enabled.
    void startSlowUpload(bool firmware, const Bytes& bytes) {
        QVERIFY(answerFileDialog(firmware ? "pushButton_browse" : "pushButton_browse_airports",
                                 makeFile(firmware ? "slow.bin" : "slow.db", bytes)));
        emu_hid::set_latency_us(2000);
        find<QPushButton>(firmware ? "pushButton_start_update" : "pushButton_start_airport")
            ->click();
        QVERIFY(QTest::qWaitFor(
            [this]() { return status().startsWith(QStringLiteral("Uploading")); }, 30000));
    }

private slots:
    void init() { emu_hid::reset(); }

    void cleanup() {
        if (window) {
            closeWindow();
        }
        for (const QString& f : files) {
            QFile::remove(f);
        }
        files.clear();
        emu_hid::reset();
    }

    void browseShowsTheNameAndEnablesTheTab() {
        openWindow();
        QVERIFY(!find<QPushButton>("pushButton_start_update")->isEnabled());
        QVERIFY(!find<QTextEdit>("text_firmware_file")->isEnabled());
        QVERIFY(!find<QProgressBar>("progressBar_firmware")->isEnabled());
        QVERIFY(!find<QPushButton>("pushButton_start_airport")->isEnabled());

        // Cancelling with nothing chosen keeps the tab as it was.
        QVERIFY(answerFileDialog("pushButton_browse", QString()));
        QVERIFY(!find<QPushButton>("pushButton_start_update")->isEnabled());
        QVERIFY(find<QTextEdit>("text_firmware_file")->toPlainText().isEmpty());

        const QString fw = makeFile("first_image.bin", transfer_test::firmware_image(640, 1));
        QVERIFY(answerFileDialog("pushButton_browse", fw));
        QCOMPARE(find<QTextEdit>("text_firmware_file")->toPlainText(),
                 QStringLiteral("efis_xfer_%1_first_image.bin").arg(static_cast<qint64>(getpid())));
        QVERIFY(find<QTextEdit>("text_firmware_file")->isEnabled());
        QVERIFY(find<QPushButton>("pushButton_start_update")->isEnabled());
        QVERIFY(find<QProgressBar>("progressBar_firmware")->isEnabled());
        // The other tab is untouched.
        QVERIFY(!find<QPushButton>("pushButton_start_airport")->isEnabled());

        // Cancelling later keeps the previous choice and the controls.
        QVERIFY(answerFileDialog("pushButton_browse", QString()));
        QCOMPARE(find<QTextEdit>("text_firmware_file")->toPlainText(),
                 QStringLiteral("efis_xfer_%1_first_image.bin").arg(static_cast<qint64>(getpid())));
        QVERIFY(find<QPushButton>("pushButton_start_update")->isEnabled());

        const QString db = makeFile("airports.db", transfer_test::random_bytes(100, 2));
        QVERIFY(answerFileDialog("pushButton_browse_airports", db));
        QCOMPARE(find<QTextEdit>("text_firmware_file_2")->toPlainText(),
                 QStringLiteral("efis_xfer_%1_airports.db").arg(static_cast<qint64>(getpid())));
        QVERIFY(find<QTextEdit>("text_firmware_file_2")->isEnabled());
        QVERIFY(find<QPushButton>("pushButton_start_airport")->isEnabled());
        QVERIFY(find<QProgressBar>("progressBar_airports")->isEnabled());
        QVERIFY(answerFileDialog("pushButton_browse_airports", QString()));
        QCOMPARE(find<QTextEdit>("text_firmware_file_2")->toPlainText(),
                 QStringLiteral("efis_xfer_%1_airports.db").arg(static_cast<qint64>(getpid())));

        // The file chosen last is the one uploaded; the cancelled dialog changed nothing.
        find<QPushButton>("pushButton_start_update")->click();
        QVERIFY(waitFirmwareFinished());
        QCOMPARE(status(), QStringLiteral("Firmware update completed"));
        QCOMPARE(emu_hid::unit().flash_read(kBank1Address, 64 + 640),
                 transfer_test::firmware_image(640, 1));
    }

    void startRefusalsWithoutUnit() {
        emu_hid::set_interfaces({});
        openWindow();
        const uint32_t link_frames = static_cast<uint32_t>(emu_hid::output_reports().size());

        // No file comes first, connected or not.
        invoke("onStartUpdateClicked");
        QCOMPARE(status(), QStringLiteral("No firmware file selected"));
        invoke("onStartAirportClicked");
        QCOMPARE(status(), QStringLiteral("No airport database file selected"));

        QVERIFY(answerFileDialog("pushButton_browse",
                                 makeFile("fw.bin", transfer_test::firmware_image(64, 3))));
        QVERIFY(answerFileDialog("pushButton_browse_airports",
                                 makeFile("ap.db", transfer_test::random_bytes(64, 4))));

        g_debug_lines.clear();
        find<QPushButton>("pushButton_start_update")->click();
        QCOMPARE(status(), QStringLiteral("Device not connected. Please connect to device first."));
        QVERIFY(g_debug_lines.contains(
            QStringLiteral("Firmware update failed: CommsManager not connected")));
        find<QPushButton>("pushButton_start_airport")->click();
        QCOMPARE(status(), QStringLiteral("Device not connected. Please connect to device first."));
        QVERIFY(g_debug_lines.contains(
            QStringLiteral("Airport upload failed: CommsManager not connected")));

        // Nothing else changed and nothing was sent.
        QVERIFY(find<QPushButton>("pushButton_browse")->isEnabled());
        QVERIFY(find<QPushButton>("pushButton_start_update")->isEnabled());
        QVERIFY(find<QTextEdit>("text_firmware_file")->isEnabled());
        QVERIFY(find<QPushButton>("pushButton_start_airport")->isEnabled());
        QVERIFY(deviceActionsEnabled());
        QCOMPARE(find<QProgressBar>("progressBar_firmware")->value(), 0);
        QCOMPARE(static_cast<uint32_t>(emu_hid::output_reports().size()), link_frames);
    }

    void firmwareUpload_data() {
        QTest::addColumn<bool>("legacy");
        QTest::addColumn<uint32_t>("partition");
        QTest::addColumn<uint32_t>("address");
        QTest::newRow("current unit, bank 1") << false << uint32_t{partition_1} << kBank1Address;
        QTest::newRow("legacy unit, bank 2") << true << uint32_t{partition_2} << kBank2Address;
    }

    // 70000 data bytes: two blocks to erase, 1094 packets, the last one of 48 bytes.
    void firmwareUpload() {
        QFETCH(bool, legacy);
        QFETCH(uint32_t, partition);
        QFETCH(uint32_t, address);
        emu_hid::unit().set_generation(legacy ? emu::Generation::Legacy : emu::Generation::Current);
        emu_hid::unit().set_partition_answer(partition);
        openWindow();
        const Bytes image = transfer_test::firmware_image(70000, 5);
        QVERIFY(answerFileDialog("pushButton_browse", makeFile("image.bin", image)));
        messages.clear();
        firmwareBars.clear();

        find<QPushButton>("pushButton_start_update")->click();
        QCOMPARE(status(), QStringLiteral("Starting firmware update..."));
        QVERIFY(
            g_debug_lines.last().startsWith(QStringLiteral("Starting firmware update with file:")));
        QVERIFY(waitFirmwareFinished());

        QCOMPARE(status(), QStringLiteral("Firmware update completed"));
        QVERIFY(g_debug_lines.contains(QStringLiteral("Firmware update process finished")));
        QCOMPARE(emu_hid::unit().flash_read(address, static_cast<uint32_t>(image.size())), image);
        const std::vector<uint32_t> erased = emu_hid::unit().erased_blocks();
        QCOMPARE(erased.size(), size_t{2});
        QCOMPARE(erased[0], address / 65536);
        QCOMPARE(erased[1], address / 65536 + 1);

        // Every stage boundary reaches the window through the queued path.
        QVERIFY(messagesInOrder(
            {QStringLiteral("Starting firmware update..."), QStringLiteral("Erasing: 1 / 2 blocks"),
             QStringLiteral("Erasing: 2 / 2 blocks"), QStringLiteral("Uploading: 64 / 70000 bytes"),
             QStringLiteral("Uploading: 70000 / 70000 bytes"),
             QStringLiteral("Firmware update completed")}));
        QCOMPARE(messages.last(), QStringLiteral("Firmware update completed"));
        // Throttled: far fewer updates than the 1094 packets.
        QVERIFY(messages.filter(QStringLiteral("Uploading: ")).size() < 600);
        QVERIFY(firmwareBars.contains(600));
        QVERIFY(firmwareBars.contains(1200 + 64 * 8800 / 70000));
        QCOMPARE(firmwareBars.last(), 10000);
        QVERIFY(nonDecreasing(firmwareBars));
        QCOMPARE(find<QProgressBar>("progressBar_firmware")->maximum(), 10000);

        QVERIFY(find<QPushButton>("pushButton_start_update")->isEnabled());
        QVERIFY(find<QTextEdit>("text_firmware_file")->isEnabled());
        QVERIFY(deviceActionsEnabled());
        // The link is free again for the settings actions.
        find<QPushButton>("pushButton_load")->click();
        QCOMPARE(status(), QStringLiteral("Configuration successfully loaded from device"));
    }

    void airportUpload_data() {
        QTest::addColumn<bool>("legacy");
        QTest::newRow("current unit") << false;
        QTest::newRow("legacy unit") << true;
    }

    // Two blocks and 5 bytes into a third: the last packet carries 5 bytes.
    void airportUpload() {
        QFETCH(bool, legacy);
        emu_hid::unit().set_generation(legacy ? emu::Generation::Legacy : emu::Generation::Current);
        openWindow();
        const Bytes db = transfer_test::random_bytes(2 * 65536 + 5, 6);
        QVERIFY(answerFileDialog("pushButton_browse_airports", makeFile("airports.db", db)));
        messages.clear();
        airportBars.clear();

        find<QPushButton>("pushButton_start_airport")->click();
        QCOMPARE(status(), QStringLiteral("Starting airport database transfer..."));
        QVERIFY(g_debug_lines.last().startsWith(QStringLiteral("Airport database upload:")));
        QVERIFY(waitAirportFinished());

        QCOMPARE(status(), QStringLiteral("Airport database transfer finished"));
        QCOMPARE(emu_hid::unit().flash_read(0, static_cast<uint32_t>(db.size())), db);
        QVERIFY(emu_hid::unit().airport_db_open());
        QCOMPARE(emu_hid::unit().erased_blocks(), (std::vector<uint32_t>{0, 1, 2}));
        QVERIFY(
            messagesInOrder({QStringLiteral("Starting airport database transfer..."),
                             QStringLiteral("Erasing airport region: 1 / 3 blocks"),
                             QStringLiteral("Erasing airport region: 3 / 3 blocks"),
                             QStringLiteral("Uploading airport database: 64 / 131077 bytes"),
                             QStringLiteral("Uploading airport database: 131077 / 131077 bytes"),
                             QStringLiteral("Airport database transfer finished")}));
        QCOMPARE(messages.last(), QStringLiteral("Airport database transfer finished"));
        QVERIFY(airportBars.contains(400));
        QCOMPARE(airportBars.last(), 10000);
        QVERIFY(nonDecreasing(airportBars));
        QVERIFY(find<QPushButton>("pushButton_start_airport")->isEnabled());
        QVERIFY(find<QTextEdit>("text_firmware_file_2")->isEnabled());
        QVERIFY(deviceActionsEnabled());
    }

    void failedFirmwareUpload_data() {
        QTest::addColumn<bool>("legacy");
        QTest::addColumn<bool>("nackMidStream");
        QTest::addColumn<uint32_t>("result");
        QTest::newRow("no bank named") << false << false << uint32_t{UPLOAD_NO_PARTITION};
        QTest::newRow("no bank named, legacy") << true << false << uint32_t{UPLOAD_NO_PARTITION};
        QTest::newRow("NACK at packet 300") << false << true << uint32_t{UPLOAD_DATA_ACK_FAILED};
        QTest::newRow("NACK at packet 300, legacy")
            << true << true << uint32_t{UPLOAD_DATA_ACK_FAILED};
    }

    void failedFirmwareUpload() {
        QFETCH(bool, legacy);
        QFETCH(bool, nackMidStream);
        QFETCH(uint32_t, result);
        emu_hid::unit().set_generation(legacy ? emu::Generation::Legacy : emu::Generation::Current);
        if (!nackMidStream) {
            emu_hid::unit().set_partition_answer(partition_none);
        }
        openWindow();
        if (nackMidStream) {
            emu::Fault nack;
            nack.answer = emu::AnswerKind::FlashAck;
            nack.refuse = true;
            nack.skip_first = 301;  // the header and 300 data packets go through
            nack.times = 1;
            emu_hid::unit().set_fault(canmsg_write_mx25(), nack);
        }
        QVERIFY(answerFileDialog("pushButton_browse",
                                 makeFile("image.bin", transfer_test::firmware_image(70000, 8))));
        find<QPushButton>("pushButton_start_update")->click();
        QVERIFY(waitFirmwareFinished());

        QCOMPARE(status(),
                 QStringLiteral("Error: Firmware update failed: ") +
                     QString::fromUtf8(upload_result_text(static_cast<upload_result_t>(result))));
        const int bar = find<QProgressBar>("progressBar_firmware")->value();
        if (nackMidStream) {
            // Where the last posted update left it, at most at packet 300.
            QVERIFY(bar > 1200);
            QVERIFY(bar <= static_cast<int>(1200 + uint64_t{300 * 64} * 8800 / 70000));
        } else {
            QCOMPARE(bar, 0);
            QCOMPARE(emu_hid::unit().erased_blocks().size(), size_t{0});
        }
        QVERIFY(!messages.contains(QStringLiteral("Firmware update completed")));
        QVERIFY(find<QPushButton>("pushButton_browse")->isEnabled());
        QVERIFY(find<QPushButton>("pushButton_start_update")->isEnabled());
        QVERIFY(find<QTextEdit>("text_firmware_file")->isEnabled());
        QVERIFY(deviceActionsEnabled());

        // A new attempt starts over once the unit behaves.
        emu_hid::unit().clear_faults();
        emu_hid::unit().set_partition_answer(partition_1);
        find<QPushButton>("pushButton_start_update")->click();
        QVERIFY(waitFirmwareFinished());
        QCOMPARE(status(), QStringLiteral("Firmware update completed"));
        QCOMPARE(find<QProgressBar>("progressBar_firmware")->value(), 10000);
    }

    void failedAirportUpload() {
        openWindow();
        emu::Fault silent;
        silent.answer = emu::AnswerKind::CommandAck;
        silent.no_answer = true;
        emu_hid::unit().set_fault(canmsg_airport_db_op(), silent);
        QVERIFY(answerFileDialog("pushButton_browse_airports",
                                 makeFile("airports.db", transfer_test::random_bytes(1000, 9))));
        find<QPushButton>("pushButton_start_airport")->click();
        QVERIFY(waitAirportFinished());

        QCOMPARE(status(), QStringLiteral("Error: Airport database transfer failed: ") +
                               QString::fromUtf8(upload_result_text(UPLOAD_DB_CLOSE_FAILED)));
        QCOMPARE(find<QProgressBar>("progressBar_airports")->value(), 0);
        QVERIFY(!messages.contains(QStringLiteral("Airport database transfer finished")));
        QVERIFY(find<QPushButton>("pushButton_start_airport")->isEnabled());
        QVERIFY(deviceActionsEnabled());
    }

    // While an upload runs nothing else reaches the link: a second upload of either kind is
    // refused in the given order, and Load, Update, Save and Reboot are disabled and refuse.
    void oneUserWhileTransferring() {
        openWindow();
        const Bytes image = transfer_test::firmware_image(64 * 1024, 12);
        const Bytes db = transfer_test::random_bytes(64 * 1024, 13);
        QVERIFY(answerFileDialog("pushButton_browse", makeFile("image.bin", image)));
        QVERIFY(answerFileDialog("pushButton_browse_airports", makeFile("airports.db", db)));
        // Long enough for the checks below on a loaded machine: over 2 s per upload.
        emu_hid::set_latency_us(2000);
        const uint32_t reboots = emu_hid::unit().reboot_count();
        const uint32_t stores = emu_hid::unit().store_count();
        const uint32_t settings_requests = frames_on(canmsg_request_user_setting());
        const uint32_t settings_writes = frames_on(canmsg_set_user_setting());
        // A pending edit, so that Update would have something to send.
        find<QSpinBox>("spinBox_vne")->setValue(find<QSpinBox>("spinBox_vne")->value() + 1);

        find<QPushButton>("pushButton_start_update")->click();
        QVERIFY(!find<QPushButton>("pushButton_browse")->isEnabled());
        QVERIFY(!find<QPushButton>("pushButton_start_update")->isEnabled());
        QVERIFY(!find<QTextEdit>("text_firmware_file")->isEnabled());
        QVERIFY(find<QProgressBar>("progressBar_firmware")->isEnabled());
        QCOMPARE(find<QProgressBar>("progressBar_firmware")->minimum(), 0);
        QCOMPARE(find<QProgressBar>("progressBar_firmware")->maximum(), 10000);
        QCOMPARE(find<QProgressBar>("progressBar_firmware")->value(), 0);
        QVERIFY(deviceActionsDisabled());
        // The airport tab stays usable, but cannot start.
        QVERIFY(find<QPushButton>("pushButton_start_airport")->isEnabled());

        invoke("onStartUpdateClicked");
        QCOMPARE(status(), QStringLiteral("Firmware update already in progress"));
        find<QPushButton>("pushButton_start_airport")->click();
        QCOMPARE(status(), QStringLiteral("Finish firmware update before airport transfer"));
        QVERIFY(find<QPushButton>("pushButton_browse_airports")->isEnabled());
        for (const char* slot :
             {"onLoadClicked", "onUpdateClicked", "onSaveClicked", "onRebootClicked"}) {
            invoke(slot);
            QCOMPARE(status(), QString::fromLatin1(kRefusal));
        }
        QVERIFY(!find<QPushButton>("pushButton_browse")->isEnabled());

        QVERIFY(waitFirmwareFinished());
        QCOMPARE(status(), QStringLiteral("Firmware update completed"));
        QCOMPARE(emu_hid::unit().flash_read(kBank1Address, static_cast<uint32_t>(image.size())),
                 image);
        QVERIFY(deviceActionsEnabled());

        find<QPushButton>("pushButton_start_airport")->click();
        QVERIFY(!find<QPushButton>("pushButton_browse_airports")->isEnabled());
        QVERIFY(!find<QPushButton>("pushButton_start_airport")->isEnabled());
        QVERIFY(!find<QTextEdit>("text_firmware_file_2")->isEnabled());
        QCOMPARE(find<QProgressBar>("progressBar_airports")->maximum(), 10000);
        QVERIFY(deviceActionsDisabled());
        invoke("onStartAirportClicked");
        QCOMPARE(status(), QStringLiteral("Airport transfer already in progress"));
        find<QPushButton>("pushButton_start_update")->click();
        QCOMPARE(status(), QStringLiteral("Finish airport transfer before firmware update"));
        QVERIFY(find<QPushButton>("pushButton_browse")->isEnabled());
        for (const char* slot :
             {"onLoadClicked", "onUpdateClicked", "onSaveClicked", "onRebootClicked"}) {
            invoke(slot);
            QCOMPARE(status(), QString::fromLatin1(kRefusal));
        }
        QVERIFY(waitAirportFinished());
        QCOMPARE(status(), QStringLiteral("Airport database transfer finished"));
        QCOMPARE(emu_hid::unit().flash_read(0, static_cast<uint32_t>(db.size())), db);
        QVERIFY(deviceActionsEnabled());

        // None of the refused actions reached the unit.
        QCOMPARE(emu_hid::unit().reboot_count(), reboots);
        QCOMPARE(emu_hid::unit().store_count(), stores);
        QCOMPARE(frames_on(canmsg_request_user_setting()), settings_requests);
        QCOMPARE(frames_on(canmsg_set_user_setting()), settings_writes);

        // Afterwards they work again: the edit kept while refused is sent now.
        emu_hid::set_latency_us(0);
        find<QPushButton>("pushButton_update")->click();
        QCOMPARE(status(), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
    }

    void summaryBeforeSending() {
        openWindow();
        // 70000 bytes: 1094 data packets and the header; two blocks.
        QVERIFY(answerFileDialog("pushButton_browse",
                                 makeFile("plan.bin", transfer_test::firmware_image(70000, 3))));
        const QString plan = find<QLabel>("label_firmware_summary")->text();
        QVERIFY2(
            plan.startsWith(QStringLiteral(
                "68.4 KiB of firmware in 1095 packets; fits its bank (2 of 64 blocks); about ")),
            qPrintable(plan));
        QVERIFY2(plan.endsWith(QStringLiteral(" over USB HID")), qPrintable(plan));
        Bytes big = transfer_test::firmware_image(64, 4);
        big[8] = 0;  // total_size 16 MiB: four banks
        big[9] = 0;
        big[10] = 0;
        big[11] = 1;
        QVERIFY(answerFileDialog("pushButton_browse", makeFile("big.bin", big)));
        QCOMPARE(find<QLabel>("label_firmware_summary")->text(),
                 QStringLiteral("Will be refused: the image does not fit its flash bank"));
        QVERIFY(answerFileDialog("pushButton_browse_airports",
                                 makeFile("plan.db", transfer_test::random_bytes(65537, 5))));
        QVERIFY(
            find<QLabel>("label_airport_summary")
                ->text()
                .startsWith(QStringLiteral("64.0 KiB in 1025 packets (2 of 832 blocks); about ")));
    }

    // The bar's text against a clock the test moves: the percentage alone for two seconds,
    // then the throughput and the time left over the last seconds.
    void barFiguresFollowTheClock() {
        openWindow();
        double now = 100.0;
        window->setTransferClock([&now]() { return now; });
        QVERIFY(answerFileDialog("pushButton_browse",
                                 makeFile("bar.bin", transfer_test::firmware_image(64 * 10, 6))));
        emu_hid::set_latency_us(3000);
        find<QPushButton>("pushButton_start_update")->click();
        auto* bar = find<QProgressBar>("progressBar_firmware");
        struct Step {
            double at;
            uint32_t current;
            int phase;
            const char* format;
        };
        const Step steps[] = {
            {100.5, 1, 0, "%p%"},
            {101.0, 0, 1, "%p%"},
            {102.5, 19046, 1, "%p%"},
            {103.0, 38092, 1, "%p% · 18.6 KiB/s · 3:09 left"},
            {108.0, 133322, 1, "%p% · 18.6 KiB/s · 3:04 left"},
            {110.0, 3619840, 1, "%p% · 499.7 KiB/s"},
        };
        for (const Step& st : steps) {
            now = st.at;
            window->applyFirmwareUploadProgress(0, QStringLiteral("x"), st.current,
                                                st.phase == 0 ? 2 : 3619840, st.phase);
            QCOMPARE(bar->format(), QString::fromUtf8(st.format));
        }
        QVERIFY(waitFirmwareFinished());
        QCOMPARE(bar->format(), QStringLiteral("%p%"));
        QVERIFY(!g_debug_lines.filter(QStringLiteral("Firmware upload took ")).isEmpty());
    }

    void cancelFromTheButton_data() {
        QTest::addColumn<bool>("firmware");
        QTest::addColumn<bool>("legacy");
        QTest::newRow("firmware, current unit") << true << false;
        QTest::newRow("firmware, legacy unit") << true << true;
        QTest::newRow("airports, current unit") << false << false;
        QTest::newRow("airports, legacy unit") << false << true;
    }

    void cancelFromTheButton() {
        QFETCH(bool, firmware);
        QFETCH(bool, legacy);
        emu_hid::unit().set_generation(legacy ? emu::Generation::Legacy : emu::Generation::Current);
        openWindow();
        auto* cancel = find<QPushButton>("pushButton_cancel_update");
        auto* other = find<QPushButton>("pushButton_cancel_airport");
        if (!firmware) {
            std::swap(cancel, other);
        }
        QVERIFY(!cancel->isEnabled());
        const Bytes bytes = firmware ? transfer_test::firmware_image(64 * 2000, 8)
                                     : transfer_test::random_bytes(64 * 2000, 9);
        startSlowUpload(firmware, bytes);
        QVERIFY(cancel->isEnabled());
        QVERIFY(!other->isEnabled());
        cancel->click();
        QVERIFY(!cancel->isEnabled());
        QVERIFY(firmware ? waitFirmwareFinished() : waitAirportFinished());
        const QString cause = QString::fromUtf8(upload_result_text(UPLOAD_CANCELLED));
        QCOMPARE(status(),
                 firmware ? QStringLiteral("Error: Firmware update failed: ") + cause
                          : QStringLiteral("Error: Airport database transfer failed: ") + cause);
        QVERIFY(!cancel->isEnabled());
        // Stopped well before the end, and the link is free at once.
        QVERIFY(emu_hid::unit().flash_read(firmware ? kBank1Address : 0,
                                           static_cast<uint32_t>(bytes.size())) != bytes);
        emu_hid::set_latency_us(0);
        find<QPushButton>("pushButton_load")->click();
        QCOMPARE(status(), QStringLiteral("Configuration successfully loaded from device"));

        if (firmware) {
            QVERIFY(find<QLabel>("label_firmware_summary")
                        ->text()
                        .contains(QStringLiteral("incomplete image")));
            BoxReply reply;
            reply.button = QStringLiteral("Cancel");
            answerBox(&reply);
            find<QPushButton>("pushButton_reboot")->click();
            QVERIFY2(reply.informative.contains(QStringLiteral("did not complete")),
                     qPrintable(reply.informative));
            QCOMPARE(emu_hid::unit().reboot_count(), 0u);
        }
    }

    void closeDuringATransfer_data() {
        QTest::addColumn<QString>("answer");
        QTest::newRow("keep running") << QStringLiteral("Keep Running");
        QTest::newRow("stop and close") << QStringLiteral("Stop and Close");
    }

    void closeDuringATransfer() {
        QFETCH(QString, answer);
        openWindow();
        window->show();
        const Bytes image = transfer_test::firmware_image(64 * 1500, 10);
        startSlowUpload(true, image);
        BoxReply reply;
        reply.button = answer;
        answerBox(&reply);
        QVERIFY(!window->close());
        QCOMPARE(reply.text, QStringLiteral("A transfer is running. Keep it running?"));
        if (answer == QStringLiteral("Keep Running")) {
            QVERIFY(window->isVisible());
            QVERIFY(waitFirmwareFinished());
            QCOMPARE(status(), QStringLiteral("Firmware update completed"));
            QCOMPARE(emu_hid::unit().flash_read(kBank1Address, static_cast<uint32_t>(image.size())),
                     image);
            QVERIFY(window->isVisible());
            return;
        }
        // Hidden only once the worker has let go of the link.
        QVERIFY(window->isVisible() || find<QPushButton>("pushButton_browse")->isEnabled());
        QVERIFY(QTest::qWaitFor([this]() { return !window->isVisible(); }, 30000));
        QVERIFY(find<QPushButton>("pushButton_browse")->isEnabled());
        const size_t frames = emu_hid::unit().received().size();
        QTest::qWait(100);
        QCOMPARE(emu_hid::unit().received().size(), frames);
        QVERIFY(emu_hid::unit().flash_read(kBank1Address, static_cast<uint32_t>(image.size())) !=
                image);
    }

    // Closing the window during an upload: the destructor returns only after the worker has
    // stopped using the link, and here the upload finishes within the wait.
    void closingDuringATransfer() {
        openWindow();
        const Bytes image = transfer_test::firmware_image(64 * 200, 14);
        QVERIFY(answerFileDialog("pushButton_browse", makeFile("image.bin", image)));
        emu_hid::set_latency_us(2000);
        find<QPushButton>("pushButton_start_update")->click();
        QVERIFY(QTest::qWaitFor(
            [this]() { return status().startsWith(QStringLiteral("Uploading: ")); }, 30000));
        QVERIFY(!find<QPushButton>("pushButton_browse")->isEnabled());

        window.reset();
        const size_t frames_at_close = emu_hid::unit().received().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QCOMPARE(emu_hid::unit().received().size(), frames_at_close);
        // The wait did not run out: the whole image arrived before the link was closed.
        QCOMPARE(emu_hid::unit().flash_read(kBank1Address, static_cast<uint32_t>(image.size())),
                 image);
        QVERIFY(!emu_hid::device_open());
        closeWindow();
    }
};

EFIS_QTEST(TransferWindowTest);
#include "transfer_window_test.moc"
