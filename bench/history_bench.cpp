// kv_bench_history: the calibration history at size, in its database. Builds a history of RECORDS
// records (through HistoryStore::append, as the programs keep them), then times
//   append   one record kept: its transaction committed, on the disk (SQLite) or at the server
//   list     HistoryStore::records(): every row read, its hash and the chain checked, "same as"
//   open     Tools > Calibration History... on the real main window, up to the window painted
//   unit     one unit's 50 records out of UNIT_ROWS (PostgreSQL only; the rows beside it bulk-loaded)
// and prints a Markdown table: one row per measure, the median of the repeats.
// Usage: kv_bench_history [RECORDS [REPEATS [LOCATION [UNIT_ROWS]]]]; 10000, 5, a temporary SQLite
// folder and 1000000 by default. LOCATION may be a postgresql:// URI of an empty database.
#include "core/record/history_store.h"
#include "gui/history_window.h"
#include "gui/main_window.h"
#include "gui/qt_platform.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
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
    const QString location = argc > 3 ? QString::fromLocal8Bit(argv[3]) : dir.path();
    const int unitRows = argc > 4 ? std::max(1000, std::atoi(argv[4])) : 1000000;
    const bool server = kv::HistoryStore::isServer(location);
    const char* operations[] = {"load", "save-sent", "save-read-back"};
    const char* results[] = {"received", "verified", "verified"};
    const qint64 start = 1796803200000;
    auto entry = [&](int i) {
        kv::HistoryEntry e;
        e.timeMs = start + qint64(i) * 61'000;
        e.operation = operations[i % 3];
        e.result = results[i % 3];
        e.program = "kv_bench_history";
        e.portPath = "/dev/ttyUSB0";
        e.unit = QStringLiteral("KV-%1").arg(i % 200, 4, 10, QLatin1Char('0'));
        e.values = texts(i);
        return e;
    };

    kv::HistoryStore store(location);
    std::vector<double> append;
    for (int i = 0; i < count; ++i) {
        const auto t = Clock::now();
        const kv::HistoryStore::Appended appended = store.append(entry(i));
        if (i >= count - std::max(repeats, 20)) {
            append.push_back(msSince(t));
        }
        if (!appended.error.isEmpty()) {
            std::fprintf(stderr, "kv_bench_history: %s\n", qPrintable(appended.error));
            return 1;
        }
    }

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
        window.setHistoryDirectory(location);
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
    if (int(listed) != count || rows != count) {
        std::fprintf(stderr, "kv_bench_history: %zu records listed, %d rows shown, of %d\n", listed, rows,
                     count);
        return 1;
    }

    // One unit among UNIT_ROWS: the rows beyond the kept ones are loaded in bulk, 50 to a unit.
    std::vector<double> unit;
    std::size_t unitListed = 0;
    if (server) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bulk");
            db.setDatabaseName(location.mid(location.lastIndexOf('/') + 1));
            QSqlQuery bulk(db);
            if (!db.open() ||
                !bulk.exec(
                    QStringLiteral(
                        "INSERT INTO calibration_records (seq, id, time_ms, operation, result, program, "
                        "port, "
                        "adapter, adapter_serial, unit, operator, host, cal, prev_hash, hash) SELECT g, "
                        "'bulk-' "
                        "|| g, %1 + g, 'load', 'received', 'bulk', '', '', '', 'B-' || (g % %2), '', '', "
                        "'x'::bytea, '', '' FROM generate_series(%3, %4) AS g")
                        .arg(start)
                        .arg(unitRows / 50)
                        .arg(count + 1)
                        .arg(unitRows))) {
                std::fprintf(stderr, "kv_bench_history: %s\n", qPrintable(bulk.lastError().text()));
                return 1;
            }
            bulk.exec("ANALYZE calibration_records");
        }
        QSqlDatabase::removeDatabase("bulk");
        for (int r = 0; r < repeats; ++r) {
            const auto t = Clock::now();
            unitListed = store.records(QStringLiteral("B-7")).size();
            unit.push_back(msSince(t));
        }
    }

    const char* engine = server ? "PostgreSQL" : "SQLite";
    std::printf("| Measure | Wall | CPU | Target |\n|---|---|---|---|\n");
    std::printf("| %s: one record kept (median of the last %zu of %d) | %.2f ms | | %s |\n", engine,
                append.size(), count, median(append), server ? "< 10 ms" : "< 20 ms");
    std::printf("| %s: listing %d records (median of %d) | %.1f ms | %.1f ms | %s |\n", engine, count,
                repeats, median(list), median(listCpu), server ? "< 150 ms" : "< 100 ms");
    std::printf(
        "| %s: opening Calibration History, window painted (median of %d) | %.1f ms | %.1f ms | < 200 ms |\n",
        engine, repeats, median(open), median(openCpu));
    if (server) {
        std::printf("| %s: one unit's %zu records out of %d (median of %d) | %.1f ms | | < 20 ms |\n", engine,
                    unitListed, unitRows, repeats, median(unit));
    }
    return 0;
}
