#include "gui/trend_tools.h"

#include "core/readings/readings_csv.h"
#include "gui/chart_window.h"
#include "gui/main_window.h"

#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>

#include <utility>

namespace kv {

namespace {
const QString kRecord = QStringLiteral("Record Readings to CSV\u2026");
const QString kStop = QStringLiteral("Stop Recording");
const QString kCsvFilter = QStringLiteral("CSV files (*.csv)|*.csv|All files (*.*)|*.*");
}  // namespace

TrendTools::TrendTools(Form1& window) : QObject(&window), window_(window) {
    QMenu* tools = window.Tools;
    TrendChart = tools->addAction(QStringLiteral("Trend Chart"));
    TrendChart->setObjectName(QStringLiteral("TrendChart"));
    RecordReadings = tools->addAction(kRecord);
    RecordReadings->setObjectName(QStringLiteral("RecordReadings"));
    OpenRecording = tools->addAction(QStringLiteral("Open Recording\u2026"));
    OpenRecording->setObjectName(QStringLiteral("OpenRecording"));

    recordingLabel = new QLabel(window.menuBar());
    recordingLabel->setObjectName(QStringLiteral("recordingLabel"));
    recordingLabel->setStyleSheet(
        QStringLiteral("QLabel { color: #d00000; font-weight: bold; padding: 0 6px; }"));
    recordingLabel->hide();
    window.menuBar()->setCornerWidget(recordingLabel, Qt::TopRightCorner);

    elapsedTimer_ = window.platform().createTimer();
    elapsedTimer_->setInterval(1000);
    elapsedTimer_->onTimer = [this] { showElapsed(); };
    failureTimer_ = window.platform().createTimer();
    failureTimer_->setInterval(0);
    failureTimer_->onTimer = [this] {
        failureTimer_->setEnabled(false);
        const QString text = std::exchange(failure_, QString());
        if (!text.isEmpty())
            window_.platform().messageBox(&window_, text);
    };

    connect(TrendChart, &QAction::triggered, this, [this] { TrendChart_Click(); });
    connect(RecordReadings, &QAction::triggered, this, [this] { RecordReadings_Click(); });
    connect(OpenRecording, &QAction::triggered, this, [this] { OpenRecording_Click(); });
    connect(window.frameFeed, &FrameFeed::frameReceived, this,
            [this](const FeedFrame& frame) { frameReceived(frame); });
    connect(window.frameFeed, &FrameFeed::linkChanged, this, [this](bool up, qint64) {
        if (!up)
            history_.markGap();
    });
}

TrendTools::~TrendTools() = default;

void TrendTools::frameReceived(const FeedFrame& frame) {
    history_.append(frame, window_.platform().steadyMs());
    if (recorder_.recording()) {
        QString reason;
        if (!recorder_.record(frame, &reason)) {
            const QString path = recorder_.path();
            stopRecording();
            // Said once the receive handler has returned: a modal box opened inside it would hold
            // back every frame, and the watchdog would take the link down.
            failure_ = QStringLiteral(
                           "Recording stopped: could not write to %1: %2. "
                           "The readings recorded before this are kept.")
                           .arg(path, reason);
            failureTimer_->setEnabled(true);
        }
    }
    if (chart_)
        chart_->framesAdded();
}

void TrendTools::TrendChart_Click() {
    if (!chart_)
        chart_ = new ChartWindow(window_.platform(), history_, &window_);
    bringToFront(chart_);
    chart_->setFollowing(chart_->following());
}

void TrendTools::RecordReadings_Click() {
    if (recorder_.recording()) {
        stopRecording();
        return;
    }
    FileDialogOptions options;
    options.title = QStringLiteral("Record Readings to CSV");
    options.filter = kCsvFilter;
    options.fileName = QDateTime::fromMSecsSinceEpoch(window_.platform().nowMs())
                           .toString(QStringLiteral("'kestrovar-readings-'yyyyMMdd-HHmmss'.csv'"));
    const std::optional<QString> path =
        window_.platform().fileDialog(&window_, FileDialogKind::Save, options);
    if (path)
        startRecording(*path);
}

void TrendTools::startRecording(const QString& path) {
    QString reason;
    if (!recorder_.start(path, window_.platform().nowMs(), &reason)) {
        window_.platform().messageBox(
            &window_, asSentence(QStringLiteral("Could not record readings to %1: %2").arg(path, reason)));
        return;
    }
    RecordReadings->setText(kStop);
    showElapsed();
    recordingLabel->show();
    elapsedTimer_->setEnabled(true);
}

void TrendTools::stopRecording() {
    recorder_.stop();
    elapsedTimer_->setEnabled(false);
    recordingLabel->hide();
    RecordReadings->setText(kRecord);
}

void TrendTools::showElapsed() {
    const qint64 s = std::max<qint64>(0, (window_.platform().nowMs() - recorder_.startedMs()) / 1000);
    recordingLabel->setText(QStringLiteral("REC %1:%2:%3")
                                .arg(s / 3600)
                                .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                                .arg(s % 60, 2, 10, QLatin1Char('0')));
}

void TrendTools::OpenRecording_Click() {
    FileDialogOptions options;
    options.title = QStringLiteral("Open Recording");
    options.filter = kCsvFilter;
    const std::optional<QString> path =
        window_.platform().fileDialog(&window_, FileDialogKind::Open, options);
    if (!path)
        return;
    std::unique_ptr<FrameHistory> recording = loadRecording(*path);
    if (!recording)
        return;
    auto* review =
        new ChartWindow(window_.platform(), std::move(recording), QFileInfo(*path).fileName(), &window_);
    review->show();
}

std::unique_ptr<FrameHistory> TrendTools::loadRecording(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        window_.platform().messageBox(
            &window_, asSentence(QStringLiteral("Could not open %1: %2").arg(path, file.errorString())));
        return nullptr;
    }
    auto recording = std::make_unique<FrameHistory>(0, 0);
    ReadingsCsvReader reader(file);
    std::vector<FeedFrame> frames;
    const qint64 size = std::max<qint64>(file.size(), 1);
    QProgressDialog progress(QStringLiteral("Reading %1\u2026").arg(QFileInfo(path).fileName()),
                             QStringLiteral("Cancel"), 0, 1000, &window_);
    progress.setWindowTitle(QStringLiteral("Open Recording"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    for (;;) {
        frames.clear();
        const ReadingsCsvReader::Status status = reader.read(frames, 20000);
        for (const FeedFrame& f : frames)
            recording->append(f);
        if (status == ReadingsCsvReader::Status::Failed) {
            progress.reset();
            window_.platform().messageBox(
                &window_,
                asSentence(
                    QStringLiteral("%1 is not a readings recording: %2").arg(path, reader.errorText())));
            return nullptr;
        }
        if (status == ReadingsCsvReader::Status::Done)
            break;
        progress.setValue(int(file.pos() * 1000 / size));
        window_.platform().doEvents();
        if (progress.wasCanceled())
            return nullptr;
    }
    progress.reset();
    recording->fitGapsToInterval();
    if (!reader.note().isEmpty())
        window_.platform().messageBox(&window_, QStringLiteral("%1: %2.").arg(path, reader.note()));
    return recording;
}

}  // namespace kv
