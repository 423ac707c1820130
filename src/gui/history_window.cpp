#include "gui/history_window.h"

#include "gui/main_window.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

namespace kv {

namespace {

QString localTime(qint64 timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString portAndAdapter(const HistoryEntry& entry) {
    QString text = entry.portPath;
    if (!entry.adapterName.isEmpty() && entry.adapterName != entry.portPath) {
        text += QStringLiteral(" (%1)").arg(entry.adapterName);
    }
    if (!entry.adapterSerial.isEmpty()) {
        text += QStringLiteral(", serial %1").arg(entry.adapterSerial);
    }
    return text;
}

}  // namespace

// The records as rows, built only for the rows on screen.
class HistoryModel : public QAbstractTableModel {
  public:
    using QAbstractTableModel::QAbstractTableModel;

    enum Column { Time, Operation, Result, Unit, Operator, Port, SameAs, Columns };

    // Shared with the window, which keeps every record: showing all of them copies none.
    void setRecords(std::shared_ptr<const std::vector<HistoryRecord>> records) {
        beginResetModel();
        shared_ = std::move(records);
        rowOf_.clear();
        rowOf_.reserve(qsizetype(list().size()));
        for (std::size_t i = 0; i < list().size(); ++i) {
            rowOf_.insert(list()[i].id, int(i));
        }
        endResetModel();
    }
    const std::vector<HistoryRecord>& records() const { return list(); }
    int rowOf(const QString& id) const { return rowOf_.value(id, -1); }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(list().size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : Columns; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
            return {};
        }
        static const char* const titles[] = {"Time",     "Operation",        "Result", "Unit",
                                             "Operator", "Port and adapter", "Same as"};
        return section >= 0 && section < Columns ? QString::fromLatin1(titles[section]) : QVariant();
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || std::size_t(index.row()) >= list().size()) {
            return {};
        }
        const HistoryRecord& record = list()[std::size_t(index.row())];
        if (role == Qt::ToolTipRole) {
            return record.damaged ? QStringLiteral("Damaged: %1").arg(record.damage) : record.id;
        }
        if (role != Qt::DisplayRole) {
            return {};
        }
        switch (index.column()) {
            case Time:
                return localTime(record.entry.timeMs);
            case Operation:
                return record.entry.operation;
            case Result:
                return record.damaged ? QStringLiteral("damaged") : record.entry.result;
            case Unit:
                return record.entry.unit;
            case Operator:
                return record.entry.operatorName.isEmpty()
                           ? QString()
                           : QStringLiteral("%1@%2").arg(record.entry.operatorName, record.entry.host);
            case Port:
                return portAndAdapter(record.entry);
            case SameAs: {
                const int row = rowOf(record.sameAsId);
                if (row < 0) {
                    return QString();
                }
                const HistoryEntry& earliest = list()[std::size_t(row)].entry;
                return QStringLiteral("%1 %2").arg(localTime(earliest.timeMs), earliest.operation);
            }
            default:
                return {};
        }
    }

  private:
    const std::vector<HistoryRecord>& list() const { return *shared_; }

    std::shared_ptr<const std::vector<HistoryRecord>> shared_ =
        std::make_shared<std::vector<HistoryRecord>>();
    QHash<QString, int> rowOf_;
};

HistoryWindow::HistoryWindow(Form1& editor) : QWidget(&editor, Qt::Window), editor_(editor) {
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("Calibration History - KestroVar Link"));

    model_ = new HistoryModel(this);
    table = new QTableView(this);
    table->setObjectName(QStringLiteral("records"));
    table->setModel(model_);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    const int charWidth = table->fontMetrics().horizontalAdvance(u'0');
    const int widths[] = {18, 13, 11, 10, 14, 26};
    for (int c = 0; c < 6; ++c) {
        table->setColumnWidth(c, widths[c] * charWidth);
    }
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { showSelected(); });
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { updateMarks(); });
    unitFilter = new QComboBox(this);
    unitFilter->setObjectName(QStringLiteral("unitFilter"));
    unitFilter->addItem(QStringLiteral("All units"));
    connect(unitFilter, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });

    // The values in the editor's shape: the column axis above the table, the row axis beside it.
    auto* values = new QGridLayout;
    values->setHorizontalSpacing(2);
    values->setVerticalSpacing(2);
    auto box = [this](const QString& name) {
        auto* b = new QLineEdit(this);
        b->setObjectName(name);
        b->setReadOnly(true);
        b->setAlignment(Qt::AlignCenter);
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
        return b;
    };
    values->addWidget(new QLabel(QStringLiteral("Dew point °F \\ MCT °F"), this), 0, 0);
    for (int c = 0; c < 5; ++c) {
        col[c] = box(QStringLiteral("historyCol%1").arg(c));
        values->addWidget(col[c], 0, c + 1);
    }
    for (int r = 0; r < 6; ++r) {
        row[r] = box(QStringLiteral("historyRow%1").arg(r));
        values->addWidget(row[r], r + 1, 0, Qt::AlignRight);
        for (int c = 0; c < 5; ++c) {
            matrix[5 * r + c] = box(QStringLiteral("historyMatrix%1").arg(5 * r + c));
            values->addWidget(matrix[5 * r + c], r + 1, c + 1);
        }
    }
    delay = box(QStringLiteral("historyDelay"));
    active = box(QStringLiteral("historyActive"));
    values->addWidget(new QLabel(QStringLiteral("Startup Time Delay (min):"), this), 7, 0, Qt::AlignRight);
    values->addWidget(delay, 7, 1);
    values->addWidget(new QLabel(QStringLiteral("Humidity Correction Active:"), this), 8, 0, Qt::AlignRight);
    values->addWidget(active, 8, 1);

    note = new QLabel(this);
    note->setObjectName(QStringLiteral("note"));
    note->setWordWrap(true);
    loadIntoEditor = new QPushButton(QStringLiteral("Load into Editor"), this);
    loadIntoEditor->setObjectName(QStringLiteral("loadIntoEditor"));
    exportRecord = new QPushButton(QStringLiteral("Export…"), this);
    exportRecord->setObjectName(QStringLiteral("exportRecord"));
    connect(loadIntoEditor, &QPushButton::clicked, this, [this] { LoadIntoEditor_Click(); });
    connect(&editor_, &Form1::transferChanged, this, [this] { showSelected(); });
    connect(exportRecord, &QPushButton::clicked, this, [this] { Export_Click(); });
    certificate = new QPushButton(QStringLiteral("Certificate…"), this);
    certificate->setObjectName(QStringLiteral("certificate"));
    connect(certificate, &QPushButton::clicked, this, [this] { Certificate_Click(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(loadIntoEditor);
    buttons->addWidget(exportRecord);
    buttons->addWidget(certificate);
    buttons->addStretch();
    auto* side = new QVBoxLayout;
    side->addLayout(values);
    side->addWidget(note);
    side->addStretch();
    side->addLayout(buttons);
    auto* filter = new QHBoxLayout;
    filter->addWidget(new QLabel(QStringLiteral("Unit:"), this));
    filter->addWidget(unitFilter);
    filter->addStretch();
    auto* listing = new QVBoxLayout;
    listing->addLayout(filter);
    listing->addWidget(table, 1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(listing, 1);
    layout->addLayout(side);
    resize(1260, 420);

    // The marks follow the editor as it is edited.
    std::vector<QLineEdit*> editorBoxes(editor_.Col.begin(), editor_.Col.end());
    editorBoxes.insert(editorBoxes.end(), editor_.Row.begin(), editor_.Row.end());
    editorBoxes.insert(editorBoxes.end(), editor_.Matrix.begin(), editor_.Matrix.end());
    editorBoxes.insert(editorBoxes.end(), {editor_.Text7, editor_.Text8});
    for (QLineEdit* editorBox : editorBoxes) {
        connect(editorBox, &QLineEdit::textChanged, this, [this] { updateMarks(); });
    }
    showSelected();
}

const std::vector<HistoryRecord>& HistoryWindow::records() const {
    return model_->records();
}

const HistoryRecord* HistoryWindow::selected() const {
    const int current = table->currentIndex().row();
    if (current < 0 || std::size_t(current) >= records().size()) {
        return nullptr;
    }
    return &records()[std::size_t(current)];
}

const HistoryRecord* HistoryWindow::comparedWith() const {
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    if (rows.size() != 2) {
        return nullptr;
    }
    const int current = table->currentIndex().row();
    const int other = rows[0].row() == current ? rows[1].row() : rows[0].row();
    return other >= 0 && std::size_t(other) < records().size() && other != current
               ? &records()[std::size_t(other)]
               : nullptr;
}

void HistoryWindow::reload() {
    QString error;
    all_ = std::make_shared<const std::vector<HistoryRecord>>(editor_.historyStore().records({}, &error));
    QSet<QString> seen;
    QStringList units;
    for (const HistoryRecord& record : *all_) {
        if (!record.entry.unit.isEmpty() && !seen.contains(record.entry.unit)) {
            seen.insert(record.entry.unit);
            units << record.entry.unit;
        }
    }
    units.sort();
    const QString shown = unitFilter->currentIndex() > 0 ? unitFilter->currentText() : QString();
    {
        const QSignalBlocker quiet(unitFilter);
        unitFilter->clear();
        unitFilter->addItem(QStringLiteral("All units"));
        unitFilter->addItems(units);
        unitFilter->setCurrentIndex(std::max(0, int(units.indexOf(shown)) + 1));
    }
    applyFilter();
    if (!error.isEmpty()) {
        note->setText(QStringLiteral("The history cannot be read: %1.").arg(error));
    }
}

void HistoryWindow::showUnit(const QString& unit) {
    unitFilter->setCurrentIndex(unit.isEmpty() ? 0 : std::max(0, unitFilter->findText(unit)));
}

void HistoryWindow::applyFilter() {
    const HistoryRecord* before = selected();
    const QString keep = before ? before->id : QString();
    const QString unit = unitFilter->currentIndex() > 0 ? unitFilter->currentText() : QString();
    if (unit.isEmpty()) {
        model_->setRecords(all_);
    } else {
        auto shown = std::make_shared<std::vector<HistoryRecord>>();
        for (const HistoryRecord& record : *all_) {
            if (record.entry.unit == unit) {
                shown->push_back(record);
            }
        }
        model_->setRecords(std::move(shown));
    }
    const int again = model_->rowOf(keep);
    select(again >= 0 ? again : 0);
}

void HistoryWindow::select(int rowIndex, int alsoRow) {
    if (alsoRow >= 0 && alsoRow < model_->rowCount()) {
        table->selectionModel()->select(model_->index(alsoRow, 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    if (rowIndex >= 0 && rowIndex < model_->rowCount()) {
        table->selectionModel()->setCurrentIndex(
            model_->index(rowIndex, 0),
            (alsoRow >= 0 ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                QItemSelectionModel::Rows);
        table->scrollTo(model_->index(rowIndex, 0));
    }
    showSelected();
}

void HistoryWindow::showSelected() {
    const HistoryRecord* record = selected();
    const CalibrationTexts texts = record ? record->entry.values : CalibrationTexts{};
    for (int i = 0; i < 5; ++i)
        col[i]->setText(texts.col[i]);
    for (int j = 0; j < 6; ++j)
        row[j]->setText(texts.row[j]);
    for (int k = 0; k < 30; ++k)
        matrix[k]->setText(texts.matrix[k]);
    delay->setText(texts.delay);
    active->setText(texts.active);
    const bool usable = record && !record->damaged;
    note->setText(record && record->damaged
                      ? QStringLiteral("This record is damaged: %1.").arg(record->damage)
                      : QString());
    // A Load or Save writes the editor and compares it with what came back: nothing else may.
    loadIntoEditor->setEnabled(usable && !editor_.transferring());
    exportRecord->setEnabled(usable);
    certificate->setEnabled(record != nullptr);  // a refusal says why
    updateMarks();
}

void HistoryWindow::updateMarks() {
    const HistoryRecord* record = selected();
    // Two records selected: the one shown against the other; otherwise against the editor.
    const HistoryRecord* other = comparedWith();
    const CalibrationTexts editor = editor_.editorTexts();
    const CalibrationTexts& against = other ? other->entry.values : editor;
    auto mark = [record](QLineEdit* shown, const QString& compared, const QColor& normal,
                         const QColor& differing) {
        Form1::setBackColor(shown, record && shown->text() != compared ? differing : normal);
    };
    const QColor axisNormal = colorFromBgr(kAxisNormal);
    const QColor axisDiffering = colorFromBgr(kAxisDiffering);
    const QColor cellNormal = editor_.windowBackground();
    const QColor cellDiffering = colorFromBgr(kCellDiffering);
    for (int i = 0; i < 5; ++i)
        mark(col[i], against.col[i], axisNormal, axisDiffering);
    for (int j = 0; j < 6; ++j)
        mark(row[j], against.row[j], axisNormal, axisDiffering);
    for (int k = 0; k < 30; ++k)
        mark(matrix[k], against.matrix[k], cellNormal, cellDiffering);
    mark(delay, against.delay, cellNormal, cellDiffering);
    mark(active, against.active, cellNormal, cellDiffering);
    if (record && !record->damaged) {
        note->setText(other ? QStringLiteral("Marked: what differs from the record of %1 (%2).")
                                  .arg(localTime(other->entry.timeMs), other->entry.operation)
                            : QString());
    }
}

std::optional<QByteArray> HistoryWindow::usableFile(const HistoryRecord& record) {
    // The listing found the record intact; it is read and checked again now, as it is about to be used.
    std::optional<QByteArray> content = editor_.historyStore().calibrationFile(record.id);
    if (!content || *content != calibrationFileContent(record.entry.values)) {
        editor_.platform().messageBox(
            this, QStringLiteral("This record is damaged or can no longer be read from the history."));
        return std::nullopt;
    }
    return content;
}

void HistoryWindow::LoadIntoEditor_Click() {
    const HistoryRecord* record = selected();
    if (!record || record->damaged || editor_.transferring()) {
        return;
    }
    if (const std::optional<QByteArray> content = usableFile(*record)) {
        editor_.loadCalibrationFile(*content);
    }
}

void HistoryWindow::Export_Click() {
    const HistoryRecord* record = selected();
    if (!record || record->damaged) {
        return;
    }
    const std::optional<QByteArray> content = usableFile(*record);
    if (!content) {
        return;
    }
    FileDialogOptions options;
    options.title = QStringLiteral("Export Calibration Record");
    options.filter = QStringLiteral("Calibration Settings (*.cal)|*.cal");
    const std::optional<QString> path = editor_.platform().fileDialog(this, FileDialogKind::Save, options);
    if (!path) {
        return;
    }
    FileError error;
    if (!editor_.platform().writeTextFileAtomically(*path, *content, &error)) {
        editor_.platform().messageBox(this,
                                      asSentence(QStringLiteral("The file \"%1\" could not be saved: %2")
                                                     .arg(QDir::toNativeSeparators(*path), error.message)));
        return;
    }
    editor_.platform().messageBox(this, QStringLiteral("File saved"));
}

}  // namespace kv
