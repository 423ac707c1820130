// The program's version ("1.0.0"), the one text the About box, --version and the history records
// all show.
#pragma once

#include <QString>

namespace kv {

inline QString programVersion() {
    return QStringLiteral("%1.%2.%3").arg(KV_VERSION_MAJOR).arg(KV_VERSION_MINOR).arg(KV_VERSION_PATCH);
}

}  // namespace kv
