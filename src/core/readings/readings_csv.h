// The readings' text formats, shared by the window's recorder and kestrovar-cli monitor: CSV rows
// (RFC 4180, CR LF) and JSON lines, the local time with its offset, and number texts that read
// back to the same float. None of them depends on the locale.
#pragma once

#include "core/readings/frame_feed.h"
#include "core/readings/temperature_unit.h"
#include "core/readings/time_text.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

class QIODevice;

namespace kv {

// The shortest text that reads back to the same float; "." always, no exponent below 1e21
// unless it is shorter. Non-finite values give "nan", "inf" and "-inf".
QString shortestFloatText(float value);

// In °C the four temperatures are written as celsiusReading() under the names ending "_c"
// (input_temp_c, dew_point_c, modified_temp_c, output_temp_c) instead of "_f".
QByteArray readingsCsvHeader(TemperatureUnit unit = TemperatureUnit::Fahrenheit);
QByteArray readingsCsvRow(const FeedFrame& frame, TemperatureUnit unit = TemperatureUnit::Fahrenheit);
// {"time":"...","input_voltage_v":2.5,...,"correction_active":1} and a line feed; non-finite
// values are null.
QByteArray readingsJsonLine(const FeedFrame& frame, TemperatureUnit unit = TemperatureUnit::Fahrenheit);

// Reads back one CSV row (without its line end) written in unit, into the device's °F readings.
// false when it is not a readings row; why in *reason.
bool parseReadingsCsvRow(QByteArrayView line, FeedFrame* frame, QString* reason,
                         TemperatureUnit unit = TemperatureUnit::Fahrenheit);

// Reads a recording in steps, so that a huge file can show progress and be cancelled. The header
// line must come first, in °F or in °C (the frames hold °F either way); blank lines are skipped. A last row cut short (no line end, and not a whole
// row: the recording ended mid-write) is left out and named in note(); a line longer than any
// row could be is refused as soon as it is met, without reading the rest of it.
class ReadingsCsvReader {
  public:
    enum class Status { More, Done, Failed };
    static constexpr qint64 kMaxLineBytes = 4096;

    explicit ReadingsCsvReader(QIODevice& device) : device_(device) {}
    // Appends up to maxRows further frames to out.
    Status read(std::vector<FeedFrame>& out, int maxRows);
    // The 1-based line where reading failed, and why.
    qint64 errorLine() const { return errorLine_; }
    const QString& errorReason() const { return errorReason_; }
    // The unit of the recording, known once its header has been read.
    TemperatureUnit unit() const { return unit_; }
    // "line 12: ..." for a message.
    QString errorText() const;
    // Once Done: what was left out, for the reader to be told; empty when nothing was.
    const QString& note() const { return note_; }

  private:
    Status fail(const QString& reason);

    QIODevice& device_;
    qint64 line_ = 0;
    qint64 errorLine_ = 0;
    TemperatureUnit unit_ = TemperatureUnit::Fahrenheit;
    QString errorReason_;
    QString errorText_;
    QString note_;
};

}  // namespace kv
