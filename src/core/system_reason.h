// The system's words for a failure, as a clause a message goes on after.
#pragma once

#include <QString>

namespace kv {

// "Disk full" rather than Windows' "Disk full.": surrounding blanks and a closing full stop are
// taken off, so "...could not be written: Disk full; 0 frames were recorded" reads as one sentence.
inline QString systemReason(const QString& text) {
    QString clause = text.trimmed();
    while (clause.endsWith(u'.'))
        clause.chop(1);
    return clause;
}

}  // namespace kv
