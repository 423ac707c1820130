// What a drawing program's success is worth: the certificate it says it wrote, checked.
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace kv {

// A file as it was before the drawing program ran, so that a file it left alone is not taken for
// its work.
struct FileStamp {
    bool exists = false;
    QDateTime modified;
    QDateTime born;
};
FileStamp fileStamp(const QString& path);

// Why the certificate at path cannot be taken as written, or nothing when it can: pagesReported is
// the drawing program's own count. A regular file must be new since before, and a whole PDF (its
// header and its end mark); what is written into a FIFO or a device cannot be read back, and only
// the count is checked.
std::optional<QString> certificateNotWritten(const QString& path, const QString& pagesReported,
                                             const FileStamp& before);

}  // namespace kv
