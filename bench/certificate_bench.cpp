// kv_bench_certificate: making a calibration certificate. Builds a history of RECORDS records (one
// unit's load, save-sent and verified save-read-back, over and over), then times
//   pdf   finding the newest as-left's as-found among them and drawing its PDF, in the process
//   cli   `kestrovar-cli certificate --unit= -o FILE.pdf`, from start to exit (kestrovar-certificate
//         started by it), when kestrovar-cli is found beside the benchmark's folder
// and prints a Markdown table: one row per measure, the median of the repeats.
// Usage: kv_bench_certificate [RECORDS [REPEATS]]; 1000 and 5 by default.
#include "certificate/certificate_document.h"
#include "core/record/certificate.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const int count = argc > 1 ? std::max(3, std::atoi(argv[1])) : 1000;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("KESTROVAR_HISTORY", dir.filePath("history").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    kv::HistoryStore store(dir.filePath("history"));
    const char* operations[] = {"load", "save-sent", "save-read-back"};
    const char* results[] = {"received", "verified", "verified"};
    for (int i = 0; i < count; ++i) {
        kv::HistoryEntry entry;
        entry.timeMs = 1796803200000 + qint64(i) * 61'000;
        entry.operation = operations[i % 3];
        entry.result = results[i % 3];
        entry.program = "kestrovar-link 1.0.0";
        entry.values.col = {"10", "20", "70", "120", "170"};
        entry.values.row = {"100", "75", "65", "50", "25", "0"};
        for (int k = 0; k < 30; ++k)
            entry.values.matrix[std::size_t(k)] = QString::number((i / 3 + k) % 256);
        entry.values.delay = "2.5";
        entry.values.active = "Yes";
        if (const auto appended = store.append(entry); !appended.error.isEmpty()) {
            std::fprintf(stderr, "kv_bench_certificate: %s\n", qPrintable(appended.error));
            return 1;
        }
    }
    const std::vector<kv::HistoryRecord> records = store.records();
    const kv::LabDetails lab{"Northfield Instruments", "12 Mill Lane\nNorthfield NF3 2QT", {}};
    const QString layout = kv::builtInCertificateLayout();

    std::vector<double> pdf;
    for (int r = 0; r < repeats; ++r) {
        const auto t = Clock::now();
        const kv::CertificateRecords found = kv::latestCertificateRecords(records, QString());
        if (!found.refusal.isEmpty()) {
            std::fprintf(stderr, "kv_bench_certificate: %s\n", qPrintable(found.refusal));
            return 1;
        }
        const kv::CertificatePdf made =
            kv::certificatePdf(kv::makeCertificate(found, lab, 1796900000000), layout);
        pdf.push_back(msSince(t));
        if (made.pages != 1) {
            std::fprintf(stderr, "kv_bench_certificate: %d pages\n", made.pages);
            return 1;
        }
    }

    std::vector<double> cli;
    const QString program = QCoreApplication::applicationDirPath() + "/../kestrovar-cli";
    for (int r = 0; QFileInfo(program).isExecutable() && r < repeats; ++r) {
        QProcess process;
        const auto t = Clock::now();
        process.start(program, {"certificate", "--unit=", "-o", dir.filePath("c.pdf"), "--lab-name", "Lab"});
        process.waitForFinished(60000);
        cli.push_back(msSince(t));
        if (process.exitCode() != 0) {
            std::fprintf(stderr, "kv_bench_certificate: %s\n", process.readAllStandardError().constData());
            return 1;
        }
    }

    std::printf("| Measure | Wall | Target |\n|---|---|---|\n");
    std::printf(
        "| certificate among %d records: as-found found, PDF drawn, in the process (median of %d) | %.1f ms "
        "| < 1 s |\n",
        count, repeats, median(pdf));
    if (!cli.empty()) {
        std::printf(
            "| – `kestrovar-cli certificate --unit= -o FILE.pdf`, start to exit (median of %d) | %.1f ms | "
            "< 1 s |\n",
            repeats, median(cli));
    }
    return 0;
}
