#include "core/readings/readings_csv.h"

#include <QDateTime>
#include <QIODevice>
#include <QTimeZone>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kv {

namespace {

constexpr const char* kColumnsF[] = {"input_voltage_v",  "input_temp_f",    "dew_point_f",
                                     "output_voltage_v", "modified_temp_f", "output_temp_f"};
constexpr const char* kColumnsC[] = {"input_voltage_v",  "input_temp_c",    "dew_point_c",
                                     "output_voltage_v", "modified_temp_c", "output_temp_c"};

const char* const* columns(TemperatureUnit unit) {
    return unit == TemperatureUnit::Celsius ? kColumnsC : kColumnsF;
}

// The value as written: temperatures converted when the unit is °C.
float writtenValue(const FeedFrame& frame, int field, TemperatureUnit unit) {
    const float value = frame.values[std::size_t(field)];
    const bool temperature = field != inputVoltage && field != outputVoltage;
    return temperature && unit == TemperatureUnit::Celsius ? celsiusReading(value) : value;
}

QByteArray floatBytes(float value) {
    if (std::isnan(value))
        return QByteArrayLiteral("nan");
    if (std::isinf(value))
        return value < 0 ? QByteArrayLiteral("-inf") : QByteArrayLiteral("inf");
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, int(result.ptr - buffer));
}

}  // namespace

QString shortestFloatText(float value) {
    return QString::fromLatin1(floatBytes(value));
}

QByteArray readingsCsvHeader(TemperatureUnit unit) {
    QByteArray header = "time";
    for (int i = 0; i < kMonitoringFields; ++i)
        header += QByteArray(",") + columns(unit)[i];
    return header + ",correction_active\r\n";
}

QByteArray readingsCsvRow(const FeedFrame& frame, TemperatureUnit unit) {
    QByteArray row = rfc3339Local(frame.timeMs).toLatin1();
    for (int i = 0; i < kMonitoringFields; ++i)
        row += ',' + floatBytes(writtenValue(frame, i, unit));
    row += frame.correctionActive ? ",1\r\n" : ",0\r\n";
    return row;
}

QByteArray readingsJsonLine(const FeedFrame& frame, TemperatureUnit unit) {
    QByteArray line = "{\"time\":\"" + rfc3339Local(frame.timeMs).toLatin1() + '"';
    for (int i = 0; i < kMonitoringFields; ++i) {
        const float value = writtenValue(frame, i, unit);
        line += ",\"" + QByteArray(columns(unit)[i]) +
                "\":" + (std::isfinite(value) ? floatBytes(value) : QByteArrayLiteral("null"));
    }
    line += frame.correctionActive ? ",\"correction_active\":1}\n" : ",\"correction_active\":0}\n";
    return line;
}

bool parseReadingsCsvRow(QByteArrayView line, FeedFrame* frame, QString* reason, TemperatureUnit unit) {
    const QList<QByteArrayView> fields = [&] {
        QList<QByteArrayView> parts;
        qsizetype start = 0;
        for (qsizetype i = 0; i <= line.size(); ++i) {
            if (i == line.size() || line[i] == ',') {
                parts.append(line.sliced(start, i - start));
                start = i + 1;
            }
        }
        return parts;
    }();
    if (fields.size() != kMonitoringFields + 2) {
        *reason =
            QStringLiteral("expected %1 fields, found %2").arg(kMonitoringFields + 2).arg(fields.size());
        return false;
    }
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields[0]).trimmed(), Qt::ISODateWithMs);
    if (!time.isValid()) {
        *reason = QStringLiteral("\"%1\" is not a time").arg(QString::fromLatin1(fields[0]));
        return false;
    }
    frame->timeMs = time.toMSecsSinceEpoch();
    for (int i = 0; i < kMonitoringFields; ++i) {
        const QByteArray text = fields[i + 1].toByteArray().trimmed();
        float value = 0;
        if (text == "nan" || text == "NaN") {
            value = std::numeric_limits<float>::quiet_NaN();
        } else if (text == "inf" || text == "-inf") {
            value = text.startsWith('-') ? -std::numeric_limits<float>::infinity()
                                         : std::numeric_limits<float>::infinity();
        } else {
            const char* end = text.constData() + text.size();
            auto result = std::from_chars(text.constData(), end, value);
            if (text.isEmpty() || result.ec != std::errc() || result.ptr != end) {
                *reason = QStringLiteral("%1 \"%2\" is not a number")
                              .arg(QLatin1String(columns(unit)[i]), QString::fromLatin1(text));
                return false;
            }
        }
        const bool temperature = i != inputVoltage && i != outputVoltage;
        frame->values[i] =
            temperature && unit == TemperatureUnit::Celsius ? fahrenheitFromCelsiusReading(value) : value;
    }
    const QByteArrayView active = fields.back().trimmed();
    if (active != "0" && active != "1") {
        *reason = QStringLiteral("correction_active \"%1\" is not 0 or 1").arg(QString::fromLatin1(active));
        return false;
    }
    frame->correctionActive = active == "1";
    return true;
}

ReadingsCsvReader::Status ReadingsCsvReader::read(std::vector<FeedFrame>& out, int maxRows) {
    int rows = 0;
    while (rows < maxRows) {
        if (device_.atEnd())
            return line_ == 0 ? fail(QStringLiteral("the file is empty")) : Status::Done;
        // Room for the longest line allowed and its CR LF, and one byte more to tell it is longer.
        QByteArray line = device_.readLine(kMaxLineBytes + 3);
        ++line_;
        const bool ended = line.endsWith('\n');
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.size() > kMaxLineBytes || (!ended && !device_.atEnd())) {
            fail(QStringLiteral("longer than %1 characters").arg(kMaxLineBytes));
            errorText_ = QStringLiteral("line %1 is %2").arg(line_).arg(errorReason_);
            return Status::Failed;
        }
        if (line_ == 1) {
            if (line.startsWith("\xEF\xBB\xBF"))
                line.remove(0, 3);
            if (line + "\r\n" == readingsCsvHeader(TemperatureUnit::Celsius))
                unit_ = TemperatureUnit::Celsius;
            else if (line + "\r\n" != readingsCsvHeader())
                return fail(
                    QStringLiteral("the header is not \"%1\" or \"%2\"")
                        .arg(QString::fromLatin1(readingsCsvHeader().trimmed()),
                             QString::fromLatin1(readingsCsvHeader(TemperatureUnit::Celsius).trimmed())));
            continue;
        }
        if (line.trimmed().isEmpty())
            continue;
        FeedFrame frame;
        QString reason;
        if (!parseReadingsCsvRow(line, &frame, &reason, unit_)) {
            if (ended)
                return fail(reason);
            note_ = QStringLiteral("line %1, the last row, is incomplete and was left out").arg(line_);
            return Status::Done;
        }
        out.push_back(frame);
        ++rows;
    }
    return Status::More;
}

ReadingsCsvReader::Status ReadingsCsvReader::fail(const QString& reason) {
    errorLine_ = line_ == 0 ? 1 : line_;
    errorReason_ = reason;
    errorText_ = QStringLiteral("line %1: %2").arg(errorLine_).arg(errorReason_);
    return Status::Failed;
}

QString ReadingsCsvReader::errorText() const {
    return errorText_;
}

}  // namespace kv
