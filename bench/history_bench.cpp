// kv_bench_history: the calibration history at size. Builds a history of RECORDS records in a
// temporary folder (the .cal files written directly, the index rebuilt from them), then times
//   list     HistoryStore::records(): the index read, every .cal checked, "same as" worked out
//   open     Tools > Calibration History... on the real main window, up to the window painted
//   append   one record appended (the .cal through QSaveFile, the index line flushed to the disk)
// and prints a Markdown table: one row per measure, the median of the repeats.
// Usage: kv_bench_history [RECORDS [REPEATS]]; 10000 and 5 by default.
#include "core/history_store.h"
#include "gui/history_window.h"
#include "gui/main_window.h"
#include "gui/qt_platform.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of the process, which a busy machine does not stretch as it stretches the wall clock.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

kv::CalibrationTexts texts(int seed) {
    kv::CalibrationTexts t;
    t.col = {"10", "20", "70", "120", "170"};
    t.row = {"100", "75", "65", "50", "25", "0"};
    for (int k = 0; k < 30; ++k)
        t.matrix[k] = QString::number((seed % 97 + 3 * k) % 256);  // every 97th record the same
    t.delay = QString::number(seed % 60 / 2.0);
    t.active = seed % 3 ? "Yes" : "No";
    return t;
}

// The production platform with comsetting.ini kept in memory.
class BenchPlatform : public kv::QtPlatform {
  public:
    BenchPlatform() : QtPlatform(kv::PortMap()) {}
    std::optional<QByteArray> readBinaryFile(const QString&) override { return QByteArray(); }
    bool writeBinaryFile(const QString&, const QByteArray&) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const char* operations[] = {"load", "save-sent", "save-read-back"};
    const char* results[] = {"received", "verified", "verified"};
    const qint64 start = 1796803200000;
    for (int i = 0; i < count; ++i) {
        const QString name = QDateTime::fromMSecsSinceEpoch(start + qint64(i) * 61'000, Qt::UTC)
                                 .toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'")) +
                             QStringLiteral("_%1_%2.cal").arg(operations[i % 3], results[i % 3]);
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(kv::calibrationFileContent(texts(i))) < 0) {
            std::fprintf(stderr, "kv_bench_history: cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    kv::HistoryStore store(dir.path());
    QString error;
    const auto rebuildStart = Clock::now();
    if (!store.rebuildIndex(&error)) {
        std::fprintf(stderr, "kv_bench_history: %s\n", qPrintable(error));
        return 1;
    }
    const double rebuild = msSince(rebuildStart);

    std::vector<double> list;
    std::vector<double> listCpu;
    std::size_t listed = 0;
    for (int r = 0; r < repeats; ++r) {
        const auto t = Clock::now();
        const double cpu = cpuMs();
        listed = store.records().size();
        listCpu.push_back(cpuMs() - cpu);
        list.push_back(msSince(t));
    }

    std::vector<double> open;
    std::vector<double> openCpu;
    int rows = 0;
    for (int r = 0; r < repeats; ++r) {
        BenchPlatform platform;
        kv::Form1 window(platform);
        window.setHistoryDirectory(dir.path());
        window.show();
        QApplication::processEvents();
        const auto t = Clock::now();
        const double cpu = cpuMs();
        window.CalibrationHistory_Click();
        QApplication::processEvents();  // shown and painted
        openCpu.push_back(cpuMs() - cpu);
        open.push_back(msSince(t));
        rows = window.frmHistory->table->model()->rowCount();
    }

    std::vector<double> append;
    for (int r = 0; r < std::max(repeats, 20); ++r) {
        kv::HistoryEntry entry{start + qint64(count + r) * 61'000,
                               "load",
                               "received",
                               "kv_bench_history",
                               "/dev/ttyUSB0",
                               {},
                               {},
                               texts(r)};
        const auto t = Clock::now();
        const kv::HistoryStore::Appended appended = store.append(entry);
        append.push_back(msSince(t));
        if (!appended.error.isEmpty()) {
            std::fprintf(stderr, "kv_bench_history: %s\n", qPrintable(appended.error));
            return 1;
        }
    }
    if (int(listed) != count || rows != count) {
        std::fprintf(stderr, "kv_bench_history: %zu records listed, %d rows shown, of %d\n", listed, rows,
                     count);
        return 1;
    }

    std::printf("| Measure | Wall | CPU | Target |\n|---|---|---|---|\n");
    std::printf("| calibration history of %d records: listing (median of %d) | %.1f ms | %.1f ms | |\n",
                count, repeats, median(list), median(listCpu));
    std::printf(
        "| – opening Calibration History, window painted (median of %d) | %.1f ms | %.1f ms | < 200 ms |\n",
        repeats, median(open), median(openCpu));
    std::printf("| – rebuilding the index from the .cal files | %.1f ms | | |\n", rebuild);
    std::printf("| – appending one record, flushed to the disk (median of %zu) | %.2f ms | | |\n",
                append.size(), median(append));
    return 0;
}
