#include "core/platform/file_write.h"
#include "core/system_reason.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kv {

namespace {

bool writeInPlace(const QString& path, const QByteArray& content, QString* reason) {
    QFile file(path);
    // Unbuffered, so that a device's refusal comes back from this write and not from a later flush.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(content) != content.size()) {
        *reason = systemReason(file.errorString());
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *reason = systemReason(file.errorString());
        return false;
    }
    return true;
}

}  // namespace

bool writeWholeFile(const QString& path, const QByteArray& content, QString* reason) {
    const QFileInfo info(path);  // through a symbolic link, to what it names
    if (info.isDir()) {
        *reason = QStringLiteral("It is a folder, not a file.");
        return false;
    }
    if (info.exists() && !info.isFile()) {
        return writeInPlace(path, content, reason);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        *reason = systemReason(file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

}  // namespace kv
