// Records every frame into a CSV file: the header when it starts, then one row per frame, each
// written in one piece and flushed, so that a crash or a full disk leaves only complete rows.
#pragma once

#include "core/readings/frame_feed.h"
#include "core/readings/temperature_unit.h"

#include <QString>

#include <memory>

class QIODevice;

namespace kv {

class ReadingsRecorder {
  public:
    ReadingsRecorder();
    ~ReadingsRecorder();

    // Whether start could create or replace the file at path, found without touching it; why not.
    static bool writable(const QString& path, QString* reason);
    // Creates or replaces the file at path and writes the header. false, and why, when it cannot;
    // nothing is recorded then.
    bool start(const QString& path, qint64 nowMs, QString* reason);
    // The same over a device already open for writing (named path in messages).
    bool start(std::unique_ptr<QIODevice> device, const QString& path, qint64 nowMs, QString* reason);
    // Appends the frame's row. When the write fails the recording stops, the file is cut back to
    // its last complete row and false is returned with the reason.
    bool record(const FeedFrame& frame, QString* reason);
    // false, with the reason, when the file's name no longer leads to it (the file or its folder
    // was removed): writing on would lose every further row without a word. The recording stops.
    bool check(QString* reason);
    void stop();
    // The temperatures of the rows from the next start on; °F unless told.
    void setUnit(TemperatureUnit unit) { unit_ = unit; }

    bool recording() const { return device_ != nullptr; }
    const QString& path() const { return path_; }
    qint64 startedMs() const { return startedMs_; }
    qint64 rows() const { return rows_; }

  private:
    bool write(const QByteArray& bytes, QString* reason);

    std::unique_ptr<QIODevice> device_;
    QString path_;
    qint64 startedMs_ = 0;
    qint64 rows_ = 0;
    qint64 goodSize_ = 0;
    TemperatureUnit unit_ = TemperatureUnit::Fahrenheit;
};

}  // namespace kv
