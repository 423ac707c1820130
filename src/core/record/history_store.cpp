#include "core/record/history_store.h"

#include "core/record/history_import.h"
#include "core/record/history_schema.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>
#include <QVariant>

#ifdef KV_HAVE_OPENSSL
#include <openssl/evp.h>
#else
#include <QCryptographicHash>
#endif

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>
#include <utility>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace kv {

namespace {

constexpr int kSchemaVersion = 2;
constexpr int kChainVersion = 2;  // the hash rule of new records; see recordHash
constexpr int kConnectTimeoutSeconds = 5;
constexpr int kBusyTimeoutMs = 10000;
const QString kDatabaseFile = QStringLiteral("history.db");

// ---- the two dialects: everything that differs between SQLite and PostgreSQL -------------------

struct Dialect {
    QString driver;
    QString schema;           // the statements that make schema version 1, ";\n" between statements
    QString upgrade;          // those that make version 2 of version 1, the same way
    QString tableCount;       // how many of the two tables exist
    QString beginAppend;      // begins a transaction in which appends take turns
    QString takeTurn;         // then waits for the other writers; empty when beginAppend already did
    QString beginRead;        // begins a transaction that sees one moment of the history
    bool stampsUser = false;  // the server records its own user on every row
    // A text column as a listing reads it: SQLite hands out its UTF-8 bytes as they are, without
    // making UTF-16 of them first.
    QString listedText = QStringLiteral("%1");
};

const Dialect& sqliteDialect() {
    static const Dialect dialect{
        QStringLiteral("QSQLITE"),
        QStringLiteral(
            "CREATE TABLE history_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);\n"
            "CREATE TABLE calibration_records (seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, "
            "time_ms INTEGER NOT NULL, operation TEXT NOT NULL, result TEXT NOT NULL, program TEXT NOT NULL, "
            "port TEXT NOT NULL, adapter TEXT NOT NULL, adapter_serial TEXT NOT NULL, unit TEXT NOT NULL, "
            "operator TEXT NOT NULL, host TEXT NOT NULL, cal BLOB NOT NULL, prev_hash TEXT NOT NULL, "
            "hash TEXT NOT NULL);\n"
            "CREATE INDEX calibration_records_unit ON calibration_records (unit, time_ms);\n"
            "CREATE INDEX calibration_records_time ON calibration_records (time_ms);\n"
            "CREATE TRIGGER calibration_records_no_update BEFORE UPDATE ON calibration_records BEGIN "
            "SELECT RAISE(ABORT, 'calibration records cannot be changed or removed'); END;\n"
            "CREATE TRIGGER calibration_records_no_delete BEFORE DELETE ON calibration_records BEGIN "
            "SELECT RAISE(ABORT, 'calibration records cannot be changed or removed'); END;\n"
            "INSERT INTO history_meta (key, value) VALUES ('schema_version', '1')"),
        // Version 2; see packaging/sql/postgresql-schema.sql. Every refusal is a BEFORE trigger, so
        // INSERT OR REPLACE cannot remove a row on the way.
        QStringLiteral(
            "ALTER TABLE calibration_records ADD COLUMN chain INTEGER NOT NULL DEFAULT 1;\n"
            "CREATE TABLE history_head (one INTEGER PRIMARY KEY CHECK (one = 1), records INTEGER NOT NULL, "
            "seq INTEGER NOT NULL, hash TEXT NOT NULL);\n"
            "INSERT INTO history_head (one, records, seq, hash) SELECT 1, count(*), coalesce(max(seq), 0), "
            "coalesce((SELECT hash FROM calibration_records ORDER BY seq DESC LIMIT 1), '') "
            "FROM calibration_records;\n"
            "UPDATE history_meta SET value = '2' WHERE key = 'schema_version';\n"
            "CREATE TRIGGER calibration_records_follow BEFORE INSERT ON calibration_records WHEN NEW.chain "
            "IS NOT 2 "
            "OR NEW.seq IS NOT (SELECT seq + 1 FROM history_head) OR NEW.prev_hash IS NOT (SELECT hash FROM "
            "history_head) BEGIN SELECT RAISE(ABORT, 'a calibration record must follow the newest record'); "
            "END;\n"
            "CREATE TRIGGER calibration_records_no_replace BEFORE INSERT ON calibration_records WHEN EXISTS "
            "(SELECT 1 FROM calibration_records WHERE seq = NEW.seq OR id = NEW.id) BEGIN "
            "SELECT RAISE(ABORT, 'calibration records cannot be changed or removed'); END;\n"
            "CREATE TRIGGER calibration_records_advance AFTER INSERT ON calibration_records BEGIN "
            "UPDATE history_head SET records = records + 1, seq = NEW.seq, hash = NEW.hash; END;\n"
            "CREATE TRIGGER history_head_follow BEFORE UPDATE ON history_head WHEN NEW.one IS NOT 1 "
            "OR NEW.records IS NOT OLD.records + 1 OR NEW.seq <= OLD.seq OR NOT EXISTS (SELECT 1 FROM "
            "calibration_records r WHERE r.seq = NEW.seq AND r.hash = NEW.hash AND r.prev_hash = OLD.hash) "
            "BEGIN SELECT RAISE(ABORT, 'the head of the calibration records only follows them'); END;\n"
            "CREATE TRIGGER history_head_no_insert BEFORE INSERT ON history_head BEGIN "
            "SELECT RAISE(ABORT, 'calibration records cannot be changed or removed'); END;\n"
            "CREATE TRIGGER history_head_no_delete BEFORE DELETE ON history_head BEGIN "
            "SELECT RAISE(ABORT, 'calibration records cannot be changed or removed'); END;\n"
            "CREATE TRIGGER history_meta_no_update BEFORE UPDATE ON history_meta BEGIN "
            "SELECT RAISE(ABORT, 'calibration records cannot be changed or removed'); END;\n"
            "CREATE TRIGGER history_meta_no_delete BEFORE DELETE ON history_meta BEGIN "
            "SELECT RAISE(ABORT, 'calibration records cannot be changed or removed'); END;\n"
            "CREATE TRIGGER history_meta_no_replace BEFORE INSERT ON history_meta WHEN EXISTS (SELECT 1 FROM "
            "history_meta WHERE key = NEW.key) BEGIN "
            "SELECT RAISE(ABORT, 'calibration records cannot be changed or removed'); END"),
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                       "('history_meta', 'calibration_records')"),
        QStringLiteral("BEGIN IMMEDIATE"), QString(), QStringLiteral("BEGIN"), false,
        QStringLiteral("CAST(%1 AS BLOB)")};
    return dialect;
}

// The PostgreSQL text is version 1, then from this line on what makes version 2 of it.
const QString kPostgresUpgradeStart = QStringLiteral("\n-- Schema version 2:");

const Dialect& postgresDialect() {
    static const QString text = QString::fromUtf8(kPostgresSchema);
    static const Dialect dialect{
        QStringLiteral("QPSQL"), text.left(text.indexOf(kPostgresUpgradeStart)),
        text.mid(text.indexOf(kPostgresUpgradeStart)),
        QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                       "AND table_name IN ('history_meta', 'calibration_records')"),
        QStringLiteral("BEGIN"),
        // Any user may take an advisory lock; a technician may not lock the table itself.
        QStringLiteral("SELECT pg_advisory_xact_lock(7301016)"),
        QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), true};
    return dialect;
}

// ---- locations ---------------------------------------------------------------------------------

// A postgresql:// URI in libpq's own form, as libpq's keywords; what it does not name (password,
// host, sslmode...) libpq takes from PGPASSWORD, ~/.pgpass, PGHOST, PGSSLMODE and the rest.
struct ServerAddress {
    QStringList options;  // key='value', for QSqlDatabase::setConnectOptions
    QString user;         // these the driver quotes itself
    QString host;
    QString database;
    int port = -1;
    QString password;
    QString shown;    // the URI without its password
    QString problem;  // why the URI cannot be handed to the driver as it is
};

QString quotedOption(const QString& value) {
    QString v = value;
    v.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + v + u'\'';
}

QString decoded(const QString& text) {
    return QUrl::fromPercentEncoding(text.toUtf8());
}

ServerAddress serverAddress(const QString& uri) {
    ServerAddress address;
    QString rest = uri.mid(uri.indexOf(QStringLiteral("://")) + 3);
    QString query;
    if (const qsizetype q = rest.indexOf(u'?'); q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    QString path;
    if (const qsizetype slash = rest.indexOf(u'/'); slash >= 0) {
        path = rest.mid(slash + 1);
        rest.truncate(slash);
    }
    QString user;
    if (const qsizetype at = rest.lastIndexOf(u'@'); at >= 0) {
        user = rest.left(at);
        rest = rest.mid(at + 1);
        if (const qsizetype colon = user.indexOf(u':'); colon >= 0) {
            address.password = decoded(user.mid(colon + 1));
            user.truncate(colon);
        }
        address.user = decoded(user);
    }
    // host[:port][,host[:port]...], a host in brackets for IPv6
    QStringList hosts;
    QStringList ports;
    for (const QString& hostPort : rest.split(u',', Qt::SkipEmptyParts)) {
        QString host = hostPort;
        QString port;
        const qsizetype close = hostPort.indexOf(u']');
        const qsizetype colon = hostPort.lastIndexOf(u':');
        if (hostPort.startsWith(u'[') && close > 0) {
            host = hostPort.mid(1, close - 1);
            port = hostPort.mid(close + 1).startsWith(u':') ? hostPort.mid(close + 2) : QString();
        } else if (colon >= 0) {
            host = hostPort.left(colon);
            port = hostPort.mid(colon + 1);
        }
        hosts << decoded(host);
        ports << port;
    }
    if (!hosts.isEmpty()) {
        address.host = hosts.join(u',');
        bool number = false;
        const int port = ports.join(u',').toInt(&number);
        if (number && ports.size() == 1) {
            address.port = port;
        } else if (!ports.join(QString()).isEmpty()) {
            address.options << QStringLiteral("port=") + quotedOption(ports.join(u','));
        }
    }
    if (!path.isEmpty()) {
        address.database = decoded(path);
    }
    bool timeoutGiven = false;
    QStringList shownQuery;
    for (const QString& pair : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        const QString key = decoded(pair.left(eq));
        const QString value = eq < 0 ? QString() : decoded(pair.mid(eq + 1));
        if (key == QStringLiteral("password")) {
            address.password = value;
            continue;
        }
        timeoutGiven |= key == QStringLiteral("connect_timeout");
        // Qt's driver makes every ';' of its connect options a space, quoted or not.
        if ((key + value).contains(u';') && address.problem.isEmpty()) {
            address.problem = QStringLiteral("a ';' in the URI's %1 cannot be handed to PostgreSQL").arg(key);
        }
        address.options << key + u'=' + quotedOption(value);
        shownQuery << pair;
    }
    if (!timeoutGiven) {
        // A server that does not answer costs this much and no more.
        address.options << QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds);
    }
    address.shown = uri.left(uri.indexOf(QStringLiteral("://")) + 3) +
                    (user.isEmpty() ? QString() : user + u'@') + rest +
                    (path.isEmpty() ? QString() : u'/' + path) +
                    (shownQuery.isEmpty() ? QString() : u'?' + shownQuery.join(u'&'));
    return address;
}

QString folderOf(const QString& location) {
    return QDir::cleanPath(location);  // also takes off a trailing slash
}

// ---- people and machines -----------------------------------------------------------------------

QString loginName() {
#ifdef Q_OS_UNIX
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_name) {
        return QString::fromLocal8Bit(user->pw_name);
    }
#endif
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? qEnvironmentVariable("USERNAME") : user;
}

// ---- the hash chain ----------------------------------------------------------------------------

// What a record's hash covers. Chain 1 (the records of schema version 1): the id, the entry, the .cal
// and the previous hash. Chain 2: every stored field, the chain rule, seq and the database user too.
struct Sealed {
    int chain = kChainVersion;
    qint64 seq = 0;
    QString dbUser;
    QString prevHash;
};

QString recordHash(const QString& id, const HistoryEntry& e, const QByteArray& cal, const Sealed& sealed);

// A record as read, and what the chain needs of it. Records are big (43 texts); they are made in
// place in their own vector and never moved around, the links beside them.
struct Link {
    Sealed sealed;
    QByteArray cal;
    QString hash;
};
struct Rows {
    std::vector<HistoryRecord> records;
    std::vector<Link> links;
    // Whether record i's hash is its content's, with its own seq or the one given.
    bool intact(std::size_t i, std::optional<qint64> seq = std::nullopt) const {
        const HistoryRecord& r = records[i];
        Sealed sealed = links[i].sealed;
        sealed.seq = seq.value_or(sealed.seq);
        return recordHash(r.id, r.entry, links[i].cal, sealed) == links[i].hash;
    }
};

#ifdef KV_HAVE_OPENSSL
// libcrypto's SHA-256 uses the processor's SHA instructions; a listing hashes every record. Null
// when OpenSSL's configuration offers no SHA-256: then no record can be proved intact or kept.
const EVP_MD* sha256Digest() {
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return sha256;
}
bool sha256Available() {
    return sha256Digest() != nullptr;
}
#else
// Built without OpenSSL: Qt's own SHA-256, the same hashes.
bool sha256Available() {
    return true;
}
#endif
const QString kNoSha256 = QStringLiteral("OpenSSL offers no SHA-256 (see OPENSSL_CONF)");

QString recordHash(const QString& id, const HistoryEntry& e, const QByteArray& cal, const Sealed& sealed) {
    // Each field with its length in front, so no two different records give the same bytes.
    thread_local std::string content;
    content.clear();
    auto add = [](const char* data, std::size_t size) {
        char length[24];
        const auto end = std::to_chars(length, length + sizeof length, size).ptr;
        content.append(length, end);
        content += ':';
        content.append(data, size);
    };
    auto addBytes = [&add](const QByteArray& bytes) { add(bytes.constData(), std::size_t(bytes.size())); };
    auto addNumber = [&add](qint64 number) {
        char digits[24];
        add(digits, std::size_t(std::to_chars(digits, digits + sizeof digits, number).ptr - digits));
    };
    if (sealed.chain >= 2) {
        addNumber(sealed.chain);
        addNumber(sealed.seq);
    }
    addBytes(id.toUtf8());
    addNumber(e.timeMs);
    for (const QString* text : {&e.operation, &e.result, &e.program, &e.portPath, &e.adapterName,
                                &e.adapterSerial, &e.unit, &e.operatorName, &e.host}) {
        addBytes(text->toUtf8());
    }
    if (sealed.chain >= 2) {
        addBytes(sealed.dbUser.toUtf8());
    }
    addBytes(cal);
    addBytes(sealed.prevHash.toLatin1());
    if (sealed.chain < 1 || sealed.chain > kChainVersion) {
        return {};  // matches no stored hash: the record counts as damaged rather than as intact
    }
#ifndef KV_HAVE_OPENSSL
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromRawData(content.data(), qsizetype(content.size())),
                                 QCryptographicHash::Sha256)
            .toHex());
#else
    const EVP_MD* const sha256 = sha256Digest();
    thread_local const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                                       &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (sealed.chain < 1 || sealed.chain > kChainVersion || !sha256 || !context ||
        !EVP_DigestInit_ex2(context.get(), sha256, nullptr) ||
        !EVP_DigestUpdate(context.get(), content.data(), content.size()) ||
        !EVP_DigestFinal_ex(context.get(), digest, &size)) {
        return {};  // matches no stored hash: the record counts as damaged rather than as intact
    }
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(size)).toHex());
#endif
}

const QString kChanged = QStringLiteral("has been changed since it was kept");
const QString kInserted = QStringLiteral("was not kept by the programs: it has been inserted");
const QString kRemovedBefore = QStringLiteral("follows a record that has been removed");
const QString kMoved = QStringLiteral("has been moved out of its place among the records");
const QString kNotACalibration = QStringLiteral("holds values that are not a calibration");

// The chain's head as the database keeps it (schema version 2).
struct Head {
    qint64 records = 0;
    qint64 seq = 0;
    QString hash;
};

// Names each break in the chain. The chain is walked back from its head (or, with none kept, from
// the newest intact record) along the previous hashes: a record the walk does not reach was
// inserted; one it reaches whose hash is not its content's was changed, or moved when it holds under
// the place the chain gives it; a previous hash that names no record follows a removal, and the walk
// goes on from the newest record before it. `summary` tells what was checked.
std::vector<HistoryProblem> chainProblems(const Rows& rows, const std::optional<Head>& head,
                                          HistoryCheck* summary) {
    std::vector<HistoryProblem> problems;
    const std::vector<Link>& links = rows.links;
    const std::size_t n = links.size();
    // Rows come newest first by seq: place k, oldest first, is row n - 1 - k.
    auto row = [n](std::size_t k) { return n - 1 - k; };
    QMultiHash<QString, std::size_t> byHash;
    byHash.reserve(qsizetype(n));
    for (std::size_t k = 0; k < n; ++k) {
        byHash.insert(links[row(k)].hash, k);
    }
    std::vector<char> intact(n);
    for (std::size_t k = 0; k < n; ++k) {
        intact[k] = rows.intact(row(k));
    }
    std::vector<char> reached(n, 0);
    // The record a hash names: an intact one first, then the newest before `below`.
    auto named = [&](const QString& hash, std::size_t below) -> std::optional<std::size_t> {
        std::optional<std::size_t> best;
        for (auto it = byHash.constFind(hash); it != byHash.constEnd() && it.key() == hash; ++it) {
            const std::size_t k = *it;
            if (reached[k]) {
                continue;
            }
            const auto rank = [&](std::size_t c) { return std::pair(intact[c] != 0, c < below ? c + 1 : 0); };
            if (!best || rank(k) > rank(*best)) {
                best = k;
            }
        }
        return best;
    };
    // Whether record k names the record just before it in seq as its previous (or is the first), as a
    // record the programs kept does, changed or not; an inserted one seldom does.
    auto inPlace = [&](std::size_t k) {
        const QString& previous = links[row(k)].sealed.prevHash;
        if (previous.isEmpty()) {
            return k == 0;
        }
        for (auto it = byHash.constFind(previous); it != byHash.constEnd() && it.key() == previous; ++it) {
            if (*it + 1 == k) {
                return true;
            }
        }
        return false;
    };
    // Where the walk goes on before `below`: the newest record not reached that is in its place, else
    // the newest intact one, else the newest.
    auto newestBefore = [&](std::size_t below) -> std::optional<std::size_t> {
        std::optional<std::size_t> whole;
        std::optional<std::size_t> any;
        for (std::size_t k = below; k-- > 0;) {
            if (reached[k]) {
                continue;
            }
            if (inPlace(k)) {
                return k;
            }
            if (!whole && intact[k]) {
                whole = k;
            }
            if (!any) {
                any = k;
            }
        }
        return whole ? whole : any;
    };
    std::vector<std::size_t> chain;  // newest first
    std::optional<std::size_t> at;
    std::optional<HistoryProblem> headProblem;  // said last: it is about the newest records
    if (head && head->records > 0) {
        at = named(head->hash, n);
        if (!at) {
            const std::optional<std::size_t> left = newestBefore(n);
            headProblem = HistoryProblem(
                {{},
                 left ? QStringLiteral("the records kept after %1 have been removed: the history held %2 "
                                       "records, the newest with hash %3")
                            .arg(rows.records[row(*left)].id)
                            .arg(head->records)
                            .arg(head->hash.left(12))
                      : QStringLiteral("every record has been removed: the history held %1 records, the "
                                       "newest with hash %2")
                            .arg(head->records)
                            .arg(head->hash.left(12))});
            at = left;
        }
    } else {
        at = newestBefore(n);
    }
    std::vector<std::size_t> removedBefore;
    while (at) {
        const std::size_t k = *at;
        reached[k] = 1;
        chain.push_back(k);
        const QString& previous = links[row(k)].sealed.prevHash;
        if (previous.isEmpty()) {
            break;  // the first record
        }
        at = named(previous, k);
        if (!at) {
            removedBefore.push_back(k);
            at = newestBefore(k);
        }
    }
    // Oldest first along the chain; place i should hold the i-th smallest seq of the chain.
    std::reverse(chain.begin(), chain.end());
    std::vector<qint64> seqs;
    seqs.reserve(chain.size());
    for (std::size_t k : chain) {
        seqs.push_back(links[row(k)].sealed.seq);
    }
    std::sort(seqs.begin(), seqs.end());
    std::vector<QString> what(n);
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const std::size_t k = chain[i];
        const qint64 seq = links[row(k)].sealed.seq;
        if (seq != seqs[i] && (intact[k] || rows.intact(row(k), seqs[i]))) {
            what[k] = kMoved;
        } else if (!intact[k]) {
            what[k] = kChanged;
        }
    }
    for (std::size_t k : removedBefore) {
        if (what[k].isEmpty()) {
            what[k] = kRemovedBefore;
        }
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (!reached[k]) {
            what[k] = kInserted;
        } else if (what[k].isEmpty() && rows.records[row(k)].damaged) {
            what[k] = kNotACalibration;
        }
        if (!what[k].isEmpty()) {
            problems.push_back({rows.records[row(k)].id, what[k]});
        }
    }
    if (headProblem) {
        problems.push_back(*headProblem);
    }
    if (summary) {
        summary->records = n;
        if (!chain.empty()) {
            summary->newestId = rows.records[row(chain.back())].id;
            summary->newestHash = links[row(chain.back())].hash;
        }
    }
    return problems;
}

QString oneLine(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        lines << line.simplified();
    }
    return lines.join(QStringLiteral("; "));
}

QString sqlError(const QSqlError& error) {
    const QString database = oneLine(error.databaseText());
    return database.isEmpty() ? oneLine(error.driverText()) : database;
}

QAtomicInt connectionCount;

// A text as read: UTF-8 bytes (see Dialect::listedText) or already a text.
QString textOf(const QVariant& value) {
    return value.typeId() == QMetaType::QByteArray ? QString::fromUtf8(value.toByteArray())
                                                   : value.toString();
}

// A server that could not be reached is not tried again for a while, by any store of the process: a
// command that keeps several records waits for one connect timeout, not one a record.
constexpr auto kUnreachableFor = std::chrono::seconds(60);
struct Unreachable {
    QString error;
    std::chrono::steady_clock::time_point since;
};
QMutex unreachableLock;
QHash<QString, Unreachable> unreachableServers;

std::optional<QString> unreachable(const QString& location) {
    const QMutexLocker locker(&unreachableLock);
    const auto found = unreachableServers.constFind(location);
    if (found == unreachableServers.constEnd() ||
        std::chrono::steady_clock::now() - found->since >= kUnreachableFor) {
        return std::nullopt;
    }
    return found->error;
}

void setUnreachable(const QString& location, const QString& error) {
    const QMutexLocker locker(&unreachableLock);
    if (error.isEmpty()) {
        unreachableServers.remove(location);
    } else {
        unreachableServers.insert(location, {error, std::chrono::steady_clock::now()});
    }
}

}  // namespace

// ---- the database ------------------------------------------------------------------------------

class HistoryStore::Database {
  public:
    Database(const Dialect& dialect, const QString& name) : dialect(dialect), name(name) {}
    ~Database() {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    // Runs one statement with its values; false with `error` set when it failed.
    bool run(QSqlQuery& query, const QString& sql, const QVariantList& values, QString* error) const {
        query.setForwardOnly(true);
        bool ok = false;
        if (values.isEmpty()) {
            ok = query.exec(sql);
        } else {
            ok = query.prepare(sql);
            for (const QVariant& value : values) {
                // An empty text is an empty text, not NULL.
                const bool nullText = value.typeId() == QMetaType::QString && value.toString().isNull();
                query.addBindValue(nullText ? QVariant(QStringLiteral("")) : value);
            }
            ok = ok && query.exec();
        }
        if (!ok && error) {
            *error = sqlError(query.lastError());
        }
        return ok;
    }
    bool run(const QString& sql, QString* error) const {
        QSqlQuery query(db());
        return run(query, sql, {}, error);
    }

    // One record in one transaction: its id, or empty with `problem` set when nothing was kept.
    QString append(const HistoryEntry& entry, QString* problem) const;
    // Every row (or one unit's) and, for the whole history, the chain's head, in one transaction.
    bool read(const QString& unit, Rows* rows, std::optional<Head>* head, QString* problem) const;

    const Dialect& dialect;
    QString name;
    bool writable = true;  // opened to keep records, not only to read them
    int version = 0;       // the schema version, 1 when it could not be upgraded
};

bool holdsControlCharacter(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        const QChar::Category category = c.category();
        return category == QChar::Other_Control || category == QChar::Separator_Line ||
               category == QChar::Separator_Paragraph;
    });
}

HistoryStore::HistoryStore(QString location) : location_(std::move(location)) {}
HistoryStore::HistoryStore(HistoryStore&&) noexcept = default;
HistoryStore& HistoryStore::operator=(HistoryStore&&) noexcept = default;
HistoryStore::~HistoryStore() = default;

QString HistoryStore::defaultLocation() {
    const QString chosen = qEnvironmentVariable("KESTROVAR_HISTORY");
    if (!chosen.isEmpty()) {
        return chosen;
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/kestrovar-link/history");
}

bool HistoryStore::isServer(const QString& location) {
    return location.startsWith(QStringLiteral("postgresql://"), Qt::CaseInsensitive) ||
           location.startsWith(QStringLiteral("postgres://"), Qt::CaseInsensitive);
}

QString HistoryStore::locationProblem(const QString& location) {
    if (location.trimmed().isEmpty()) {
        return QStringLiteral("the history location is empty");
    }
    if (isServer(location)) {
        return serverAddress(location).problem;
    }
    // "word://" is a URI, never a folder: a scheme mistyped would put the password in a folder's name.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]+)://"));
    if (const QRegularExpressionMatch match = scheme.match(location); match.hasMatch()) {
        return QStringLiteral(
                   "the history location's scheme \"%1://\" is not known: a history is a folder "
                   "or a postgresql:// (or postgres://) URI")
            .arg(match.captured(1));
    }
    return {};
}

QString HistoryStore::absence() const {
    if (isServer(location_) || !locationProblem(location_).isEmpty()) {
        return {};  // a server is known only once reached
    }
    const QString folder = folderOf(location_);
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        return QStringLiteral("there is no calibration history in \"%1\": it is a file, not a folder")
            .arg(shownLocation());
    }
    if (!QFileInfo::exists(folder + u'/' + kDatabaseFile) && !holdsFolderHistory(folder)) {
        return QStringLiteral("there is no calibration history in \"%1\"").arg(shownLocation());
    }
    return {};
}

QString HistoryStore::shownLocation() const {
    if (isServer(location_)) {
        return serverAddress(location_).shown;
    }
    if (!locationProblem(location_).isEmpty()) {
        return QStringLiteral("(no valid location)");  // never a password written into a folder's name
    }
    return QDir::toNativeSeparators(folderOf(location_));
}

HistoryStore::Database* HistoryStore::open(QString* error, bool forWriting) const {
    if (const QString problem = locationProblem(location_); !problem.isEmpty()) {
        *error = problem;
        return nullptr;
    }
    // A folder removed under a running program: records would go into a file no one can find.
    const bool fileGone =
        db_ && !isServer(location_) && !QFileInfo::exists(folderOf(location_) + u'/' + kDatabaseFile);
    if (db_ && !reopen_ && !fileGone && db_->db().isOpen() && (db_->writable || !forWriting)) {
        return db_.get();
    }
    db_.reset();
    reopen_ = false;
    const bool server = isServer(location_);
    // A listing, a check or a certificate never writes: a history the user may only read is read.
    // The first use of a folder history imports it, which writes.
    const bool readOnly =
        !forWriting && (server || QFileInfo::exists(folderOf(location_) + u'/' + kDatabaseFile));
    if (server) {
        if (const std::optional<QString> known = unreachable(location_)) {
            *error = *known;
            return nullptr;
        }
    }
    const Dialect& dialect = server ? postgresDialect() : sqliteDialect();
    const QString name = QStringLiteral("kv-history-%1").arg(connectionCount.fetchAndAddRelaxed(1));
    auto database = std::make_unique<Database>(dialect, name);
    database->writable = !readOnly;
    QSqlDatabase db = QSqlDatabase::addDatabase(dialect.driver, name);
    if (!db.isValid()) {  // only the driver asked for is loaded
#ifdef Q_OS_WIN
        // The Windows build carries SQLite only; there is no package to name.
        *error = QStringLiteral("the Qt SQL driver %1 is not installed").arg(dialect.driver);
#else
        *error = QStringLiteral("the Qt SQL driver %1 is not installed (Debian: %2)")
                     .arg(dialect.driver,
                          server ? QStringLiteral("libqt6sql6-psql") : QStringLiteral("libqt6sql6-sqlite"));
#endif
        return nullptr;
    }
    const QString folder = folderOf(location_);
    if (server) {
        const ServerAddress address = serverAddress(location_);
        db.setConnectOptions(address.options.join(u';'));
        db.setUserName(address.user);
        db.setHostName(address.host);
        db.setDatabaseName(address.database);
        db.setPort(address.port);
        db.setPassword(address.password);
    } else if (readOnly) {
        // Without its -shm file, SQLite reads a WAL database only where it may make one; on a
        // read-only folder or mount the file is read as it stands, and read again at each use.
        const QString file = folder + u'/' + kDatabaseFile;
        const bool standing =
            !QFileInfo(folder).isWritable() && !QFileInfo::exists(file + QStringLiteral("-shm"));
        reopen_ = standing;
        db.setDatabaseName(standing ? QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded) +
                                          QStringLiteral("?immutable=1")
                                    : file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1%2")
                                 .arg(kBusyTimeoutMs)
                                 .arg(standing ? QStringLiteral(";QSQLITE_OPEN_URI") : QString()));
    } else {
        if (!QDir().mkpath(folder)) {
            *error = QStringLiteral("the history folder \"%1\" could not be created").arg(shownLocation());
            return nullptr;
        }
        db.setDatabaseName(folder + u'/' + kDatabaseFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    }
    if (!db.open()) {
        *error = server ? QStringLiteral("the history database %1 cannot be reached: %2")
                              .arg(shownLocation(), sqlError(db.lastError()))
                        : QStringLiteral("the history database in \"%1\" cannot be opened: %2")
                              .arg(shownLocation(), sqlError(db.lastError()));
        if (server) {
            setUnreachable(location_, *error);
        }
        return nullptr;
    }
    if (server && readOnly) {
        QString problem;
        if (!database->run(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"),
                           &problem)) {
            *error =
                QStringLiteral("the history database %1 cannot be used: %2").arg(shownLocation(), problem);
            return nullptr;
        }
    }
    if (!server && !readOnly) {
        // Readers never wait for a writer, and a record is on the disk once its commit returns.
        QString problem;
        if (!database->run(QStringLiteral("PRAGMA journal_mode=WAL"), &problem) ||
            !database->run(QStringLiteral("PRAGMA synchronous=FULL"), &problem)) {
            *error = QStringLiteral("the history database in \"%1\" cannot be used: %2")
                         .arg(shownLocation(), problem);
            return nullptr;
        }
    }

    // The schema: made, and the folder history imported, by the first program that finds none.
    auto failed = [&](const QString& what, const QString& problem) {
        database->run(QStringLiteral("ROLLBACK"), nullptr);
        *error = QStringLiteral("the history database %1 %2: %3")
                     .arg(server ? shownLocation() : u'"' + shownLocation() + u'"', what, problem);
        return nullptr;
    };
    // SQLite runs one statement per call; PostgreSQL takes the whole text at once.
    auto runAll = [&](const QString& text, QString* problem) {
        const QStringList statements = server ? QStringList{text} : text.split(QStringLiteral(";\n"));
        for (const QString& statement : statements) {
            if (!database->run(statement, problem)) {
                return false;
            }
        }
        return true;
    };
    QString problem;
    QSqlQuery query(db);
    if (!database->run(readOnly ? QStringLiteral("BEGIN") : dialect.beginAppend, &problem) ||
        (!readOnly && !dialect.takeTurn.isEmpty() && !database->run(dialect.takeTurn, &problem)) ||
        !database->run(query, dialect.tableCount, {}, &problem) || !query.next()) {
        return failed(QStringLiteral("cannot be read"), problem);
    }
    const int tables = query.value(0).toInt();
    if (tables == 0 && readOnly) {
        database->run(QStringLiteral("ROLLBACK"), nullptr);
        *error = QStringLiteral("there is no calibration history in %1: the database holds no records")
                     .arg(server ? shownLocation() : u'"' + shownLocation() + u'"');
        return nullptr;
    }
    query.finish();
    bool upgraded = false;
    if (tables == 0) {
        std::vector<FolderRecord> imported;
        if (!server && holdsFolderHistory(folder)) {
            imported = readFolderHistory(folder);
        }
        if (!runAll(dialect.schema, &problem) || !runAll(dialect.upgrade, &problem)) {
            return failed(QStringLiteral("holds no calibration records and cannot be given them"), problem);
        }
        Sealed sealed;
        for (FolderRecord& record : imported) {
            ++sealed.seq;
            const QString hash = recordHash(record.id, record.entry, record.cal, sealed);
            if (hash.isEmpty()) {
                return failed(QStringLiteral("could not take in the records of the folder"), kNoSha256);
            }
            QSqlQuery insert(db);
            const HistoryEntry& e = record.entry;
            if (!database->run(
                    insert,
                    QStringLiteral(
                        "INSERT INTO calibration_records (seq, id, time_ms, operation, result, "
                        "program, port, adapter, adapter_serial, unit, operator, host, cal, "
                        "prev_hash, hash, chain) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                    {sealed.seq, record.id, e.timeMs, e.operation, e.result, e.program, e.portPath,
                     e.adapterName, e.adapterSerial, e.unit, e.operatorName, e.host, record.cal,
                     sealed.prevHash, hash, sealed.chain},
                    &problem)) {
                return failed(QStringLiteral("could not take in the records of the folder"), problem);
            }
            sealed.prevHash = hash;
        }
        database->version = kSchemaVersion;
    } else if (tables != 2) {
        return failed(QStringLiteral("is incomplete"), QStringLiteral("one of its two tables is missing"));
    } else {
        QSqlQuery version(db);
        if (!database->run(version,
                           QStringLiteral("SELECT value FROM history_meta WHERE key = 'schema_version'"), {},
                           &problem) ||
            !version.next()) {
            return failed(QStringLiteral("cannot be read"),
                          problem.isEmpty() ? QStringLiteral("it has no schema version") : problem);
        }
        const QString text = textOf(version.value(0));
        version.finish();
        bool number = false;
        const int found = text.toInt(&number);
        if (!number || found < 1) {
            return failed(QStringLiteral("cannot be read"),
                          QStringLiteral("its schema version \"%1\" is not a version").arg(oneLine(text)));
        }
        if (found > kSchemaVersion) {
            return failed(
                QStringLiteral("is of a newer kind"),
                QStringLiteral("schema version %1; this program knows %2").arg(found).arg(kSchemaVersion));
        }
        database->version = found;
        if (found == 1 && !readOnly) {
            // Upgraded in place when this user may; otherwise read and written as it is.
            if (server && !database->run(QStringLiteral("SAVEPOINT upgrade"), &problem)) {
                return failed(QStringLiteral("cannot be read"), problem);
            }
            upgraded = runAll(dialect.upgrade, &problem);
            if (upgraded) {
                database->version = 2;
            } else if (server) {
                database->run(QStringLiteral("ROLLBACK TO SAVEPOINT upgrade"), nullptr);
            } else {
                database->run(QStringLiteral("ROLLBACK"), nullptr);
                db_ = std::move(database);
                return db_.get();
            }
        }
    }
    if (!database->run(QStringLiteral("COMMIT"), &problem)) {
        return failed(QStringLiteral("cannot be written"), problem);
    }
    db_ = std::move(database);
    return db_.get();
}

namespace {

QString insertStatement(int version) {
    return version >= 2
               ? QStringLiteral(
                     "INSERT INTO calibration_records (seq, id, time_ms, operation, result, program, "
                     "port, adapter, adapter_serial, unit, operator, host, cal, prev_hash, hash, "
                     "chain) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
               : QStringLiteral(
                     "INSERT INTO calibration_records (seq, id, time_ms, operation, result, program, "
                     "port, adapter, adapter_serial, unit, operator, host, cal, prev_hash, hash) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
}

}  // namespace

// Writers take turns, so each names the record before it.
QString HistoryStore::Database::append(const HistoryEntry& entry, QString* problem) const {
    const Database* const database = this;
    const QSqlDatabase db = database->db();
    const bool chained = database->version >= 2;
    QSqlQuery last(db);
    if (!database->run(database->dialect.beginAppend, problem) ||
        (!database->dialect.takeTurn.isEmpty() && !database->run(database->dialect.takeTurn, problem)) ||
        !database->run(last,
                       chained ? QStringLiteral("SELECT seq, hash FROM history_head")
                               : QStringLiteral("SELECT seq, hash FROM calibration_records ORDER BY seq "
                                                "DESC LIMIT 1"),
                       {}, problem)) {
        return {};
    }
    Sealed sealed;
    sealed.chain = chained ? kChainVersion : 1;
    if (last.next()) {
        sealed.seq = last.value(0).toLongLong();
        sealed.prevHash = last.value(1).toString();
    } else if (chained) {
        *problem = QStringLiteral("the chain's head is missing");
        return {};
    }
    ++sealed.seq;
    last.finish();
    if (chained && database->dialect.stampsUser) {
        QSqlQuery user(db);
        if (!database->run(user, QStringLiteral("SELECT session_user"), {}, problem) || !user.next()) {
            return {};
        }
        sealed.dbUser = user.value(0).toString();
    }
    const QString base = historyId(entry.timeMs, entry.operation, entry.result);
    QString id = base;
    for (int n = 2;; ++n) {
        QSqlQuery taken(db);
        if (!database->run(taken, QStringLiteral("SELECT 1 FROM calibration_records WHERE id = ?"), {id},
                           problem)) {
            return {};
        }
        if (!taken.next()) {
            break;
        }
        id = base + u'_' + QString::number(n);
    }
    const QByteArray cal = calibrationFileContent(entry.values);
    const QString hash = recordHash(id, entry, cal, sealed);
    if (hash.isEmpty()) {
        *problem = kNoSha256;
        return {};
    }
    QVariantList values{sealed.seq,
                        id,
                        entry.timeMs,
                        entry.operation,
                        entry.result,
                        entry.program,
                        entry.portPath,
                        entry.adapterName,
                        entry.adapterSerial,
                        entry.unit,
                        entry.operatorName,
                        entry.host,
                        cal,
                        sealed.prevHash,
                        hash};
    if (chained) {
        values << sealed.chain;
    }
    QSqlQuery insert(db);
    if (!database->run(insert, insertStatement(database->version), values, problem) ||
        !database->run(QStringLiteral("COMMIT"), problem)) {
        return {};
    }
    return id;
}

HistoryStore::Appended HistoryStore::append(const HistoryEntry& given) {
    HistoryEntry entry = given;
    if (entry.operatorName.isEmpty()) {
        entry.operatorName = loginName();
    }
    if (entry.host.isEmpty()) {
        entry.host = QSysInfo::machineHostName();
    }
    for (const auto& [text, what] :
         {std::pair{&entry.unit, "unit tag"}, std::pair{&entry.operatorName, "operator's name"}}) {
        if (holdsControlCharacter(*text)) {
            return {{},
                    QStringLiteral("the record could not be kept in %1: its %2 holds a control character")
                        .arg(shownLocation(), QLatin1String(what))};
        }
    }
    QString error;
    Database* database = open(&error, true);
    if (!database) {
        return {{}, error};
    }
    QString problem;
    QString id = database->append(entry, &problem);
    if (id.isEmpty()) {
        database->run(QStringLiteral("ROLLBACK"), nullptr);
        // A server that dropped the session (a restart, an idle timeout): connect again, once.
        if (isServer(location_) && !database->run(QStringLiteral("SELECT 1"), nullptr)) {
            reopen_ = true;
            database = open(&error, true);
            if (!database) {
                return {{}, error};
            }
            id = database->append(entry, &problem);
            if (id.isEmpty()) {
                database->run(QStringLiteral("ROLLBACK"), nullptr);
            }
        }
    }
    if (!isServer(location_)) {
        // A bench's window keeps its connection all day: the pages a record read are not kept with it.
        database->run(QStringLiteral("PRAGMA shrink_memory"), nullptr);
    }
    if (id.isEmpty()) {
        reopen_ = true;  // the next record opens the database again
        return {{}, QStringLiteral("the record could not be kept in %1: %2").arg(shownLocation(), problem)};
    }
    return {id, {}};
}

namespace {

// Reads rows newest first; each record's texts are made from its .cal bytes.
bool readRows(QSqlQuery& query, bool stampsUser, int version, Rows* rows) {
    CalTextReader reader;
    while (query.next()) {
        HistoryRecord& r = rows->records.emplace_back();
        Link& link = rows->links.emplace_back();
        link.sealed.seq = query.value(0).toLongLong();
        r.seq = link.sealed.seq;
        r.id = textOf(query.value(1));
        HistoryEntry& e = r.entry;
        e.timeMs = query.value(2).toLongLong();
        QString* texts[] = {&e.operation,     &e.result, &e.program,      &e.portPath, &e.adapterName,
                            &e.adapterSerial, &e.unit,   &e.operatorName, &e.host};
        for (int i = 0; i < 9; ++i) {
            *texts[i] = textOf(query.value(3 + i));
        }
        link.cal = query.value(12).toByteArray();
        link.sealed.prevHash = textOf(query.value(13));
        link.hash = textOf(query.value(14));
        int column = 15;
        if (version >= 2) {
            link.sealed.chain = query.value(column++).toInt();
        } else {
            link.sealed.chain = 1;
        }
        if (stampsUser) {
            r.databaseUser = textOf(query.value(column));
            link.sealed.dbUser = r.databaseUser;
        }
        bool exact = false;
        e.values = reader.read(link.cal, &exact);
        if (!exact) {
            r.damaged = true;
            r.damage = QStringLiteral("its values are not a calibration");
        }
    }
    return query.lastError().type() == QSqlError::NoError;
}

QString selectRows(const Dialect& dialect, int version, const QString& where) {
    QStringList columns{QStringLiteral("seq"), dialect.listedText.arg(QStringLiteral("id")),
                        QStringLiteral("time_ms")};
    for (const char* text : {"operation", "result", "program", "port", "adapter", "adapter_serial", "unit",
                             "operator", "host"}) {
        columns << dialect.listedText.arg(QLatin1String(text));
    }
    columns << QStringLiteral("cal") << dialect.listedText.arg(QStringLiteral("prev_hash"))
            << dialect.listedText.arg(QStringLiteral("hash"));
    if (version >= 2) {
        columns << QStringLiteral("chain");
    }
    if (dialect.stampsUser) {
        columns << QStringLiteral("db_user");
    }
    return QStringLiteral("SELECT %1 FROM calibration_records%2 ORDER BY seq DESC")
        .arg(columns.join(QStringLiteral(", ")), where);
}

}  // namespace

bool HistoryStore::Database::read(const QString& unit, Rows* rows, std::optional<Head>* head,
                                  QString* problem) const {
    const bool whole = unit.isEmpty();
    const bool chained = version >= 2 && whole;
    QSqlQuery query(db());
    QSqlQuery headQuery(db());
    bool ok = run(dialect.beginRead, problem);
    if (ok && chained) {
        ok = run(headQuery, QStringLiteral("SELECT records, seq, hash FROM history_head"), {}, problem);
        if (ok && !headQuery.next()) {
            ok = false;
            *problem = QStringLiteral("the chain's head is missing");
        }
    }
    if (ok) {
        ok = run(query, selectRows(dialect, version, whole ? QString() : QStringLiteral(" WHERE unit = ?")),
                 whole ? QVariantList() : QVariantList{unit}, problem);
    }
    if (ok && !readRows(query, dialect.stampsUser, version, rows)) {
        ok = false;
        *problem = sqlError(query.lastError());
    }
    if (ok && chained) {
        *head = Head{headQuery.value(0).toLongLong(), headQuery.value(1).toLongLong(),
                     textOf(headQuery.value(2))};
    }
    query.finish();
    headQuery.finish();
    run(ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"), nullptr);
    return ok;
}

HistoryStore::Database* HistoryStore::openToRead(QString* error) const {
    Database* database = open(error, false);
    if (database && !sha256Available()) {
        *error = QStringLiteral("the history %1 cannot be checked: %2").arg(shownLocation(), kNoSha256);
        return nullptr;
    }
    return database;
}

std::vector<HistoryRecord> HistoryStore::records(const QString& unit, QString* error) const {
    // Nothing kept yet is an empty history, not a reason to make a folder (absence() says so).
    if (locationProblem(location_).isEmpty() && !absence().isEmpty()) {
        return {};
    }
    Rows rows;
    std::optional<Head> head;
    QString problem;
    Database* database = openToRead(&problem);
    if (database && !database->read(unit, &rows, &head, &problem)) {
        reopen_ = true;
        problem = QStringLiteral("the history %1 cannot be read: %2").arg(shownLocation(), problem);
        database = nullptr;
    }
    if (!database) {
        if (error) {
            *error = problem;
        }
        return {};
    }
    // A whole listing is checked as a chain; one unit's records each against its own hash.
    std::vector<HistoryProblem> problems;
    if (unit.isEmpty()) {
        problems = chainProblems(rows, head, nullptr);
    } else {
        for (std::size_t i = 0; i < rows.records.size(); ++i) {
            if (!rows.intact(i)) {
                problems.push_back({rows.records[i].id, kChanged});
            }
        }
    }
    QHash<QString, QString> damage;
    for (const HistoryProblem& p : problems) {
        if (!p.id.isEmpty() && p.what != kNotACalibration) {
            damage.insert(p.id, QStringLiteral("it %1").arg(p.what));
        }
    }

    // Newest first. Rows come newest first by seq, which is mostly time order too; otherwise the
    // records are sorted.
    std::vector<HistoryRecord>& listed = rows.records;
    std::vector<int> order(listed.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = int(i);
    }
    auto newer = [&](int a, int b) {
        const qint64 ta = listed[std::size_t(a)].entry.timeMs;
        const qint64 tb = listed[std::size_t(b)].entry.timeMs;
        return ta != tb ? ta > tb
                        : rows.links[std::size_t(a)].sealed.seq > rows.links[std::size_t(b)].sealed.seq;
    };
    const bool inOrder = std::is_sorted(order.begin(), order.end(), newer);
    if (!inOrder) {
        std::sort(order.begin(), order.end(), newer);
    }
    QHash<QByteArray, QString> earliest;
    earliest.reserve(qsizetype(listed.size()));
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        HistoryRecord& record = listed[std::size_t(*it)];
        if (const auto found = damage.constFind(record.id); found != damage.constEnd()) {
            record.damaged = true;
            record.damage = *found;
        }
        if (record.damaged) {
            continue;
        }
        const QByteArray& cal = rows.links[std::size_t(*it)].cal;
        const auto same = earliest.constFind(cal);
        if (same != earliest.constEnd()) {
            record.sameAsId = *same;
        } else {
            earliest.insert(cal, record.id);
        }
    }
    if (inOrder) {
        return std::move(listed);
    }
    std::vector<HistoryRecord> sorted;
    sorted.reserve(listed.size());
    for (int place : order) {
        sorted.push_back(std::move(listed[std::size_t(place)]));
    }
    return sorted;
}

std::optional<HistoryRecord> HistoryStore::find(const QString& id, QString* error) const {
    for (HistoryRecord& record : records({}, error)) {
        if (record.id == id) {
            return std::move(record);
        }
    }
    return std::nullopt;
}

std::optional<QByteArray> HistoryStore::calibrationFile(const QString& id) const {
    const std::optional<HistoryRecord> record = find(id);
    if (!record || record->damaged) {
        return std::nullopt;
    }
    return calibrationFileContent(record->entry.values);
}

bool HistoryStore::check(std::vector<HistoryProblem>* problems, QString* error, HistoryCheck* checked) const {
    problems->clear();
    // No history is not an intact one.
    if (const QString absent = absence(); !absent.isEmpty()) {
        *error = absent;
        return false;
    }
    if (checked) {
        *checked = {};
    }
    Rows rows;
    std::optional<Head> head;
    Database* database = openToRead(error);
    if (!database) {
        return false;
    }
    QString problem;
    if (!database->read({}, &rows, &head, &problem)) {
        reopen_ = true;
        *error = QStringLiteral("the history %1 cannot be read: %2").arg(shownLocation(), problem);
        return false;
    }
    *problems = chainProblems(rows, head, checked);
    return true;
}

}  // namespace kv
