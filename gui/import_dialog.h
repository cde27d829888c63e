// The comparison shown before a settings file changes anything: one row per setting that
// differs between the unit and the file, each with a check box.
#pragma once

#include <QDialog>
#include <vector>

#include "settings/settings_compare.h"
#include "settings/settings_file.h"

class QTableWidget;

class ImportDialog : public QDialog {
public:
    // Identity settings start unchecked when the file comes from another unit.
    ImportDialog(const QString& fileName, const SettingsFile& file,
                 const std::vector<SettingDifference>& differences, const QStringList& warnings,
                 bool otherUnit, QWidget* parent);

    // The settings (into settings_table()) whose rows are checked.
    std::vector<size_t> checkedSettings() const;

private:
    std::vector<SettingDifference> differences_;
    QTableWidget* table_;
};
