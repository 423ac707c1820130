// The Tools menu's readings items: the trend chart, recording to CSV and opening a recording.
// It keeps every frame since start-up whether or not the chart is open, and builds the chart
// window (and so loads the plotting library's code) only when it is first shown.
#pragma once

#include "core/readings/frame_history.h"
#include "core/readings/readings_recorder.h"
#include "gui/chart_window.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QLabel;

namespace kv {

class Form1;
class IntervalTimer;

class TrendTools : public QObject {
    Q_OBJECT
  public:
    explicit TrendTools(Form1& window);
    ~TrendTools() override;

    void TrendChart_Click();
    void RecordReadings_Click();  // "Record Readings to CSV…" or "Stop Recording"
    void OpenRecording_Click();
    // Records into path from now on; a message when the file cannot be created.
    void startRecording(const QString& path);

    // Reads a recording into a new history; nothing when it is cancelled or bad (a message
    // says which line).
    std::unique_ptr<FrameHistory> loadRecording(const QString& path);

    const FrameHistory& history() const { return history_; }
    const ReadingsRecorder& recorder() const { return recorder_; }
    ChartWindow* chart() const { return chart_; }

    QAction* TrendChart{};
    QAction* RecordReadings{};
    QAction* OpenRecording{};
    QLabel* recordingLabel{};  // the menu bar's corner: a red "REC" and the elapsed time

  private:
    void frameReceived(const FeedFrame& frame);
    void stopRecording();
    void showElapsed();

    Form1& window_;
    FrameHistory history_;
    ReadingsRecorder recorder_;
    QPointer<ChartWindow> chart_;
    std::unique_ptr<IntervalTimer> elapsedTimer_;
    std::unique_ptr<IntervalTimer> failureTimer_;  // says why a recording stopped, after the frame
    QString failure_;
};

}  // namespace kv
