// Calibration certificates: which records one is made from, and the PDF as pdftotext reads it.
#include "core/record/certificate.h"
#include "certificate/certificate_document.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <set>

namespace kv {
namespace {

CalibrationTexts values(int firstCell) {
    CalibrationTexts t;
    t.col = {"10", "20", "70", "120", "170"};
    t.row = {"100", "75", "65", "50", "25", "0"};
    for (int k = 0; k < 30; ++k)
        t.matrix[k] = QString::number(firstCell + k);
    t.delay = "2.5";
    t.active = "Yes";
    return t;
}

HistoryRecord record(const char* id, int minute, const char* operation, const char* result, const char* unit,
                     bool damaged = false, const char* port = "/dev/ttyUSB0") {
    HistoryRecord r;
    r.id = id;
    r.entry.portPath = port;
    r.entry.host = "bench-1";
    r.entry.timeMs = 1796803200000 + minute * 60000;  // 2026-12-09 08:00 UTC onwards
    r.entry.operation = operation;
    r.entry.result = result;
    r.entry.program = "kestrovar-cli 1.0.0";
    r.entry.unit = unit;
    r.entry.values = values(minute);
    r.damaged = damaged;
    return r;
}

TEST(Certificate, FindsTheAsFoundOfAVerifiedAsLeftOrSaysWhyNot) {
    std::vector<HistoryRecord> history = {
        record("L1", 1, "load", "received", "A"),
        record("S1", 2, "save-sent", "verified", "A"),
        record("B1", 3, "save-read-back", "verified", "A"),
        record("F2", 4, "write-as-found", "received", "A"),
        record("R2", 5, "read", "received", "B", false, "/dev/ttyUSB3"),  // another unit, another port
        record("W2", 6, "write-read-back", "verified", "A"),
        record("X3", 7, "write-read-back", "failed", "A"),
        record("Q5", 8, "restore-as-found", "received", "B"),
        record("Q5r", 9, "restore-read-back", "verified", "B"),
        record("V6", 10, "write-read-back", "verified", "B"),  // only R2 and Q5 before Q5r: no as-found
        record("D7", 11, "read", "received", "A", true),
        record("W7", 12, "write-read-back", "verified", "A"),  // only a damaged read since W2
        record("D8", 13, "save-read-back", "verified", "A", true),
        record("L9", 14, "load", "received", "D"),
        record("B9", 15, "save-read-back", "verified", "D"),
        // The bench's clock set back an hour between two calibrations of unit E: kept order wins.
        record("LE1", 70, "load", "received", "E"),
        record("LX", 70, "load", "received", "X"),  // on the same port, but another unit
        record("BE1", 71, "save-read-back", "verified", "E"),
        record("LE2", 10, "load", "received", "E"),
        record("BE2", 11, "save-read-back", "verified", "E"),
        // Two untagged units written in one command, on two ports, their records interleaved.
        record("P1f", 20, "write-as-found", "received", "", false, "/dev/ttyUSB1"),
        record("P2f", 20, "write-as-found", "received", "", false, "/dev/ttyUSB2"),
        record("P2s", 21, "write-sent", "verified", "", false, "/dev/ttyUSB2"),
        record("P2b", 21, "write-read-back", "verified", "", false, "/dev/ttyUSB2"),
        record("P1s", 21, "write-sent", "verified", "", false, "/dev/ttyUSB1"),
        record("P1b", 21, "write-read-back", "verified", "", false, "/dev/ttyUSB1"),
        // A write whose only read before it is of another unit.
        record("HF", 40, "write-as-found", "received", "H2"),
        record("HS", 41, "write-sent", "verified", "H"),
        record("HB", 41, "write-read-back", "verified", "H"),
        // A load of unit G at another bench's port of the same name, then a failed write whose read
        // is not before its own sent record.
        record("LG", 30, "load", "received", "G"),
        record("BG", 31, "save-read-back", "verified", "G"),
        record("GF", 32, "write-as-found", "received", "G"),
        record("GS1", 33, "write-sent", "failed", "G"),
        record("GB1", 33, "write-read-back", "failed", "G"),
        record("GS2", 34, "write-sent", "verified", "G"),
        record("GB2", 34, "write-read-back", "verified", "G"),
    };
    for (std::size_t i = 0; i < history.size(); ++i)
        history[i].seq = qint64(i) + 1;
    history[history.size() - 7].entry.host = "bench-2";  // LG
    std::reverse(history.begin(), history.end());        // the store lists newest first
    struct Row {
        const char* asLeft;
        const char* unit;     // --unit instead of an id
        const char* asFound;  // expected, or nullptr for a refusal
        const char* refusal;  // a part of it
        bool unknown;
    };
    // clang-format off
    const Row rows[] = {
        {"B1", nullptr, "L1", "", false},
        {"W2", nullptr, "F2", "", false},
        {"Q5r", nullptr, "Q5", "", false},
        {"X3", nullptr, nullptr, "record X3 has no verified read-back: it is a write-read-back record with the result \"failed\"", false},
        {"S1", nullptr, nullptr, "record S1 has no verified read-back: it is a save-sent record", false},
        {"L1", nullptr, nullptr, "record L1 has no verified read-back", false},
        {"V6", nullptr, nullptr, "record V6 has no as-found record of its own write: the write's first read on /dev/ttyUSB0 of bench-1 is not in the history", false},
        {"W7", nullptr, nullptr, "record W7 has no as-found record", false},
        {"D8", nullptr, nullptr, "record D8 is damaged", false},
        {"Z", nullptr, nullptr, "no record Z in the history", true},
        {nullptr, "D", "L9", "", false},
        {nullptr, "B", nullptr, "record V6 has no as-found record", false},
        {nullptr, "C", nullptr, "the history holds no verified calibration of unit C", true},
        {nullptr, "E", "LE2", "", false},
        {"BE1", nullptr, "LE1", "", false},
        {"P1b", nullptr, "P1f", "", false},
        {"P2b", nullptr, "P2f", "", false},
        {"BG", nullptr, nullptr, "record BG has no as-found record: the history holds no Load, read or as-found read of unit G on /dev/ttyUSB0 of bench-1 between", false},
        {"GB2", nullptr, nullptr, "record GB2 has no as-found record of its own write", false},
        {"HB", nullptr, nullptr, "record HB has no as-found record of its own write", false},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.asLeft ? row.asLeft : row.unit);
        const CertificateRecords found =
            row.unit ? latestCertificateRecords(history, row.unit) : certificateRecords(history, row.asLeft);
        EXPECT_TRUE(found.refusal.contains(QString::fromUtf8(row.refusal))) << found.refusal.toStdString();
        EXPECT_EQ(found.refusal.isEmpty(), row.asFound != nullptr);
        EXPECT_EQ(found.unknownRecord, row.unknown);
        if (row.asFound) {
            ASSERT_TRUE(found.asFound && found.asLeft);
            EXPECT_EQ(found.asFound->id, row.asFound);
        }
    }
    // The number: the same for the same record, different for every other as-left (the first 15,
    // each of its own minute).
    history.erase(history.begin(), history.end() - 15);
    std::set<QString> numbers;
    for (const HistoryRecord& r : history)
        numbers.insert(certificateNumber(r));
    EXPECT_EQ(numbers.size(), history.size());
    EXPECT_EQ(certificateNumber(history.back()), "KV-20261209-080100000X");
    HistoryRecord sameMs = history[0];  // B9, kept as the second record of its millisecond
    sameMs.id = "20261209T081500.000Z_save-read-back_verified_2";
    EXPECT_EQ(certificateNumber(history[0]), "KV-20261209-081500000S");
    EXPECT_EQ(certificateNumber(sameMs), "KV-20261209-081500000S-2");
}

// What pdftotext reads: the text as laid out, the pages, their width and the right edge of the
// rightmost word (points).
struct PdfText {
    QString text;
    double pageWidth = 0;
    double rightmost = 0;
    int pages = 0;
};

PdfText readPdf(const QByteArray& pdf) {
#ifdef Q_OS_WIN
    // Under wine, poppler's pdftotext is the Linux one, run from Z: on Linux paths. wine starts a
    // Linux program without the Windows pipes and without waiting for it, so the text is written
    // to a file and moved into place when complete, and the test waits for that file.
    QTemporaryDir dir(QStringLiteral("Z:/tmp/kv-certificate-XXXXXX"));
    auto hostPath = [](const QString& path) { return path.mid(2); };  // "Z:/tmp/..." is "/tmp/..."
#else
    QTemporaryDir dir;
    auto hostPath = [](const QString& path) { return path; };
#endif
    QFile file(dir.filePath("c.pdf"));
    file.open(QIODevice::WriteOnly);
    file.write(pdf);
    file.close();
    auto pdftotext = [&](const char* option) {
        const QString text = dir.filePath(QStringLiteral("c%1.txt").arg(QLatin1String(option)));
        const QString command = QStringLiteral("pdftotext %1 '%2' '%3.part' && mv '%3.part' '%3'")
                                    .arg(QLatin1String(option), hostPath(file.fileName()), hostPath(text));
        QProcess process;
#ifdef Q_OS_WIN
        process.start(QStringLiteral("Z:/bin/sh"), {QStringLiteral("-c"), command});
        process.waitForFinished(20000);
        QDeadlineTimer deadline(20000);
        while (!QFileInfo::exists(text) && !deadline.hasExpired())
            QThread::msleep(20);
#else
        process.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
        process.waitForFinished(20000);
#endif
        QFile out(text);
        out.open(QIODevice::ReadOnly);
        return QString::fromUtf8(out.readAll());
    };
    PdfText read{pdftotext("-layout")};
    const QString html = pdftotext("-bbox");
    static const QRegularExpression page("<page width=\"([0-9.]+)\""), word("xMax=\"([0-9.]+)\"");
    for (auto it = page.globalMatch(html); it.hasNext(); ++read.pages)
        read.pageWidth = it.next().captured(1).toDouble();
    for (auto it = word.globalMatch(html); it.hasNext();)
        read.rightmost = std::max(read.rightmost, it.next().captured(1).toDouble());
    return read;
}

TEST(Certificate, ThePdfSaysEveryFieldAndNoRecordTextBreaksOrEntersTheLayout) {
    CertificateRecords records;
    records.asFound =
        record("20261209T080000.000Z_write-as-found_received", 0, "write-as-found", "received", "");
    records.asLeft =
        record("20261209T080500.000Z_write-read-back_verified", 5, "write-read-back", "verified", "");
    records.asLeft->entry.values = records.asFound->entry.values;
    records.asLeft->entry.values.matrix[0] = "33";  // as found 0
    records.asLeft->entry.values.col[2] = "72";     // as found 70
    records.asLeft->entry.values.active = "No";     // as found Yes
    records.asLeft->entry.operatorName = "jsmith";
    records.asLeft->entry.host = "bench-3";
    const LabDetails lab{"Northfield Instruments", "12 Mill Lane\nNorthfield NF3 2QT", {}};
    struct Row {
        const char* name;
        QString unit;
        PageSize size;
        double width;  // points
        int pages = 1;
    };
    const Row rows[] = {
        {"plain tag, A4", "KV-0042", PageSize::A4, 595.3},
        {"plain tag, Letter", "KV-0042", PageSize::Letter, 612},
        {"markup and a placeholder", "<b>X</b><img src=\"a.png\"><table>{{number}}&amp;", PageSize::A4,
         595.3},
        {"a very long tag", QString(300, u'W'), PageSize::A4, 595.3},
        {"a longer tag, Letter", QString(700, u'W'), PageSize::Letter, 612, 2},
        {"non-Latin scripts", "Блок-7 Δείκτης", PageSize::Letter, 612},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        records.asLeft->entry.unit = row.unit;
        records.asFound->entry.unit = row.unit;
        Certificate c = makeCertificate(records, lab, 1796900000000);
        c.pageSize = row.size;
        const CertificatePdf pdf = certificatePdf(c, builtInCertificateLayout());
        const PdfText read = readPdf(pdf.bytes);
        EXPECT_EQ(read.pages, row.pages);
        EXPECT_EQ(pdf.pages, row.pages);
        for (int page = 1; page <= row.pages; ++page)
            EXPECT_TRUE(read.text.contains(QStringLiteral("Page %1 of %2").arg(page).arg(row.pages)));
        EXPECT_NEAR(read.pageWidth, row.width, 0.5);
        EXPECT_LT(read.rightmost, read.pageWidth - 20) << "a word runs off the page";
        const QString flat = QString(read.text).remove(QRegularExpression("\\s+"));
        EXPECT_TRUE(flat.contains("Unit" + QString(row.unit).remove(' '))) << read.text.toStdString();
        // clang-format off
        for (const char* field : {"Calibration Certificate", "No. KV-20261209-080500000W", "Northfield Instruments",
                 "12 Mill Lane", "Northfield NF3 2QT", "Date of the work 2026-12-09", "Date of issue 2026-12-10",
                 "Operator jsmith", "Machine bench-3", "written to the unit with KestroVar Link 1.0.0 and verified",
                 "Startup time delay min 2.5 2.5", "Humidity correction active Yes No *", "MCT axis °F As found 10 20 70",
                 "°F As left 10 20 72 * 120", "100 0 1 2", "100 33 * 1 2", "Authorised by:",
                 "The results relate only to the unit named in this certificate.", "End of certificate KV-20261209-080500000W",
                 "20261209T080000.000Z_write-as-found_received (as found)", "20261209T080500.000Z_write-read-back_verified (as left)"})
            EXPECT_TRUE(read.text.simplified().contains(QString::fromUtf8(field))) << field;
        // clang-format on
    }
}

}  // namespace
}  // namespace kv
