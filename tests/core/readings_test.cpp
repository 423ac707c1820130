// The readings kept for the chart and written to CSV: the 48-hour history, its min/max
// reduction, the CSV rows read back under a comma-decimal locale, and a recording that fails.
#include "core/calibration/correction_map.h"
#include "core/readings/frame_history.h"
#include "core/readings/readings_csv.h"
#include "core/readings/readings_recorder.h"

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
    EXPECT_EQ(shortestFloatText(1.0f / 3), "0.33333334");
    // A °C recording holds the same readings: written again in °C it gives the same texts.
    for (TemperatureUnit unit : {TemperatureUnit::Fahrenheit, TemperatureUnit::Celsius}) {
        std::vector<FeedFrame> written;
        QByteArray file = readingsCsvHeader(unit);
        for (std::size_t i = 0; i < std::size(values); ++i) {
            FeedFrame f = frameAt(1796804102125 + qint64(i) * 3'600'000 * 37, values[i], i % 2);
            f.values[inputTemp] = values[(i + 1) % std::size(values)];
            written.push_back(f);
            file += readingsCsvRow(f, unit);
        }
        EXPECT_EQ(readingsCsvRow(written[0], unit).mid(29),
                  unit == TemperatureUnit::Celsius
                      ? QByteArray(",2.5,-17.722221,-16.38889,2.5,-16.38889,-16.38889,0\r\n")
                      : QByteArray(",2.5,0.1,2.5,2.5,2.5,2.5,0\r\n"));  // after the time
        QBuffer buffer(&file);
        buffer.open(QIODevice::ReadOnly);
        ReadingsCsvReader reader(buffer);
        std::vector<FeedFrame> read;
        EXPECT_EQ(reader.read(read, 5), ReadingsCsvReader::Status::More);
        EXPECT_EQ(reader.read(read, 100), ReadingsCsvReader::Status::Done);
        EXPECT_EQ(reader.unit(), unit);
        ASSERT_EQ(read.size(), written.size());
        for (std::size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read[i].timeMs, written[i].timeMs);
            EXPECT_EQ(read[i].correctionActive, written[i].correctionActive);
            EXPECT_EQ(readingsCsvRow(read[i], unit), readingsCsvRow(written[i], unit));
        }
    }
}

TEST(ReadingsCsv, CelsiusIsTheShortestTextOfTheDoubleConversion) {
    struct Case {
        float fahrenheit;
        const char* csv;    // the shortest text of float((F - 32) * 5 / 9), computed in double
        const char* shown;  // one decimal, as the chart and the map show it
    };
    const Case cases[] = {
        {32, "0", "0.0 \u00B0C"},
        {212, "100", "100.0 \u00B0C"},
        {-40, "-40", "-40.0 \u00B0C"},
        {98.6f, "37", "37.0 \u00B0C"},
        {70.1f, "21.166666", "21.2 \u00B0C"},
        {-39.5f, "-39.72222", "-39.7 \u00B0C"},  // in float arithmetic: -39.722225
        {1e-45f, "-17.777779", "-17.8 \u00B0C"},
        {NAN, "nan", "----"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.csv);
        FeedFrame f = frameAt(0, c.fahrenheit);
        EXPECT_TRUE(readingsCsvRow(f, TemperatureUnit::Celsius).endsWith(QByteArray(",") + c.csv + ",0\r\n"));
        EXPECT_EQ(temperatureTextIn(c.fahrenheit, TemperatureUnit::Celsius), QString::fromUtf8(c.shown));
    }
    EXPECT_EQ(readingsCsvHeader(TemperatureUnit::Celsius),
              "time,input_voltage_v,input_temp_c,dew_point_c,output_voltage_v,modified_temp_c,output_temp_c,"
              "correction_active\r\n");
    FeedFrame f = frameAt(0, 212);
    f.values[dewPoint] = NAN;
    EXPECT_TRUE(readingsJsonLine(f, TemperatureUnit::Celsius)
                    .endsWith(",\"input_voltage_v\":212,\"input_temp_c\":100,\"dew_point_c\":null,"
                              "\"output_voltage_v\":212,\"modified_temp_c\":100,\"output_temp_c\":100,"
                              "\"correction_active\":0}\n"));
    EXPECT_EQ(differenceTextIn(9, TemperatureUnit::Celsius), "+5.0 \u00B0C");
    EXPECT_EQ(differenceTextIn(-0.04, TemperatureUnit::Fahrenheit), "0.0 \u00B0F");
}

MapTable factoryTable() {
    MapTable t;
    t.col = {"10", "20", "70", "120", "170"};
    t.row = {"100", "75", "65", "50", "25", "0"};
    const int raise[] = {14, 10, 8, 5, 2, 0};
    for (int k = 0; k < 30; ++k)
        t.cells[std::size_t(k)] = QString::number(t.col[std::size_t(k % 5)].toInt() + raise[k / 5]);
    return t;
}

TEST(CorrectionMap, CellColoursAndThePointFollowTheTable) {
    // Colours: neutral at 0, red above, blue below, deeper with the size of the rise.
    const auto distance = [](std::uint32_t a, std::uint32_t b) {
        int d = 0;
        for (int shift : {16, 8, 0})
            d += std::abs(int(a >> shift & 0xff) - int(b >> shift & 0xff));
        return d;
    };
    const std::uint32_t neutral = riseColor(0, 15);
    EXPECT_EQ(neutral, 0xf2f2f2u);
    int previous = 0;
    for (double rise : {1.0, 5.0, 10.0, 15.0}) {
        const std::uint32_t up = riseColor(rise, 15), down = riseColor(-rise, 15);
        EXPECT_GT(up >> 16 & 0xff, up & 0xff) << rise;      // red
        EXPECT_GT(down & 0xff, down >> 16 & 0xff) << rise;  // blue
        EXPECT_GT(distance(up, neutral), previous) << rise;
        previous = distance(up, neutral);
    }
    EXPECT_EQ(riseColor(40, 15), riseColor(15, 15));

    MapTable t = factoryTable();
    EXPECT_EQ(cellRise(t, 0, 4), 14.0);
    EXPECT_EQ(riseScaleLimit(t), 15.0);
    t.cells[0] = "";
    EXPECT_EQ(cellRise(t, 0, 0), std::nullopt);

    using W = AxisSpot::Where;
    struct Case {
        const char* name;
        std::array<QString, 6> rows;
        float dew;
        W where;
        int lower, upper;
        double fraction;
        const char* words;
    };
    const std::array<QString, 6> rows = t.row;
    const Case cases[] = {
        {"between two rows", rows, 41.9f, W::Between, 3, 4, (50 - 41.9f) / 25.0, "between rows 50 and 25"},
        {"on a breakpoint", rows, 50, W::Between, 2, 3, 1, "at row 50"},
        {"above the top row", rows, 104, W::Before, 0, 0, 0, "above row 100"},
        {"below the bottom row", rows, -3, W::After, 5, 5, 0, "below row 0"},
        {"a row box empty",
         {"100", "75", "", "50", "25", "0"},
         41.9f,
         W::Unknown,
         0,
         0,
         0,
         "rows incomplete"},
        {"rows out of order",
         {"100", "75", "80", "50", "25", "0"},
         41.9f,
         W::Unknown,
         0,
         0,
         0,
         "rows incomplete"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t.row = c.rows;
        const auto values = rowValues(t);
        const AxisSpot spot = locateOnAxis(values, false, c.dew);
        EXPECT_EQ(spot.where, c.where);
        EXPECT_EQ(std::pair(spot.lower, spot.upper), std::pair(c.lower, c.upper));
        EXPECT_NEAR(spot.fraction, c.fraction, 1e-6);
        EXPECT_TRUE(
            operatingPointDescription(t, c.dew, 80.5f, TemperatureUnit::Fahrenheit).contains(c.words));
        EXPECT_EQ(outsideAxesText(t, c.dew, 80.5f, TemperatureUnit::Fahrenheit)
                      .contains("dew point axis has an empty"),
                  c.where == W::Unknown);
    }
    t.row = rows;
    EXPECT_EQ(operatingPointDescription(t, 41.9f, 80.5f, TemperatureUnit::Fahrenheit),
              "dew point 41.9 \u00B0F, MCT 80.5 \u00B0F, between rows 50 and 25, columns 70 and 120");
    EXPECT_EQ(operatingPointDescription(t, 41.9f, 180, TemperatureUnit::Celsius),
              "dew point 5.5 \u00B0C, MCT 82.2 \u00B0C, between rows 10.0 and -3.9, right of column 76.7");
    EXPECT_EQ(outsideAxesText(t, 41.9f, 80.5f, TemperatureUnit::Fahrenheit), "");
    EXPECT_EQ(outsideAxesText(t, 104, 5, TemperatureUnit::Fahrenheit),
              "Outside the table: the dew point 104.0 \u00B0F is above the top row (100 \u00B0F) and the MCT "
              "temperature 5.0 \u00B0F is left of the first column (10 \u00B0F).");
    // Close breakpoints keep room apart; the places rise with the values.
    const std::vector<double> places = breakpointPositions(columnValues(t), true);
    EXPECT_GT(places[1] - places[0], 0.1);
    EXPECT_TRUE(std::is_sorted(places.begin(), places.end()));
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
        {"time,volts\r\n", "line 1: the header is not \"" + readingsCsvHeader().trimmed() + "\" or \"" +
                               readingsCsvHeader(TemperatureUnit::Celsius).trimmed() + "\""},
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

#ifdef Q_OS_WIN
    // Windows does not remove a file a program holds open: the recording goes on.
    EXPECT_FALSE(QDir(folder).removeRecursively());
    EXPECT_TRUE(recorder.record(frameAt(1400, 3.5f), &reason)) << reason.toStdString();
    EXPECT_TRUE(recorder.recording());
#else
    // Removed under it: the recording stops rather than writing into a file nobody can find.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_FALSE(recorder.record(frameAt(1400, 3.5f), &reason));
    EXPECT_EQ(reason, QStringLiteral("the file or its folder was removed"));
    EXPECT_FALSE(recorder.recording());
#endif

    // A full disk: the header itself cannot be written.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        EXPECT_FALSE(recorder.start(QStringLiteral("/dev/full"), 0, &reason));
        EXPECT_EQ(reason, QStringLiteral("No space left on device"));
        EXPECT_FALSE(recorder.recording());
    }
}

}  // namespace
}  // namespace kv
