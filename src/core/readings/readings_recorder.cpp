#include "core/readings/readings_recorder.h"
#include "core/system_reason.h"

#include "core/readings/readings_csv.h"

#include <QFile>
#include <QFileInfo>

namespace kv {

ReadingsRecorder::ReadingsRecorder() = default;
ReadingsRecorder::~ReadingsRecorder() {
    stop();
}

bool ReadingsRecorder::start(const QString& path, qint64 nowMs, QString* reason) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *reason = systemReason(file->errorString());
        return false;
    }
    return start(std::move(file), path, nowMs, reason);
}

bool ReadingsRecorder::start(std::unique_ptr<QIODevice> device, const QString& path, qint64 nowMs,
                             QString* reason) {
    stop();
    device_ = std::move(device);
    path_ = path;
    startedMs_ = nowMs;
    rows_ = 0;
    goodSize_ = 0;
    return write(readingsCsvHeader(unit_), reason);
}

bool ReadingsRecorder::record(const FeedFrame& frame, QString* reason) {
    if (!check(reason))
        return false;
    if (!write(readingsCsvRow(frame, unit_), reason))
        return false;
    ++rows_;
    return true;
}

bool ReadingsRecorder::check(QString* reason) {
    if (!device_)
        return false;
    auto* file = qobject_cast<QFile*>(device_.get());
    if (file && !QFileInfo::exists(file->fileName())) {
        *reason = QStringLiteral("the file or its folder was removed");
        stop();
        return false;
    }
    return true;
}

bool ReadingsRecorder::writable(const QString& path, QString* reason) {
    const QFileInfo info(path);
    if (info.isDir() || path.endsWith(u'/')) {
        *reason = QStringLiteral("it is a folder, not a file");
        return false;
    }
    if (info.exists()) {
        if (!info.isWritable()) {
            *reason = QStringLiteral("no permission to write it");
            return false;
        }
        return true;
    }
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir()) {
        *reason = QStringLiteral("its folder %1 is not there").arg(info.path());
        return false;
    }
    if (!folder.isWritable()) {
        *reason = QStringLiteral("no permission to create files in %1").arg(info.path());
        return false;
    }
    return true;
}

bool ReadingsRecorder::write(const QByteArray& bytes, QString* reason) {
    auto* file = qobject_cast<QFileDevice*>(device_.get());
    bool ok = device_->write(bytes) == bytes.size();
    if (ok && file)
        ok = file->flush();
    if (ok) {
        goodSize_ += bytes.size();
        return true;
    }
    *reason = systemReason(device_->errorString());
    if (file) {
        // A short write leaves part of a row; what was complete before it stays.
        file->unsetError();
        file->resize(goodSize_);
    }
    stop();
    return false;
}

void ReadingsRecorder::stop() {
    if (device_)
        device_->close();
    device_.reset();
}

}  // namespace kv
