// kv_bench_chart: the trend chart's redraw and the history's memory, for 48 hours and for ten
// minutes of frames, at 1280 px of plot width, on the offscreen platform; and the correction map's
// redraw on a frame. Prints a Markdown table.
//   redraw   the visible span reduced to min/max points per column, handed to the plot, repainted
//   reduce   the reduction alone
//   map      a frame added: the readings beside the map set, the map with its ten-minute trail
//            repainted
// Usage: kv_bench_chart [RUNS]
#include "core/readings/frame_history.h"
#include "gui/chart_window.h"
#include "gui/correction_map_window.h"
#include "gui/qt_platform.h"

#include <QApplication>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long rssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

double medianMs(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Readings that drift like the simulated device's, with correction switching now and then.
kv::FeedFrame frameAt(qint64 start, int i) {
    kv::FeedFrame f;
    f.timeMs = start + qint64(i) * 700;
    const double t = i / 3000.0;
    f.values = {float(1.2 + 0.1 * std::sin(t)),  float(70 + 10 * std::sin(t)),
                float(45 + 5 * std::cos(t / 3)), float(1.25 + 0.1 * std::sin(t)),
                float(72 + 10 * std::sin(t)),    float(72 + 10 * std::sin(t) + (i % 7) * 0.01)};
    f.correctionActive = (i / 5000) % 3 != 0;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);  // leave the user's chart settings alone
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

    kv::QtPlatform platform{kv::PortMap{}};
    const qint64 start = 1796803200000;
    const int frames48h = int(kv::FrameHistory::kLiveSpanMs / 700);
    const long rssBefore = rssKb();
    kv::FrameHistory history;
    for (int i = 0; i <= frames48h; ++i)
        history.append(frameAt(start, i));
    const long rssAfter = rssKb();

    kv::ChartWindow chart(platform, history, nullptr);
    chart.resize(1280, 700);
    chart.show();
    QApplication::processEvents();
    // Widen the window until the plot's own area is 1280 px.
    chart.resize(chart.width() + 1280 - chart.plotWidth(), 700);
    QApplication::processEvents();
    chart.repaintNow();
    const int width = chart.plotWidth();

    struct Row {
        const char* name;
        qint64 spanMs;
    };
    const Row spans[] = {{"48 h", kv::FrameHistory::kLiveSpanMs}, {"10 min", 10 * 60 * 1000}};
    std::printf("| Measure (%d px plot, %zu frames x 6 series, median of %d) | Value | Target |\n", width,
                history.size(), runs);
    std::printf("|---|---|---|\n");
    for (const Row& row : spans) {
        const qint64 end = history.back().timeMs;
        std::vector<double> redraw, reduce;
        kv::PlotData data;
        for (int r = 0; r < runs; ++r) {
            // Pan by a few pixels each time, as a drag does, so nothing is cached.
            const qint64 shift = qint64(r % 2) * row.spanMs / 400;
            auto t0 = Clock::now();
            chart.showRange(end - row.spanMs - shift, end - shift);
            chart.repaintNow();
            auto t1 = Clock::now();
            kv::decimate(history, end - row.spanMs - shift, end - shift, width, &data);
            auto t2 = Clock::now();
            redraw.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            reduce.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        }
        std::printf("| chart redraw, %s visible (%zu points a series drawn) | %.2f ms | %s |\n", row.name,
                    chart.drawnPoints(kv::inputVoltage).size(), medianMs(redraw),
                    row.spanMs > 3600000 ? "< 16 ms" : "");
        std::printf("| - of which the min/max reduction | %.2f ms | |\n", medianMs(reduce));
    }
    {
        kv::CorrectionMapWindow map(history, nullptr);
        kv::MapTable table;
        table.col = {"10", "20", "70", "120", "170"};
        table.row = {"100", "75", "65", "50", "25", "0"};
        const int raise[] = {14, 10, 8, 5, 2, 0};
        for (int k = 0; k < 30; ++k)
            table.cells[std::size_t(k)] =
                QString::number(table.col[std::size_t(k % 5)].toInt() + raise[k / 5]);
        table.cellDiffers[7] = true;
        map.setTable(table);
        map.resize(900, 540);
        map.show();
        QApplication::processEvents();
        map.repaintNow();
        std::vector<double> redraw;
        for (int r = 0; r < runs; ++r) {
            history.append(frameAt(start, frames48h + 1 + r));
            auto t0 = Clock::now();
            map.framesAdded();
            map.repaintNow();
            redraw.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        const std::size_t trail =
            history.size() - history.lowerBound(history.back().timeMs - kv::CorrectionMapView::kTrailMs);
        std::printf(
            "| correction map redraw on a frame (%dx%d px, trail of %zu frames) | %.2f ms | < 2 ms |\n",
            map.view()->width(), map.view()->height(), trail, medianMs(redraw));
        // The worst trail: a reading so noisy that every frame jumps across the map.
        redraw.clear();
        for (int r = 0; r < runs + 900; ++r) {
            kv::FeedFrame f = frameAt(start, frames48h + 1 + runs + r);
            f.values[kv::inputTemp] += float((r * 7919) % 200) / 10;
            f.values[kv::dewPoint] += float((r * 104729) % 150) / 10;
            history.append(f);
            auto t0 = Clock::now();
            map.framesAdded();
            map.repaintNow();
            if (r >= 900)
                redraw.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::printf("| - the same, a noisy reading jumping across the map every frame | %.2f ms | < 2 ms |\n",
                    medianMs(redraw));
    }
    std::printf("| history of 48 h: ring size | %.1f MB | < 16 MB |\n", history.memoryBytes() / 1048576.0);
    std::printf("| history of 48 h: resident memory added | %.1f MB | < 16 MB |\n",
                (rssAfter - rssBefore) / 1024.0);
    return 0;
}
