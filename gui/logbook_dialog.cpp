#include "gui/logbook_dialog.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "settings/file_write.h"
#include "settings/logbook.h"
#include "settings/word_text.h"

LogbookDialog::LogbookDialog(const QString& dir, uint32_t serial, QWidget* parent)
    : QDialog(parent), directory(dir) {
    setObjectName(QStringLiteral("logbook_dialog"));
    resize(980, 480);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Unit:"), this));
    units = new QComboBox(this);
    units->setObjectName(QStringLiteral("logbook_units"));
    const std::vector<uint32_t> serials = logbook_serials(dir);
    for (const uint32_t s : serials) {
        units->addItem(serial_text(s), QVariant::fromValue(s));
    }
    top->addWidget(units);
    top->addStretch(1);
    layout->addLayout(top);

    table = new QTableWidget(0, 4, this);
    table->setObjectName(QStringLiteral("logbook_table"));
    table->setHorizontalHeaderLabels({QStringLiteral("Time (UTC)"), QStringLiteral("Action"),
                                      QStringLiteral("Outcome"), QStringLiteral("Changes")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(true);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table, 1);
    note = new QLabel(this);
    note->setObjectName(QStringLiteral("logbook_note"));
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* csv =
        buttons->addButton(QStringLiteral("Export CSV…"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("logbook_export_csv"));
    connect(csv, &QPushButton::clicked, this, [this]() { exportClicked(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    int start = units->findData(QVariant::fromValue(serial));
    if (start < 0 && units->count() > 0) {
        start = 0;
    }
    if (start >= 0) {
        units->setCurrentIndex(start);
        showUnit(units->itemData(start).toUInt());
    } else {
        setWindowTitle(QStringLiteral("Unit Logbook"));
        note->setText(
            QStringLiteral("No unit's logbook in %1 yet.").arg(QDir::toNativeSeparators(dir)));
    }
    connect(units, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { showUnit(units->itemData(index).toUInt()); });
}

void LogbookDialog::showUnit(uint32_t serial) {
    shown = serial;
    setWindowTitle(QStringLiteral("Unit Logbook — %1").arg(serial_text(serial)));
    const QString path = logbook_path(directory, serial);
    const LogbookRead read = logbook_read(path);
    entries = read.entries;
    QStringList notes;
    if (!read.ok) {
        notes << QStringLiteral("Error: %1 could not be read: %2").arg(path, read.error);
    }
    if (read.torn_last) {
        notes << QStringLiteral(
            "The last line of the logbook was cut short (written when the "
            "tool stopped) and is not shown.");
    }
    if (read.bad_lines > 0) {
        notes << QStringLiteral("%1 line(s) of the logbook are not entries and are not shown.")
                     .arg(read.bad_lines);
    }
    notes << QStringLiteral("%1 entries in %2")
                 .arg(entries.size())
                 .arg(QDir::toNativeSeparators(path));
    note->setText(notes.join(QLatin1Char(' ')));

    table->setRowCount(static_cast<int>(entries.size()));
    int row = 0;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it, ++row) {
        const QJsonObject& e = *it;
        const QDateTime time =
            QDateTime::fromString(e.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
        const QStringList cells = {
            time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                           : e.value(QStringLiteral("time")).toString(),
            logbook_action_text(e), logbook_outcome_text(e), logbook_changes_text(e)};
        // Who did it, with what and over which link.
        const QString who = QStringLiteral("%1 with efis-config %2 (%3); firmware %4 over %5")
                                .arg(e.value(QStringLiteral("user")).toString(),
                                     e.value(QStringLiteral("tool_version")).toString(),
                                     e.value(QStringLiteral("front_end")).toString(),
                                     e.value(QStringLiteral("firmware")).toString(),
                                     e.value(QStringLiteral("link")).toString());
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells.at(c));
            item->setToolTip(who);
            table->setItem(row, c, item);
        }
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    table->resizeRowsToContents();
}

bool LogbookDialog::exportCsv(const QString& path, QString* error) const {
    std::vector<QJsonObject> newestFirst(entries.rbegin(), entries.rend());
    return write_file_whole(path, logbook_csv(newestFirst), error);
}

void LogbookDialog::exportClicked() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export Logbook"),
        QDir::home().filePath(QStringLiteral("logbook-%1.csv").arg(serial_text(shown))),
        QStringLiteral("CSV Files (*.csv);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    QString error;
    if (!exportCsv(path, &error)) {
        QMessageBox::warning(this, QStringLiteral("Export Logbook"),
                             QStringLiteral("Could not write %1: %2").arg(path, error));
    }
}
