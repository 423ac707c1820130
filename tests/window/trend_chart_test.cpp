// Tools > Trend Chart, Record Readings to CSV… and Open Recording… on the live window, in
// virtual time against the simulated device.
#include "core/readings_csv.h"
#include "gui/chart_window.h"
#include "gui/plot_library.h"
#include "gui/trend_tools.h"
#include "support/scripted_device.h"
#include "support/window_harness.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kv::test {
namespace {

TEST(TrendChart, AFrameReachesTheChartAndTheRecordingUntilAWriteFails) {
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("readings"));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/run.csv");

    WindowHarness h;
    h.platform.presentPorts = {1};
    Form1& w = h.start();
    EXPECT_EQ(w.Tools->actions().mid(0, 3),
              (QList<QAction*>{w.trendTools->TrendChart, w.trendTools->RecordReadings,
                               w.trendTools->OpenRecording}));
    EXPECT_EQ(w.Tools->actions().back()->text(), "Calibration History…");
    w.comp_Click(1);
    ScriptedDevice device(h.platform);
    TrendTools& tools = *w.trendTools;
    h.platform.dialogAnswers.push_back(path);
    tools.RecordReadings->trigger();
    EXPECT_EQ(h.platform.dialogs.back().options.fileName,
              QStringLiteral("kestrovar-readings-%1.csv")
                  .arg(QDateTime::fromMSecsSinceEpoch(h.platform.nowMs())
                           .toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    EXPECT_EQ(tools.RecordReadings->text(), QStringLiteral("Stop Recording"));
    w.Command1_Click();
    h.clock().advanceTo(1300);  // frames at about 30 and 730 ms
    EXPECT_EQ(tools.recordingLabel->text(), QStringLiteral("REC 0:00:01"));
    EXPECT_FALSE(tools.recordingLabel->isHidden());

    // Opened late, the chart still has every frame; each new one is drawn as it comes.
    tools.TrendChart->trigger();
    ChartWindow* chart = tools.chart();
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->windowTitle(), QStringLiteral("Trend Chart - KestroVar Link"));
    h.clock().advanceTo(2000);
    ASSERT_EQ(tools.history().size(), 3u);
    const HistoryFrame newest = tools.history().back();
    const std::vector<PlotPoint> input = chart->drawnPoints(inputVoltage);
    ASSERT_EQ(input.size(), 3u);
    EXPECT_EQ(input[2].value, double(newest.values[inputVoltage]));
    EXPECT_EQ(input[2].key, newest.timeMs / 1000.0);
    EXPECT_EQ(QString::number(newest.values[inputVoltage], 'f', 3) + "V", w.Text1->text());
    chart->hoverAt(newest.timeMs + 100);
    EXPECT_TRUE(
        chart->hoverText().contains(QStringLiteral("Input Voltage %1V").arg(w.Text1->text().chopped(1))));

    // The recording holds the same frames, in the shared CSV format.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray expected = readingsCsvHeader();
    for (std::size_t i = 0; i < 3; ++i) {
        const HistoryFrame& f = tools.history().at(i);
        expected += readingsCsvRow({f.timeMs, f.values, f.correctionActive});
    }
    EXPECT_EQ(file.readAll(), expected);
    file.close();

    // The folder goes away: the recording stops with a message, and monitoring goes on while the
    // message is left open for three seconds.
    QDir(folder).removeRecursively();
    h.platform.messageHoldMs = 3000;
    h.clock().advanceTo(2700);
    h.platform.messageHoldMs = 0;
    EXPECT_EQ(h.platform.messageTexts(),
              QStringList{QStringLiteral("Recording stopped: could not write to %1: the file or its "
                                         "folder was removed. The readings recorded before this are "
                                         "kept.")
                              .arg(path)});
    EXPECT_EQ(tools.RecordReadings->text(), QStringLiteral("Record Readings to CSV\u2026"));
    EXPECT_TRUE(tools.recordingLabel->isHidden());
    EXPECT_EQ(w.Command1->text(), QStringLiteral("Disconnect"));
    EXPECT_EQ(tools.history().size(), 8u);  // frames at 2130 to 5030 ms were handled

    // The wall clock steps back an hour, then forward 49 hours: the history neither piles up nor
    // ages out, and the axis and the hover line read the wall clock.
    const FrameHistory& live = tools.history();
    h.platform.wallClockBaseMs -= 3'600'000;
    h.clock().advanceBy(1400);
    h.platform.wallClockBaseMs += 49 * 3'600'000;
    h.clock().advanceBy(1400);
    ASSERT_EQ(live.size(), 12u);
    EXPECT_EQ(live.back().timeMs - live.at(7).timeMs, 2800);
    EXPECT_EQ(live.wallOffsetMs(), 48 * 3'600'000);
    const QString newestWall =
        QDateTime::fromMSecsSinceEpoch(live.back().wallMs).toString("yyyy-MM-dd HH:mm:ss");
    chart->hoverAt(live.back().timeMs);
    EXPECT_TRUE(chart->hoverText().startsWith(newestWall + "  Sensor Input Voltage"))
        << chart->hoverText().toStdString();
    chart->repaintNow();
    EXPECT_TRUE(chart->plot()->xAxis->tickVectorLabels().back().contains(newestWall.left(10)));

    // Minimised, the chart draws nothing; shown again, it catches up.
    chart->showMinimized();
    const std::size_t drawnBefore = chart->drawnPoints(inputVoltage).size();
    h.clock().advanceBy(1400);
    EXPECT_EQ(chart->drawnPoints(inputVoltage).size(), drawnBefore);
    chart->showNormal();
    EXPECT_EQ(chart->drawnPoints(inputVoltage).back().key, live.back().timeMs / 1000.0);

    // The same rows reviewed, and a file with a broken row named by its line.
    const QString review = dir.filePath(QStringLiteral("review.csv"));
    QFile out(review);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(expected);
    out.close();
    EXPECT_EQ(tools.loadRecording(review)->size(), 3u);
    ASSERT_TRUE(out.open(QIODevice::Append));
    out.write("2026-12-09T08:00:03.000+00:00,1.2,80\r\n");
    out.close();
    h.platform.dialogAnswers.push_back(review);
    tools.OpenRecording->trigger();
    EXPECT_EQ(
        h.platform.messageTexts().back(),
        QStringLiteral("%1 is not a readings recording: line 5: expected 8 fields, found 3").arg(review));

    // A recording taken every 5 s whose last row was cut short opens with every whole row
    // joined in one line.
    const QString slow = dir.filePath(QStringLiteral("slow.csv"));
    QFile slowFile(slow);
    ASSERT_TRUE(slowFile.open(QIODevice::WriteOnly));
    slowFile.write(readingsCsvHeader());
    for (int i = 0; i < 4; ++i)
        slowFile.write(readingsCsvRow(FeedFrame{h.platform.nowMs() + i * 5000, {1, 2, 3, 4, 5, 6}, true}));
    slowFile.write("2026-12-09T08:00:20.000+00:00,1.2,");
    slowFile.close();
    const std::unique_ptr<FrameHistory> slowRecording = tools.loadRecording(slow);
    EXPECT_EQ(h.platform.messageTexts().back(),
              QStringLiteral("%1: line 6, the last row, is incomplete and was left out.").arg(slow));
    ASSERT_EQ(slowRecording->size(), 4u);
    EXPECT_FALSE(slowRecording->back().gapBefore);  // one line, not four lone points
}

}  // namespace
}  // namespace kv::test
