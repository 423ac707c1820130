// The readings kept for the chart and written to CSV: the 48-hour history, its min/max
// reduction, the CSV rows read back under a comma-decimal locale, and a recording that fails.
#include "core/frame_history.h"
#include "core/readings_csv.h"
#include "core/readings_recorder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>

namespace kv {
namespace {

FeedFrame frameAt(qint64 timeMs, float value, bool active = false) {
    FeedFrame f;
    f.timeMs = timeMs;
    f.values.fill(value);
    f.correctionActive = active;
    return f;
}

TEST(FrameHistory, KeepsTheNewest48HoursWithinItsCapacity) {
    constexpr qint64 h48 = FrameHistory::kLiveSpanMs;
    struct Case {
        const char* name;
        std::size_t capacity;
        std::size_t frames;
        qint64 stepMs;
        std::size_t size;
        qint64 oldestMs;
    };
    const Case cases[] = {
        {"under the span, all kept", 300'000, 1000, 700, 1000, 0},
        {"48 h at 700 ms: older than 48 h drop off", 300'000, 250'000, 700, 246'858, 2'199'400},
        {"exactly 48 h back is still kept", 300'000, 3, h48 / 2, 3, 0},
        {"a fast device meets the capacity first", 1'000, 5'000, 10, 1'000, 40'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameHistory history(h48, c.capacity);
        for (std::size_t i = 0; i < c.frames; ++i)
            history.append(frameAt(qint64(i) * c.stepMs, float(i)));
        EXPECT_EQ(history.size(), c.size);
        EXPECT_EQ(history.at(0).timeMs, c.oldestMs);
        EXPECT_EQ(history.back().timeMs, qint64(c.frames - 1) * c.stepMs);
        EXPECT_LE(history.memoryBytes(), 16u << 20);
    }
    // A clock stepping back keeps the order the chart relies on; a link drop breaks the line.
    FrameHistory history;
    history.append(frameAt(10'000, 1));
    history.append(frameAt(9'000, 2));
    history.markGap();
    history.append(frameAt(10'700, 3));
    history.append(frameAt(13'300, 4));
    EXPECT_EQ(history.at(1).timeMs, 10'000);
    EXPECT_EQ((std::vector<bool>{history.at(1).gapBefore, history.at(2).gapBefore, history.at(3).gapBefore}),
              (std::vector<bool>{false, true, true}));
}

std::vector<std::pair<double, double>> pointsOf(const std::vector<PlotPoint>& points) {
    std::vector<std::pair<double, double>> result;
    for (const PlotPoint& p : points)
        result.push_back({p.key, std::isnan(p.value) ? -999 : p.value});
    return result;
}

TEST(Decimation, KeepsEachColumnsSmallestAndLargestInOrder) {
    struct Case {
        const char* name;
        std::vector<std::pair<qint64, float>> frames;  // time, value; time < 0: a gap before
        qint64 fromMs, toMs;
        int columns;
        std::vector<std::pair<double, double>> points;  // seconds, value; -999 breaks the line
        bool recording = false;                         // gaps by the frames' own interval
    };
    const Case cases[] = {
        {"fewer frames than columns: every frame",
         {{1000, 1}, {2000, 2}, {3000, 3}},
         0,
         10'000,
         10,
         {{1, 1}, {2, 2}, {3, 3}}},
        {"many frames a column: min and max in the order they came",
         {{0, 5}, {100, 9}, {200, 1}, {300, 4}, {1000, 2}, {1100, 0}, {1200, 7}},
         0,
         2000,
         2,
         {{0.1, 9}, {0.2, 1}, {1.1, 0}, {1.2, 7}}},
        {"one frame beyond each edge runs the line to it",
         {{1000, 0}, {3000, 1}, {4500, 2}, {6000, 3}, {8000, 4}, {10'000, 5}, {11'000, 6}, {12'000, 7}},
         4000,
         10'000,
         6,
         {{3, 1}, {4.5, 2}, {6, 3}, {8, 4}, {10, 5}, {11, 6}}},
        {"a gap breaks the line",
         {{0, 1}, {700, 2}, {-1400, 3}, {2100, 4}},
         0,
         3000,
         30,
         {{0, 1}, {0.7, 2}, {1.399, -999}, {1.4, 3}, {2.1, 4}}},
        {"a recording every 5 s is one line; a pause of 20 s breaks it",
         {{0, 1}, {5000, 2}, {10'000, 3}, {30'000, 4}},
         0,
         40'000,
         400,
         {{0, 1}, {5, 2}, {10, 3}, {29.999, -999}, {30, 4}},
         true},
        {"a fast recording still joins frames 2.5 s apart",
         {{0, 1}, {100, 2}, {200, 3}, {2600, 4}},
         0,
         3000,
         30,
         {{0, 1}, {0.1, 2}, {0.2, 3}, {2.6, 4}},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameHistory history;
        for (auto [t, v] : c.frames) {
            if (t < 0)
                history.markGap();
            history.append(frameAt(std::abs(t), v));
        }
        if (c.recording)
            history.fitGapsToInterval();
        PlotData data;
        decimate(history, c.fromMs, c.toMs, c.columns, &data);
        EXPECT_EQ(pointsOf(data.series[inputVoltage]), c.points);
    }
    // 48 hours into 1280 columns: at most two points a column, every extreme still there.
    FrameHistory history;
    for (int i = 0; i < 246'857; ++i)
        history.append(frameAt(qint64(i) * 700, float(std::sin(i / 5000.0)), i % 3000 < 1000));
    history.append(frameAt(246'857LL * 700, 7.0f));
    PlotData data;
    decimate(history, 0, 246'857LL * 700, 1280, &data);
    EXPECT_LE(data.series[dewPoint].size(), 2 * 1281u);
    double top = -1;
    for (const PlotPoint& p : data.series[dewPoint])
        top = std::max(top, p.value);
    EXPECT_EQ(top, 7.0);
    EXPECT_GT(data.correction.size(), 100u);  // the band's on and off steps
}

class CommaLocale {
  public:
    CommaLocale() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        saved_ = std::setlocale(LC_NUMERIC, nullptr);
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    }
    ~CommaLocale() {
        std::setlocale(LC_NUMERIC, saved_.c_str());
        QLocale::setDefault(QLocale::c());
    }

  private:
    std::string saved_;
};

TEST(ReadingsCsv, RowsReadBackToTheSameFloatsUnderACommaDecimalLocale) {
    CommaLocale comma;
    const float values[] = {2.5f,          0.1f, 1.0f / 3, -40.0f, 1e-7f, 123456.79f,
                            3.4028235e38f, 0.0f, -0.0f,    1e-45f, NAN,   -INFINITY};
    std::vector<FeedFrame> written;
    QByteArray file = readingsCsvHeader();
    for (std::size_t i = 0; i < std::size(values); ++i) {
        FeedFrame f = frameAt(1796804102125 + qint64(i) * 3'600'000 * 37, values[i], i % 2);
        f.values[inputTemp] = values[(i + 1) % std::size(values)];
        written.push_back(f);
        file += readingsCsvRow(f);
    }
    EXPECT_EQ(readingsCsvRow(written[0]).mid(29),
              QByteArray(",2.5,0.1,2.5,2.5,2.5,2.5,0\r\n"));  // after the time
    EXPECT_EQ(shortestFloatText(1.0f / 3), "0.33333334");
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    ReadingsCsvReader reader(buffer);
    std::vector<FeedFrame> read;
    EXPECT_EQ(reader.read(read, 5), ReadingsCsvReader::Status::More);
    EXPECT_EQ(reader.read(read, 100), ReadingsCsvReader::Status::Done);
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].timeMs, written[i].timeMs);
        EXPECT_EQ(read[i].correctionActive, written[i].correctionActive);
        for (int s = 0; s < kMonitoringFields; ++s) {
            EXPECT_EQ(std::memcmp(&read[i].values[s], &written[i].values[s], 4) == 0 ||
                          (std::isnan(read[i].values[s]) && std::isnan(written[i].values[s])),
                      true)
                << i << "," << s << ": " << read[i].values[s];
        }
    }
}

TEST(ReadingsCsv, ABadRecordingNamesItsLine) {
    const QByteArray good = "2026-12-09T09:15:02.125+01:00,2.5,70,40,2.4,69.5,69.5,1\r\n";
    struct Case {
        QByteArray content;
        QString error;           // or, when the file is read, what was left out
        std::size_t frames = 0;  // read when not 0
    };
    const QByteArray torn = "2026-12-09T09:15:02.825+01:00,2.5,70,4";
    const Case cases[] = {
        {"", "line 1: the file is empty"},
        {QByteArray(100'000, 'x'), "line 1 is longer than 4096 characters"},
        {readingsCsvHeader() + QByteArray(4097, '1') + "\r\n" + good,
         "line 2 is longer than 4096 characters"},
        {readingsCsvHeader() + good + torn, "line 3, the last row, is incomplete and was left out", 1},
        {readingsCsvHeader() + good + good.chopped(2), "", 2},
        {readingsCsvHeader() + torn + "\r\n" + good, "line 2: expected 8 fields, found 4"},
        {"time,volts\r\n", "line 1: the header is not \"" + readingsCsvHeader().trimmed() + "\""},
        {readingsCsvHeader() + good + "\r\n" + "2026-12-09T09:15:02,2.5,70\r\n",
         "line 4: expected 8 fields, found 3"},
        {readingsCsvHeader() + good + "yesterday,2.5,70,40,2.4,69.5,69.5,1\r\n",
         "line 3: \"yesterday\" is not a time"},
        {readingsCsvHeader() + "2026-12-09T09:15:02.125+01:00,2,5,70,40,2.4,69.5,69.5,1\r\n",
         "line 2: expected 8 fields, found 9"},
        {readingsCsvHeader() + "2026-12-09T09:15:02.125Z,2.5,x,40,2.4,69.5,69.5,1\n",
         "line 2: input_temp_f \"x\" is not a number"},
        {readingsCsvHeader() + "2026-12-09T09:15:02.125Z,2.5,70,40,2.4,69.5,69.5,yes\n",
         "line 2: correction_active \"yes\" is not 0 or 1"},
    };
    for (const Case& c : cases) {
        QByteArray content = c.content;
        QBuffer buffer(&content);
        buffer.open(QIODevice::ReadOnly);
        ReadingsCsvReader reader(buffer);
        std::vector<FeedFrame> read;
        const bool done = c.frames > 0;
        EXPECT_EQ(reader.read(read, 100),
                  done ? ReadingsCsvReader::Status::Done : ReadingsCsvReader::Status::Failed)
            << c.content.left(80).data();
        EXPECT_EQ(done ? reader.note() : reader.errorText(), c.error);
        if (done) {
            EXPECT_EQ(read.size(), c.frames);
        }
    }
}

TEST(ReadingsRecorder, AFailedWriteStopsAndKeepsTheCompleteRows) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("run"));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/readings.csv");
    ReadingsRecorder recorder;
    QString reason;

    // The folder cannot hold the file: nothing starts.
    EXPECT_FALSE(recorder.start(dir.filePath(QStringLiteral("none/readings.csv")), 0, &reason));
    EXPECT_FALSE(recorder.recording());
    EXPECT_FALSE(reason.isEmpty());

    ASSERT_TRUE(recorder.start(path, 0, &reason));
    ASSERT_TRUE(recorder.record(frameAt(0, 1.5f), &reason));
    ASSERT_TRUE(recorder.record(frameAt(700, 2.5f), &reason));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              readingsCsvHeader() + readingsCsvRow(frameAt(0, 1.5f)) + readingsCsvRow(frameAt(700, 2.5f)));

    // Removed under it: the recording stops rather than writing into a file nobody can find.
    QDir(folder).removeRecursively();
    EXPECT_FALSE(recorder.record(frameAt(1400, 3.5f), &reason));
    EXPECT_EQ(reason, QStringLiteral("the file or its folder was removed"));
    EXPECT_FALSE(recorder.recording());

    // A full disk: the header itself cannot be written.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        EXPECT_FALSE(recorder.start(QStringLiteral("/dev/full"), 0, &reason));
        EXPECT_EQ(reason, QStringLiteral("No space left on device"));
        EXPECT_FALSE(recorder.recording());
    }
}

}  // namespace
}  // namespace kv
