// File > Unit Logbook: the entries of one unit's logbook, newest first, any unit's logbook on
// disk to choose from, and their export as CSV.
#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <vector>

class QComboBox;
class QLabel;
class QTableWidget;

class LogbookDialog : public QDialog {
    Q_OBJECT

public:
    // Shows the logbook of `serial` (the connected unit) when it has one, else the first on
    // disk.
    LogbookDialog(const QString& dir, uint32_t serial, QWidget* parent = nullptr);

    // The unit whose logbook is shown (0xFFFFFFFF with none on disk).
    uint32_t shownSerial() const { return shown; }
    // Writes the entries shown as CSV; false with *error otherwise.
    bool exportCsv(const QString& path, QString* error) const;

private:
    void showUnit(uint32_t serial);
    void exportClicked();

    QString directory;
    uint32_t shown = 0xFFFFFFFFu;
    std::vector<QJsonObject> entries;  // oldest first, as in the file
    QComboBox* units = nullptr;
    QTableWidget* table = nullptr;
    QLabel* note = nullptr;
};
