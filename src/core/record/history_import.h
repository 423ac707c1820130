// What the calibration store keeps of the folder history that came before the database: the reading
// of its index.txt and .cal files for the import, and the texts of a .cal's bytes.
#pragma once

#include "core/record/history_store.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <vector>

namespace kv {

// One record of a folder history, as the import takes it.
struct FolderRecord {
    QString id;
    HistoryEntry entry;
    QByteArray cal;  // the .cal's bytes, or the copy its index line holds
};

// Whether a folder holds a history of the folder kind: index.txt or a .cal file.
bool holdsFolderHistory(const QString& directory);
// Its records, oldest first: each index line intact or not, each .cal the index does not know of.
// Records of which nothing but the name is left are not taken.
std::vector<FolderRecord> readFolderHistory(const QString& directory);

// A record id: TIME_OPERATION_RESULT with TIME as 20261209T080001.250Z; in the operation and the
// result letters, digits, "." and "-" stand for themselves, a space is "+", anything else %XX.
QString historyId(qint64 timeMs, const QString& operation, const QString& result);

// The texts of a .cal file's bytes, and whether they are a calibration: five lines with 5, 6 and 30
// fields in the first three, ended by CR LF as the programs write them, or by LF or CR as the
// earlier programs' readers also took them. For a long listing: the few different texts of a history ("0" to
// "255", "Yes") are made once and shared.
class CalTextReader {
  public:
    CalibrationTexts read(const QByteArray& content, bool* exact);

  private:
    QString shared(QByteArrayView text);
    QHash<QByteArray, QString> made_;
};

}  // namespace kv
