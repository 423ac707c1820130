// The readings' text formats, shared by the window's recorder and kestrovar-cli monitor: CSV rows
// (RFC 4180, CR LF) and JSON lines, the local time with its offset, and number texts that read
// back to the same float. None of them depends on the locale.
#pragma once

#include "core/frame_feed.h"
#include "core/time_text.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

class QIODevice;

namespace kv {

// The shortest text that reads back to the same float; "." always, no exponent below 1e21
// unless it is shorter. Non-finite values give "nan", "inf" and "-inf".
QString shortestFloatText(float value);

QByteArray readingsCsvHeader();
QByteArray readingsCsvRow(const FeedFrame& frame);
// {"time":"...","input_voltage_v":2.5,...,"correction_active":1} and a line feed; non-finite
// values are null.
QByteArray readingsJsonLine(const FeedFrame& frame);

// Reads back one CSV row (without its line end). false when it is not a readings row; why in
// *reason.
bool parseReadingsCsvRow(QByteArrayView line, FeedFrame* frame, QString* reason);

// Reads a recording in steps, so that a huge file can show progress and be cancelled. The header
// line must come first; blank lines are skipped.
class ReadingsCsvReader {
  public:
    enum class Status { More, Done, Failed };

    explicit ReadingsCsvReader(QIODevice& device) : device_(device) {}
    // Appends up to maxRows further frames to out.
    Status read(std::vector<FeedFrame>& out, int maxRows);
    // The 1-based line where reading failed, and why.
    qint64 errorLine() const { return errorLine_; }
    const QString& errorReason() const { return errorReason_; }
    // "line 12: ..." for a message.
    QString errorText() const;

  private:
    Status fail(const QString& reason);

    QIODevice& device_;
    qint64 line_ = 0;
    qint64 errorLine_ = 0;
    QString errorReason_;
};

}  // namespace kv
