// The calibration history: a record of every exchange that carried a calibration, from the window and
// from kestrovar-cli, kept in a SQL database that both programs share.
//
// The location is a folder, which holds an SQLite database (history.db) for one bench, or a
// postgresql:// URI for a lab whose benches all write one PostgreSQL database. Both hold one schema
// (packaging/sql/postgresql-schema.sql keeps the PostgreSQL text, built in as history_schema.h; the
// SQLite text and the few places where the two dialects differ are in history_store.cpp). Every record is
// one transaction; the database refuses to change or remove a record, and each record carries a
// SHA-256 over all its fields and the previous record's hash, so check() proves the chain intact. The
// database keeps the chain's head (how many records, the newest one's hash) beside the records and
// guards it as it guards them; a record that does not follow the head is refused.
//
// A folder that holds a history of the earlier kind (index.txt and .cal files) and no database is
// imported on first use, in one transaction, with the same ids; its files stay where they are.
//
// The database is opened on first use, not when the store is made. Nothing here throws; a failure
// comes back as a text for the user, and a server that cannot be reached costs at most the connect
// timeout.
#pragma once

#include "core/calibration/calibration_file.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace kv {

// Operations the window records.
inline const QString kHistoryLoad = QStringLiteral("load");                    // the image as found
inline const QString kHistorySaveSent = QStringLiteral("save-sent");           // what a save sent
inline const QString kHistorySaveReadBack = QStringLiteral("save-read-back");  // what it read back
// Results.
inline const QString kHistoryReceived = QStringLiteral("received");  // an image arrived
inline const QString kHistorySent =
    QStringLiteral("sent");  // kept as the bytes went out, before any read-back
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
    QString unit;           // the unit under calibration's tag, when one was given
    QString operatorName;   // the login name; append() fills it in when empty
    QString host;           // the machine's name; append() fills it in when empty
    CalibrationTexts values;
};

struct HistoryRecord {
    QString id;      // "20261209T080001.250Z_save-sent_verified"
    qint64 seq = 0;  // the order in which the records were kept, whatever the bench's clock said
    HistoryEntry entry;
    QString databaseUser;  // on PostgreSQL, the server's own record of who inserted the row
    bool damaged = false;
    QString damage;    // why it counts as damaged, for the user
    QString sameAsId;  // the earliest other record with identical values; empty when none
};

// What check() found wrong with one record.
struct HistoryProblem {
    QString id;    // empty for a problem of the whole history (the newest records removed)
    QString what;  // "has been changed", ...
};

// Whether a unit tag or an operator's name holds a control character (a line break, a tab...),
// which would break the one-line listing and the certificate.
bool holdsControlCharacter(const QString& text);

// What check() checked, so that a lab can compare it with an earlier check.
struct HistoryCheck {
    std::size_t records = 0;
    QString newestId;  // the newest record of the chain; empty when there is none
    QString newestHash;
};

class HistoryStore {
  public:
    // A folder or a postgresql:// (or postgres://) URI.
    explicit HistoryStore(QString location);
    HistoryStore(HistoryStore&&) noexcept;
    HistoryStore& operator=(HistoryStore&&) noexcept;
    ~HistoryStore();

    // KESTROVAR_HISTORY when set (--history sets it too), otherwise kestrovar-link/history in the
    // user's data folder (the same folder for every program, whatever its application name).
    static QString defaultLocation();
    // Whether a location names a PostgreSQL server rather than a folder (the scheme in any case).
    static bool isServer(const QString& location);
    // Why a location cannot be used at all (empty, or "word://" of a scheme not known, or a URI the
    // driver would misread); empty when it can. Never shows a password.
    static QString locationProblem(const QString& location);
    // Why there is no history at a folder location (none made yet, or a file in its place); empty
    // when there is one, or the location is a server.
    QString absence() const;

    const QString& location() const { return location_; }
    // The location for messages: a URI without its password.
    QString shownLocation() const;

    struct Appended {
        QString id;     // empty when nothing was kept
        QString error;  // empty on success
    };
    Appended append(const HistoryEntry& entry);

    // Every record (or one unit's), newest first, each checked against its own hash; the whole
    // listing also against the chain. `error` tells why nothing could be read.
    std::vector<HistoryRecord> records(const QString& unit = {}, QString* error = nullptr) const;
    std::optional<HistoryRecord> find(const QString& id, QString* error = nullptr) const;
    // A record as the .cal file Save Settings to File writes, when its record is intact.
    std::optional<QByteArray> calibrationFile(const QString& id) const;
    // Walks the chain back from its head; empty when every record is intact. False when the history
    // could not be read at all.
    bool check(std::vector<HistoryProblem>* problems, QString* error, HistoryCheck* checked = nullptr) const;

  private:
    class Database;
    // Reads open the database read-only; a write reopens it for writing.
    Database* open(QString* error, bool forWriting) const;
    Database* openToRead(QString* error) const;  // also that the records can be checked

    QString location_;
    mutable std::unique_ptr<Database> db_;
    mutable bool reopen_ = false;  // a statement failed: the next use connects again
};

}  // namespace kv
