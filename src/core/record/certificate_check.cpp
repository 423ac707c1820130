#include "core/record/certificate_check.h"
#include "core/system_reason.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace kv {

FileStamp fileStamp(const QString& path) {
    const QFileInfo info(path);
    return {info.exists(), info.lastModified(), info.birthTime()};
}

std::optional<QString> certificateNotWritten(const QString& path, const QString& pagesReported,
                                             const FileStamp& before) {
    bool number = false;
    const int pages = pagesReported.trimmed().toInt(&number);
    if (!number || pages < 1) {
        return QStringLiteral("the drawing program reported no page");
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        return std::nullopt;
    }
    const FileStamp after = fileStamp(path);
    if (before.exists && after.exists && after.modified == before.modified && after.born == before.born) {
        return QStringLiteral("the drawing program left the file as it was");
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("the drawing program left no file: %1").arg(systemReason(file.errorString()));
    }
    const QByteArray head = file.read(5);
    const qint64 size = file.size();
    file.seek(std::max<qint64>(0, size - 1024));
    const QByteArray tail = file.readAll();
    if (head != "%PDF-" || !tail.contains("%%EOF")) {
        return QStringLiteral("the file the drawing program left is not a complete PDF");
    }
    return std::nullopt;
}

}  // namespace kv
