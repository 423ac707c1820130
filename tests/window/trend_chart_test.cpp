// Tools > Trend Chart, Record Readings to CSV… and Open Recording… on the live window, in
// virtual time against the simulated device.
#include "core/readings/readings_csv.h"
#include "gui/chart_window.h"
#include "gui/correction_map_window.h"
#include "gui/plot_library.h"
#include "gui/trend_tools.h"
#include "gui/unit_switch.h"
#include "support/scripted_device.h"
#include "support/window_harness.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kv::test {
namespace {

TEST(TrendChart, AFrameReachesTheChartAndTheRecordingUntilAWriteFails) {
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(chartSettingsPath());  // hidden series and the unit from an earlier run
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
#ifdef Q_OS_WIN
    // Windows does not remove a file a program holds open: the recording goes on until stopped.
    EXPECT_FALSE(QDir(folder).removeRecursively());
    h.clock().advanceTo(2700);
    EXPECT_EQ(tools.RecordReadings->text(), QStringLiteral("Stop Recording"));
    tools.RecordReadings->trigger();
    EXPECT_TRUE(h.platform.messageTexts().isEmpty());
    h.clock().advanceTo(5400);  // the frames to about 5030 ms, as where the message is held open
#else
    ASSERT_TRUE(QDir(folder).removeRecursively());
    h.platform.messageHoldMs = 3000;
    h.clock().advanceTo(2700);
    h.platform.messageHoldMs = 0;
    EXPECT_EQ(h.platform.messageTexts(),
              QStringList{QStringLiteral("Recording stopped: could not write to %1: the file or its "
                                         "folder was removed. The readings recorded before this are "
                                         "kept.")
                              .arg(path)});
#endif
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

    // Minimised, the chart draws nothing; brought back by its menu item, it catches up.
    chart->showMinimized();
    const std::size_t drawnBefore = chart->drawnPoints(inputVoltage).size();
    h.clock().advanceBy(1400);
    EXPECT_EQ(chart->drawnPoints(inputVoltage).size(), drawnBefore);
    tools.TrendChart->trigger();
    EXPECT_FALSE(chart->isMinimized());
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
        QStringLiteral("%1 is not a readings recording: line 5: expected 8 fields, found 3.").arg(review));

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
    // The chart in °C: the temperatures drawn and hovered, and a °C recording opened.
    chart->setUnit(TemperatureUnit::Celsius);
    EXPECT_EQ(chart->drawnPoints(dewPoint).back().value,
              celsiusFromFahrenheit(tools.history().back().values[dewPoint]));
    EXPECT_EQ(chart->drawnPoints(inputVoltage).back().value,
              double(tools.history().back().values[inputVoltage]));
    chart->hoverAt(tools.history().back().timeMs);
    EXPECT_TRUE(chart->hoverText().contains(
        QStringLiteral("Dew Point %1\u00B0C")
            .arg(celsiusFromFahrenheit(tools.history().back().values[dewPoint]), 0, 'f', 1)));
    QByteArray celsius = readingsCsvHeader(TemperatureUnit::Celsius);
    for (std::size_t i = 0; i < 3; ++i) {
        const HistoryFrame& f = tools.history().at(i);
        celsius += readingsCsvRow({f.wallMs, f.values, f.correctionActive}, TemperatureUnit::Celsius);
    }
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(celsius);
    out.close();
    const std::unique_ptr<FrameHistory> read = tools.loadRecording(review);
    ASSERT_EQ(read->size(), 3u);
    EXPECT_NEAR(read->at(2).values[inputTemp], tools.history().at(2).values[inputTemp], 1e-4);
}

TEST(CorrectionMap, FollowsTheEditorAndTheLivePoint) {
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(correctionMapSettingsPath());
    WindowHarness h;
    h.platform.presentPorts = {1};
    Form1& w = h.start();
    w.comp_Click(1);
    ScriptedDevice device(h.platform);
    w.Command1_Click();
    h.clock().advanceTo(800);
    w.correctionMap->CorrectionMap->trigger();
    CorrectionMapWindow* map = w.correctionMap->map();
    ASSERT_NE(map, nullptr);
    map->showMinimized();
    w.correctionMap->CorrectionMap->trigger();
    EXPECT_FALSE(map->isMinimized());
    EXPECT_EQ(map->windowTitle(), QStringLiteral("Correction Map - KestroVar Link"));
    EXPECT_EQ(map->view()->table(), editorTable(w));
    EXPECT_EQ(map->view()->table().cells[0], "");

    // Load, an edit, a file: each shows at once, marked where it differs from the device.
    w.Command2_Click();
    EXPECT_EQ(map->view()->table().cells[29], w.Matrix[29]->text());
    EXPECT_EQ(cellRise(map->view()->table(), 0, 0), 14.0);
    int redraws = map->redrawRequests();
    w.Matrix[3]->setText(QStringLiteral("100"));
    EXPECT_EQ(map->view()->table().cells[3], "100");
    EXPECT_TRUE(map->view()->table().cellDiffers[3]);
    EXPECT_EQ(map->redrawRequests(), redraws + 1);
    w.Command7_Click();  // the delay is not on the map
    EXPECT_EQ(map->redrawRequests(), redraws + 1);
    QByteArray file = calibrationFileContent(w.editorTexts());
    file.replace("10,20,70,120,170", "10,20,70,120,160");
    w.loadCalibrationFile(file);
    EXPECT_EQ(map->view()->table().col[4], "160");
    EXPECT_TRUE(map->view()->table().colDiffers[4]);

    // Each frame moves the point once; it lies in the cells outlined around it.
    redraws = map->redrawRequests();
    h.clock().advanceBy(700);
    EXPECT_EQ(map->redrawRequests(), redraws + 1);
    const HistoryFrame& f = w.trendTools->history().back();
    const std::optional<QPointF> marker = map->view()->markerPosition();
    ASSERT_TRUE(marker);
    QRectF around;
    for (auto [r, c] : map->view()->outlinedCells())
        around |= map->view()->cellRect(r, c);
    EXPECT_EQ(map->view()->outlinedCells().size(), 4u);
    EXPECT_TRUE(around.contains(*marker));
    EXPECT_EQ(map->view()->accessibleDescription(),
              operatingPointDescription(map->view()->table(), f.values[dewPoint], f.values[inputTemp],
                                        TemperatureUnit::Fahrenheit));
    EXPECT_TRUE(map->view()->accessibleDescription().contains(QStringLiteral(", between rows ")));
    EXPECT_EQ(
        map->readingTexts().back(),
        differenceTextIn(double(f.values[modifiedTemp]) - f.values[inputTemp], TemperatureUnit::Fahrenheit));
    EXPECT_EQ(map->outsideText(), "");

    // Every row above the dew point: the point is pinned to the bottom edge and said to be outside.
    const QString rows[] = {"100", "95", "90", "85", "80", "75"};
    for (int r = 0; r < 6; ++r)
        w.Row[r]->setText(rows[r]);
    EXPECT_EQ(map->view()->markerPosition()->y(), map->view()->cellRect(5, 0).bottom());
    EXPECT_EQ(map->view()->outlinedCells().size(), 2u);
    EXPECT_TRUE(map->outsideText().endsWith(QStringLiteral("is below the bottom row (75 \u00B0F).")))
        << map->outsideText().toStdString();
    EXPECT_TRUE(map->view()->accessibleDescription().contains(QStringLiteral("below row 75")));

    // °C: the readings and the words, remembered for the next window; the cells keep their °F.
    map->unitSwitch()->celsius()->click();
    EXPECT_TRUE(map->readingTexts().front().endsWith(QStringLiteral("\u00B0C")));
    EXPECT_TRUE(map->outsideText().endsWith(QStringLiteral("(23.9 \u00B0C).")));
    EXPECT_EQ(
        map->view()->cellHoverText(map->view()->cellRect(0, 3).center()),
        "Dew point 37.8 \u00B0C (100 \u00B0F), MCT 48.9 \u00B0C (120 \u00B0F): 37.8 \u00B0C (100 \u00B0F), "
        "-11.1 \u00B0C over the column; differs from the KestroVar");
    map->hide();
    CorrectionMapWindow again(w.trendTools->history(), nullptr);
    EXPECT_EQ(again.unit(), TemperatureUnit::Celsius);
}

}  // namespace
}  // namespace kv::test
