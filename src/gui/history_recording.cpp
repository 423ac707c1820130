// The calibration history from the main window: every Load and Save leaves its records as soon as
// what they hold has crossed the line, and Tools > Calibration History... shows them.
#include "core/calibration/editing_rules.h"
#include "core/version.h"
#include "gui/history_window.h"
#include "gui/main_window.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include <utility>

namespace kv {

namespace {

QString programName() {
    return QStringLiteral("kestrovar-link ") + programVersion();
}

}  // namespace

void Form1::buildHistoryMenu() {
    if (!Tools->actions().isEmpty()) {
        Tools->addSeparator();
    }
    UnitUnderCalibration = Tools->addAction(QStringLiteral("Unit Under Calibration…"));
    UnitUnderCalibration->setObjectName(QStringLiteral("UnitUnderCalibration"));
    connect(UnitUnderCalibration, &QAction::triggered, this, [this] { UnitUnderCalibration_Click(); });
    CalibrationHistory = Tools->addAction(QStringLiteral("Calibration History…"));
    CalibrationHistory->setObjectName(QStringLiteral("CalibrationHistory"));
    connect(CalibrationHistory, &QAction::triggered, this, [this] { CalibrationHistory_Click(); });
    unitCorner = new QLabel(menuBar());
    unitCorner->setTextFormat(Qt::PlainText);  // a tag is shown as typed, "<b>" and all
    unitCorner->setObjectName(QStringLiteral("unitCorner"));
    unitCorner->setContentsMargins(0, 0, 8, 0);
    menuBar()->setCornerWidget(unitCorner, Qt::TopRightCorner);
    unitCorner->hide();
}

void Form1::UnitUnderCalibration_Click() {
    const std::optional<QString> tag =
        platform_.inputText(this, QStringLiteral("Unit Under Calibration"),
                            QStringLiteral("Tag of the unit under calibration (empty for none):"), unitTag_);
    if (tag && holdsControlCharacter(*tag)) {
        platform_.messageBox(this, QStringLiteral("The unit tag was not changed: a tag cannot hold control "
                                                  "characters such as a line break."));
        return;
    }
    if (tag) {
        setUnitTag(tag->trimmed());
    }
}

void Form1::setUnitTag(const QString& tag) {
    unitTag_ = tag;
    unitCorner->setText(tag.isEmpty() ? QString() : QStringLiteral("Unit: %1").arg(tag));
    unitCorner->setVisible(!tag.isEmpty());
}

void Form1::CalibrationHistory_Click() {
    if (!frmHistory) {
        frmHistory = new HistoryWindow(*this);  // a window of its own, deleted with the main window
    }
    frmHistory->reload();
    bringToFront(frmHistory);
}

void Form1::setHistoryDirectory(const QString& location) {
    history_ = HistoryStore(location);
    if (frmHistory) {
        frmHistory->reload();
    }
}

CalibrationTexts Form1::deviceTexts() const {
    CalibrationTexts texts;
    texts.col = colDevice;
    texts.row = rowDevice;
    texts.matrix = matrixDevice;
    texts.delay = numberText(delayDevice);  // as the receive handler writes it into Text7
    texts.active = activeDevice;
    return texts;
}

HistoryEntry Form1::historyEntry(const QString& operation, const QString& result,
                                 const CalibrationTexts& values) const {
    HistoryEntry entry;
    entry.timeMs = platform_.nowMs();
    entry.operation = operation;
    entry.result = result;
    entry.program = programName();
    entry.portPath = platform_.portSystemName(MSComm1->CommPort());
    const AdapterInfo adapter = platform_.portAdapter(MSComm1->CommPort());
    entry.adapterName = adapter.stableName;
    entry.adapterSerial = adapter.serialNumber;
    entry.unit = unitTag_;
    entry.values = values;
    return entry;
}

void Form1::keepRecord(const HistoryEntry& entry) {
    const HistoryStore::Appended appended = history_.append(entry);
    if (appended.error.isEmpty()) {
        ++recordsKept_;
    } else {
        recordsLost_ << entry.operation;
        if (recordProblem_.isEmpty()) {
            recordProblem_ = appended.error;
        }
        if (onRecordKept && !appended.id.isEmpty()) {
            onRecordKept(appended.id);
        }
    }
    if (frmHistory) {
        frmHistory->reload();
    }
}

void Form1::sayRecordProblem(const QString& exchange) {
    const QString problem = std::exchange(recordProblem_, QString());
    const QStringList lost = std::exchange(recordsLost_, QStringList());
    const int kept = std::exchange(recordsKept_, 0);
    if (!lost.isEmpty() && kept == 0) {
        platform_.messageBox(this,
                             QStringLiteral("The calibration history could not keep a record of this %1: %2.")
                                 .arg(exchange, problem));
    } else if (!lost.isEmpty()) {
        // Some were kept: the message names the ones that were not.
        platform_.messageBox(this,
                             QStringLiteral("The calibration history could not keep the %1 record of this "
                                            "%2 (the others were kept): %3.")
                                 .arg(lost.join(QStringLiteral(" and ")), exchange, problem));
    }
}

void Form1::recordLoad(bool imageArrived) {
    if (imageArrived) {
        keepRecord(historyEntry(kHistoryLoad, kHistoryReceived, deviceTexts()));
    }
    sayRecordProblem(QStringLiteral("load"));
}

void Form1::recordSaveSent(const CalibrationTexts& sent, const QString& result) {
    keepRecord(historyEntry(kHistorySaveSent, result, sent));
}

void Form1::recordSaveReadBack(bool verified) {
    keepRecord(
        historyEntry(kHistorySaveReadBack, verified ? kHistoryVerified : kHistoryFailed, deviceTexts()));
}

}  // namespace kv
