// The Calibration History window: the records of the history, newest first (all, or one unit's),
// and the values of the selected one in the shape of the editor, with the cells that differ from the
// editor marked, or from the other record when two are selected. A record goes back into the editor
// as a loaded file does, or out to a .cal file anywhere. Records that are not as they were kept are
// listed as damaged.
#pragma once

#include "core/record/history_store.h"

#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
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
    // Selects the record in row `row` of the table (0 is the newest); `alsoRow` adds a second one
    // to compare with.
    void select(int row, int alsoRow = -1);
    const HistoryRecord* selected() const;
    // The other selected record the marks compare with; none when one record is selected.
    const HistoryRecord* comparedWith() const;
    // Shows only the records of one unit; empty for all.
    void showUnit(const QString& unit);

    void LoadIntoEditor_Click();
    void Export_Click();
    void Certificate_Click();  // in certificate_window.cpp

    QTableView* table{};
    std::array<QLineEdit*, 5> col{};
    std::array<QLineEdit*, 6> row{};
    std::array<QLineEdit*, 30> matrix{};
    QLineEdit* delay{};
    QLineEdit* active{};
    QComboBox* unitFilter{};  // "All units", then each unit's tag
    QLabel* note{};           // what is wrong with a damaged record; what the marks compare with
    QPushButton* loadIntoEditor{};
    QPushButton* exportRecord{};
    QPushButton* certificate{};

  private:
    void showSelected();
    void updateMarks();
    void applyFilter();
    // The selected record's .cal, when it still holds the record's values; otherwise a message.
    std::optional<QByteArray> usableFile(const HistoryRecord& record);

    Form1& editor_;
    HistoryModel* model_{};
    // Every record; the model holds those the filter lets through.
    std::shared_ptr<const std::vector<HistoryRecord>> all_ = std::make_shared<std::vector<HistoryRecord>>();
};

}  // namespace kv
