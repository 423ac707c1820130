// Writing a whole file the user named: a calibration, a recording's export, a certificate.
#pragma once

#include <QByteArray>
#include <QString>

namespace kv {

// A regular file (or a name not yet taken) is replaced only once the new content is completely
// written. Anything else that is there is never replaced: a FIFO, a terminal or another device is
// written directly (a FIFO's reader gets the bytes; a full device fails with the system's reason),
// and a folder is refused. On failure *reason says why, in the system's words.
bool writeWholeFile(const QString& path, const QByteArray& content, QString* reason);

}  // namespace kv
