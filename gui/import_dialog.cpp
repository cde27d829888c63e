#include "gui/import_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "EFIS_shared/get_set.h"
#include "settings/calibration_elements.h"
#include "settings/word_text.h"

namespace {

QString calibrationText(const SettingsFile& file) {
    SENSOR_CALIB_t calibration = *file.calibration;
    QStringList lines;
    for (const CalibrationElement& element : calibration_elements()) {
        const bool unread =
            std::find(file.calibration_unread.begin(), file.calibration_unread.end(),
                      static_cast<int>(element.index)) != file.calibration_unread.end();
        const uint32_t word = calib_get_value(&calibration, element.index);
        const QString value = unread             ? QStringLiteral("not read")
                              : element.is_float ? float_text(word)
                                                 : hex_word(word);
        lines << QStringLiteral("%1 = %2").arg(QLatin1String(element.name), value);
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

ImportDialog::ImportDialog(const QString& fileName, const SettingsFile& file,
                           const std::vector<SettingDifference>& differences,
                           const QStringList& warnings, bool otherUnit, QWidget* parent)
    : QDialog(parent), differences_(differences), table_(new QTableWidget(this)) {
    setObjectName(QStringLiteral("dialog_import_settings"));
    setWindowTitle(QStringLiteral("Import Settings"));
    auto* layout = new QVBoxLayout(this);

    auto* intro = new QLabel(
        QStringLiteral("%1 was written %2 from unit %3. %4 setting(s) differ from what the unit "
                       "holds. Checked values go into the form and are marked as edits; "
                       "nothing is sent until you press Update.")
            .arg(fileName,
                 file.header.written.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")),
                 serial_text(file.header.serial_number))
            .arg(differences.size()),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    if (!warnings.isEmpty()) {
        auto* warning = new QLabel(warnings.join(QLatin1Char('\n')), this);
        warning->setObjectName(QStringLiteral("label_import_warnings"));
        warning->setWordWrap(true);
        warning->setStyleSheet(QStringLiteral("color: #b35900;"));
        layout->addWidget(warning);
    }

    table_->setObjectName(QStringLiteral("table_import_differences"));
    table_->setColumnCount(3);
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Setting"), QStringLiteral("On the unit"), QStringLiteral("In the file")});
    table_->setRowCount(static_cast<int>(differences.size()));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    for (size_t i = 0; i < differences.size(); ++i) {
        const SettingDifference& d = differences[i];
        const int row = static_cast<int>(i);
        auto* name = new QTableWidgetItem(d.name);
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        name->setCheckState(d.identity && otherUnit ? Qt::Unchecked : Qt::Checked);
        if (d.identity && otherUnit) {
            name->setToolTip(QStringLiteral(
                "This file comes from another unit: its identity is not taken unless you check "
                "it."));
        }
        table_->setItem(row, 0, name);
        table_->setItem(row, 1, new QTableWidgetItem(d.on_unit));
        table_->setItem(row, 2, new QTableWidgetItem(d.in_file));
    }
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_, 1);

    if (file.calibration) {
        auto* group = new QGroupBox(
            QStringLiteral("Calibration in the file (shown for your records, never written to "
                           "the unit)"),
            this);
        auto* groupLayout = new QVBoxLayout(group);
        auto* text = new QPlainTextEdit(calibrationText(file), group);
        text->setObjectName(QStringLiteral("text_import_calibration"));
        text->setReadOnly(true);
        groupLayout->addWidget(text);
        group->setCheckable(true);
        group->setChecked(false);
        text->setVisible(false);
        connect(group, &QGroupBox::toggled, text, &QWidget::setVisible);
        layout->addWidget(group);
    }

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* take = buttons->addButton(QStringLiteral("Put Checked Values into the Form"),
                                           QDialogButtonBox::AcceptRole);
    take->setObjectName(QStringLiteral("button_import_accept"));
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(720, 480);
}

std::vector<size_t> ImportDialog::checkedSettings() const {
    std::vector<size_t> checked;
    for (size_t i = 0; i < differences_.size(); ++i) {
        if (table_->item(static_cast<int>(i), 0)->checkState() == Qt::Checked) {
            checked.push_back(differences_[i].setting);
        }
    }
    return checked;
}
