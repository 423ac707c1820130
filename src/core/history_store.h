// The calibration history: a record of every exchange that carried a calibration, from the window and
// from kestrovar-cli, kept in one folder that both programs share.
//
// The folder holds one .cal file per record, byte for byte what Save Settings to File writes, so any
// record opens with Load Settings from File. Its name carries the time (UTC) and the operation and
// result, for example 20261209T080001.250Z_save-sent_verified.cal, so the records survive the loss of
// the index. The index, index.txt, is append-only: one line per record, written in one write and
// flushed to the disk under a lock file, so two programs recording at once never interleave or lose a
// line. A line cut short by a crash is ignored; the record's .cal still lists, with what its name
// tells. Nothing here throws or waits long: every failure comes back as a text for the user.
#pragma once

#include "core/calibration_file.h"

#include <QString>

#include <optional>
#include <vector>

namespace kv {

// Operations the window records.
inline const QString kHistoryLoad = QStringLiteral("load");                    // the image as found
inline const QString kHistorySaveSent = QStringLiteral("save-sent");           // what a save sent
inline const QString kHistorySaveReadBack = QStringLiteral("save-read-back");  // what it read back
// Results.
inline const QString kHistoryReceived = QStringLiteral("received");        // an image arrived
inline const QString kHistoryVerified = QStringLiteral("verified");        // read back as sent
inline const QString kHistoryFailed = QStringLiteral("failed");            // read back otherwise
inline const QString kHistoryNoReadBack = QStringLiteral("no read-back");  // nothing came back

struct HistoryEntry {
    qint64 timeMs = 0;  // milliseconds since 1970-01-01 UTC
    QString operation;
    QString result;
    QString program;  // "kestrovar-link 1.0.0"
    QString portPath;
    QString adapterName;    // the adapter's stable name (such as /dev/serial/by-id/...), when known
    QString adapterSerial;  // the adapter's serial number, when known
    CalibrationTexts values;
    QString unit{};          // the unit's tag, when one was given
    QString operatorName{};  // who did the work
    QString host{};          // the machine it was done on
};

struct HistoryRecord {
    QString id;  // the .cal file's name without ".cal"
    HistoryEntry entry;
    bool damaged = false;
    QString damage;    // why it counts as damaged, for the user
    QString sameAsId;  // the earliest other record with identical values; empty when none
};

class HistoryStore {
  public:
    explicit HistoryStore(QString directory);

    // KESTROVAR_HISTORY when set, otherwise kestrovar-link/history in the user's data folder (the same
    // folder for every program, whatever its application name).
    static QString defaultDirectory();
    // RFC 3339 with the local offset and milliseconds: 2026-12-09T09:00:01.250+01:00.
    static QString rfc3339(qint64 timeMs);

    const QString& directory() const { return directory_; }

    struct Appended {
        QString id;     // empty when nothing was kept
        QString error;  // empty on success
    };
    Appended append(const HistoryEntry& entry);

    // Every record, newest first. The index is trusted for what a record is; each .cal is checked
    // for being there (find() compares its bytes).
    std::vector<HistoryRecord> records() const;
    // One record by its id, its .cal read and compared with the index: a changed file is damaged.
    std::optional<HistoryRecord> find(const QString& id) const;
    // The .cal file's bytes of a record, as stored.
    std::optional<QByteArray> calibrationFile(const QString& id) const;
    // Writes the index anew from the .cal files, keeping what intact index lines add to their names.
    bool rebuildIndex(QString* error);

    QString indexPath() const;

  private:
    QString directory_;
};

}  // namespace kv
