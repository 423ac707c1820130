// The Calibration History window: the records of the history, newest first, and the values of the
// selected one in the shape of the editor, with the cells that differ from the editor marked. A
// record goes back into the editor as a loaded file does, or out to a .cal file anywhere.
#pragma once

#include "core/history_store.h"

#include <QWidget>

#include <array>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace kv {

class Form1;
class HistoryModel;

class HistoryWindow : public QWidget {
    Q_OBJECT
  public:
    explicit HistoryWindow(Form1& editor);

    // Reads the history again; the selected record stays selected, otherwise the newest is.
    void reload();
    const std::vector<HistoryRecord>& records() const;
    // Selects the record in row `row` of the table (0 is the newest).
    void select(int row);
    const HistoryRecord* selected() const;

    void LoadIntoEditor_Click();
    void Export_Click();
    void Certificate_Click();  // in certificate_window.cpp

    QTableView* table{};
    std::array<QLineEdit*, 5> col{};
    std::array<QLineEdit*, 6> row{};
    std::array<QLineEdit*, 30> matrix{};
    QLineEdit* delay{};
    QLineEdit* active{};
    QLabel* note{};  // what is wrong with a damaged record
    QPushButton* loadIntoEditor{};
    QPushButton* exportRecord{};
    QPushButton* certificate{};

  private:
    void showSelected();
    void updateMarks();
    // The selected record's .cal, when it still holds the record's values; otherwise a message.
    std::optional<QByteArray> usableFile(const HistoryRecord& record);

    Form1& editor_;
    HistoryModel* model_{};
};

}  // namespace kv
