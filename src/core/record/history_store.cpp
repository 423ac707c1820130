#include "core/record/history_store.h"

#include "core/record/history_import.h"
#include "core/record/history_schema.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QHash>
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
#include <string>
#include <utility>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace kv {

namespace {

constexpr int kSchemaVersion = 1;
constexpr int kConnectTimeoutSeconds = 5;
constexpr int kBusyTimeoutMs = 10000;
const QString kDatabaseFile = QStringLiteral("history.db");

// ---- the two dialects: everything that differs between SQLite and PostgreSQL -------------------

struct Dialect {
    QString driver;
    QString schema;           // the statements that make schema version 1, ";\n" between statements
    QString tableCount;       // how many of the two tables exist
    QString beginAppend;      // begins a transaction in which appends take turns
    QString takeTurn;         // then waits for the other writers; empty when beginAppend already did
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
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                       "('history_meta', 'calibration_records')"),
        QStringLiteral("BEGIN IMMEDIATE"),
        QString(),
        false,
        QStringLiteral("CAST(%1 AS BLOB)")};
    return dialect;
}

const Dialect& postgresDialect() {
    static const Dialect dialect{
        QStringLiteral("QPSQL"), QString::fromUtf8(kPostgresSchema),
        QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                       "AND table_name IN ('history_meta', 'calibration_records')"),
        QStringLiteral("BEGIN"),
        // Any user may take an advisory lock; a technician may not lock the table itself.
        QStringLiteral("SELECT pg_advisory_xact_lock(7301016)"), true};
    return dialect;
}

// ---- locations ---------------------------------------------------------------------------------

// A postgresql:// URI in libpq's own form, as libpq's keywords; what it does not name (password,
// host, sslmode...) libpq takes from PGPASSWORD, ~/.pgpass, PGHOST, PGSSLMODE and the rest.
struct ServerAddress {
    QStringList options;  // key='value', for QSqlDatabase::setConnectOptions
    QString password;
    QString shown;  // the URI without its password
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
        address.options << QStringLiteral("user=") + quotedOption(decoded(user));
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
        address.options << QStringLiteral("host=") + quotedOption(hosts.join(u','));
        if (!ports.join(QString()).isEmpty()) {
            address.options << QStringLiteral("port=") + quotedOption(ports.join(u','));
        }
    }
    if (!path.isEmpty()) {
        address.options << QStringLiteral("dbname=") + quotedOption(decoded(path));
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

QString recordHash(const QString& id, const HistoryEntry& e, const QByteArray& cal, const QString& prevHash);

// A record as read, and what the chain needs of it. Records are big (43 texts); they are made in
// place in their own vector and never moved around, the links beside them.
struct Link {
    qint64 seq = 0;
    QByteArray cal;
    QString prevHash;
    QString hash;
};
struct Rows {
    std::vector<HistoryRecord> records;
    std::vector<Link> links;
    bool intact(std::size_t i) const {
        const HistoryRecord& r = records[i];
        return recordHash(r.id, r.entry, links[i].cal, links[i].prevHash) == links[i].hash;
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

QString recordHash(const QString& id, const HistoryEntry& e, const QByteArray& cal, const QString& prevHash) {
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
    addBytes(id.toUtf8());
    char time[24];
    add(time, std::size_t(std::to_chars(time, time + sizeof time, e.timeMs).ptr - time));
    for (const QString* text : {&e.operation, &e.result, &e.program, &e.portPath, &e.adapterName,
                                &e.adapterSerial, &e.unit, &e.operatorName, &e.host}) {
        addBytes(text->toUtf8());
    }
    addBytes(cal);
    addBytes(prevHash.toLatin1());
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
    if (!sha256 || !context || !EVP_DigestInit_ex2(context.get(), sha256, nullptr) ||
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

// Walks rows oldest first (by seq) and names each break in the chain.
std::vector<HistoryProblem> chainProblems(const Rows& rows) {
    std::vector<HistoryProblem> problems;
    QString expected;  // the hash the next record must name as its previous
    const std::vector<Link>& links = rows.links;
    // Rows come newest first: the chain is walked from the back.
    for (std::size_t i = links.size(); i-- > 0;) {
        const QString& id = rows.records[i].id;
        // Inserted when the chain holds without it; then it does not become the chain's last link.
        if (links[i].prevHash != expected && i > 0 && links[i - 1].prevHash == expected) {
            problems.push_back({id, kInserted});
            continue;
        }
        if (!rows.intact(i)) {
            problems.push_back({id, kChanged});
        } else if (links[i].prevHash != expected) {
            problems.push_back({id, kRemovedBefore});
        }
        expected = links[i].hash;
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

    const Dialect& dialect;
    QString name;
};

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
    return location.startsWith(QStringLiteral("postgresql://")) ||
           location.startsWith(QStringLiteral("postgres://"));
}

QString HistoryStore::shownLocation() const {
    return isServer(location_) ? serverAddress(location_).shown
                               : QDir::toNativeSeparators(folderOf(location_));
}

HistoryStore::Database* HistoryStore::open(QString* error) const {
    // A folder removed under a running program: records would go into a file no one can find.
    const bool fileGone =
        db_ && !isServer(location_) && !QFileInfo::exists(folderOf(location_) + u'/' + kDatabaseFile);
    if (db_ && !reopen_ && !fileGone && db_->db().isOpen()) {
        return db_.get();
    }
    db_.reset();
    reopen_ = false;
    const bool server = isServer(location_);
    const Dialect& dialect = server ? postgresDialect() : sqliteDialect();
    const QString name = QStringLiteral("kv-history-%1").arg(connectionCount.fetchAndAddRelaxed(1));
    auto database = std::make_unique<Database>(dialect, name);
    QSqlDatabase db = QSqlDatabase::addDatabase(dialect.driver, name);
    if (!db.isValid()) {  // only the driver asked for is loaded
        *error = QStringLiteral("the Qt SQL driver %1 is not installed (Debian: %2)")
                     .arg(dialect.driver,
                          server ? QStringLiteral("libqt6sql6-psql") : QStringLiteral("libqt6sql6-sqlite"));
        return nullptr;
    }
    const QString folder = folderOf(location_);
    if (server) {
        const ServerAddress address = serverAddress(location_);
        db.setConnectOptions(address.options.join(u';'));
        db.setPassword(address.password);
    } else {
        if (location_.isEmpty() || !QDir().mkpath(folder)) {
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
        return nullptr;
    }
    if (!server) {
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
    QString problem;
    QSqlQuery query(db);
    if (!database->run(dialect.beginAppend, &problem) ||
        (!dialect.takeTurn.isEmpty() && !database->run(dialect.takeTurn, &problem)) ||
        !database->run(query, dialect.tableCount, {}, &problem) || !query.next()) {
        return failed(QStringLiteral("cannot be read"), problem);
    }
    const int tables = query.value(0).toInt();
    if (tables == 0) {
        std::vector<FolderRecord> imported;
        if (!server && holdsFolderHistory(folder)) {
            imported = readFolderHistory(folder);
        }
        // SQLite runs one statement per call; PostgreSQL takes the whole text at once.
        const QStringList statements =
            server ? QStringList{dialect.schema} : dialect.schema.split(QStringLiteral(";\n"));
        for (const QString& statement : statements) {
            if (!database->run(statement, &problem)) {
                return failed(QStringLiteral("holds no calibration records and cannot be given them"),
                              problem);
            }
        }
        QString previous;
        qint64 seq = 0;
        for (FolderRecord& record : imported) {
            const QString hash = recordHash(record.id, record.entry, record.cal, previous);
            if (hash.isEmpty()) {
                return failed(QStringLiteral("could not take in the records of the folder"), kNoSha256);
            }
            QSqlQuery insert(db);
            const HistoryEntry& e = record.entry;
            if (!database->run(
                    insert,
                    QStringLiteral("INSERT INTO calibration_records (seq, id, time_ms, operation, result, "
                                   "program, port, adapter, adapter_serial, unit, operator, host, cal, "
                                   "prev_hash, hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                    {++seq, record.id, e.timeMs, e.operation, e.result, e.program, e.portPath, e.adapterName,
                     e.adapterSerial, e.unit, e.operatorName, e.host, record.cal, previous, hash},
                    &problem)) {
                return failed(QStringLiteral("could not take in the records of the folder"), problem);
            }
            previous = hash;
        }
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
        const int found = version.value(0).toInt();
        if (found > kSchemaVersion) {
            return failed(
                QStringLiteral("is of a newer kind"),
                QStringLiteral("schema version %1; this program knows %2").arg(found).arg(kSchemaVersion));
        }
        // Version 1 is the first; upgrades from older versions go here.
    }
    query.finish();
    if (!database->run(QStringLiteral("COMMIT"), &problem)) {
        return failed(QStringLiteral("cannot be written"), problem);
    }
    db_ = std::move(database);
    return db_.get();
}

HistoryStore::Appended HistoryStore::append(const HistoryEntry& given) {
    HistoryEntry entry = given;
    if (entry.operatorName.isEmpty()) {
        entry.operatorName = loginName();
    }
    if (entry.host.isEmpty()) {
        entry.host = QSysInfo::machineHostName();
    }
    QString error;
    Database* database = open(&error);
    if (!database) {
        return {{}, error};
    }
    const QSqlDatabase db = database->db();
    auto failed = [&](const QString& problem) {
        database->run(QStringLiteral("ROLLBACK"), nullptr);
        reopen_ = true;  // the next record opens the database again
        return Appended{
            {}, QStringLiteral("the record could not be kept in %1: %2").arg(shownLocation(), problem)};
    };
    QString problem;
    QSqlQuery last(db);
    // One record, one transaction; writers take turns, so each names the record before it.
    if (!database->run(database->dialect.beginAppend, &problem) ||
        (!database->dialect.takeTurn.isEmpty() && !database->run(database->dialect.takeTurn, &problem)) ||
        !database->run(last,
                       QStringLiteral("SELECT seq, hash FROM calibration_records ORDER BY seq DESC LIMIT 1"),
                       {}, &problem)) {
        return failed(problem);
    }
    qint64 seq = 1;
    QString previous;
    if (last.next()) {
        seq = last.value(0).toLongLong() + 1;
        previous = last.value(1).toString();
    }
    last.finish();
    const QString base = historyId(entry.timeMs, entry.operation, entry.result);
    QString id = base;
    for (int n = 2;; ++n) {
        QSqlQuery taken(db);
        if (!database->run(taken, QStringLiteral("SELECT 1 FROM calibration_records WHERE id = ?"), {id},
                           &problem)) {
            return failed(problem);
        }
        if (!taken.next()) {
            break;
        }
        id = base + u'_' + QString::number(n);
    }
    const QByteArray cal = calibrationFileContent(entry.values);
    const QString hash = recordHash(id, entry, cal, previous);
    if (hash.isEmpty()) {
        return failed(kNoSha256);
    }
    QSqlQuery insert(db);
    if (!database->run(
            insert,
            QStringLiteral("INSERT INTO calibration_records (seq, id, time_ms, operation, result, program, "
                           "port, adapter, adapter_serial, unit, operator, host, cal, prev_hash, hash) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            {seq, id, entry.timeMs, entry.operation, entry.result, entry.program, entry.portPath,
             entry.adapterName, entry.adapterSerial, entry.unit, entry.operatorName, entry.host, cal,
             previous, hash},
            &problem) ||
        !database->run(QStringLiteral("COMMIT"), &problem)) {
        return failed(problem);
    }
    return {id, {}};
}

namespace {

// A text as read: UTF-8 bytes (see Dialect::listedText) or already a text.
QString textOf(const QVariant& value) {
    return value.typeId() == QMetaType::QByteArray ? QString::fromUtf8(value.toByteArray())
                                                   : value.toString();
}

// Reads rows oldest first; each record's texts are made from its .cal bytes.
bool readRows(QSqlQuery& query, bool stampsUser, std::size_t expected, Rows* rows) {
    CalTextReader reader;
    rows->records.reserve(expected);
    rows->links.reserve(expected);
    while (query.next()) {
        HistoryRecord& r = rows->records.emplace_back();
        Link& link = rows->links.emplace_back();
        link.seq = query.value(0).toLongLong();
        r.id = textOf(query.value(1));
        HistoryEntry& e = r.entry;
        e.timeMs = query.value(2).toLongLong();
        QString* texts[] = {&e.operation,     &e.result, &e.program,      &e.portPath, &e.adapterName,
                            &e.adapterSerial, &e.unit,   &e.operatorName, &e.host};
        for (int i = 0; i < 9; ++i) {
            *texts[i] = textOf(query.value(3 + i));
        }
        link.cal = query.value(12).toByteArray();
        link.prevHash = textOf(query.value(13));
        link.hash = textOf(query.value(14));
        if (stampsUser) {
            r.databaseUser = textOf(query.value(15));
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

// How many records there are, about: the last seq, read from the index's end.
std::size_t recordCount(const QSqlDatabase& db) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (query.exec(QStringLiteral("SELECT max(seq) FROM calibration_records")) && query.next()) {
        return std::size_t(std::clamp<qint64>(query.value(0).toLongLong(), 0, 10'000'000));
    }
    return 0;
}

QString selectRows(const Dialect& dialect, const QString& where) {
    QStringList columns{QStringLiteral("seq"), dialect.listedText.arg(QStringLiteral("id")),
                        QStringLiteral("time_ms")};
    for (const char* text : {"operation", "result", "program", "port", "adapter", "adapter_serial", "unit",
                             "operator", "host"}) {
        columns << dialect.listedText.arg(QLatin1String(text));
    }
    columns << QStringLiteral("cal") << dialect.listedText.arg(QStringLiteral("prev_hash"))
            << dialect.listedText.arg(QStringLiteral("hash"));
    if (dialect.stampsUser) {
        columns << QStringLiteral("db_user");
    }
    return QStringLiteral("SELECT %1 FROM calibration_records%2 ORDER BY seq DESC")
        .arg(columns.join(QStringLiteral(", ")), where);
}

}  // namespace

std::vector<HistoryRecord> HistoryStore::records(const QString& unit, QString* error) const {
    QString problem;
    auto failed = [&](const QString& text) {
        if (error) {
            *error = text;
        }
        return std::vector<HistoryRecord>{};
    };
    // Nothing kept yet is an empty history, not a reason to make a folder.
    if (!isServer(location_) && !QFileInfo::exists(folderOf(location_) + u'/' + kDatabaseFile) &&
        !holdsFolderHistory(folderOf(location_))) {
        return {};
    }
    Database* database = open(&problem);
    if (!database) {
        return failed(problem);
    }
    if (!sha256Available()) {
        return failed(QStringLiteral("the history %1 cannot be checked: %2").arg(shownLocation(), kNoSha256));
    }
    const bool stamps = database->dialect.stampsUser;
    QSqlQuery query(database->db());
    Rows rows;
    const std::size_t expected = unit.isEmpty() ? recordCount(database->db()) : 64;
    const bool ok =
        unit.isEmpty()
            ? database->run(query, selectRows(database->dialect, {}), {}, &problem)
            : database->run(query, selectRows(database->dialect, QStringLiteral(" WHERE unit = ?")), {unit},
                            &problem);
    if (!ok || !readRows(query, stamps, expected, &rows)) {
        reopen_ = true;
        return failed(QStringLiteral("the history %1 cannot be read: %2")
                          .arg(shownLocation(), problem.isEmpty() ? sqlError(query.lastError()) : problem));
    }
    // A whole listing is checked as a chain; one unit's records each against its own hash.
    std::vector<HistoryProblem> problems;
    if (unit.isEmpty()) {
        problems = chainProblems(rows);
    } else {
        for (std::size_t i = 0; i < rows.records.size(); ++i) {
            if (!rows.intact(i)) {
                problems.push_back({rows.records[i].id, kChanged});
            }
        }
    }
    QHash<QString, QString> damage;
    for (const HistoryProblem& p : problems) {
        damage.insert(p.id, QStringLiteral("it %1").arg(p.what));
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
        return ta != tb ? ta > tb : rows.links[std::size_t(a)].seq > rows.links[std::size_t(b)].seq;
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

bool HistoryStore::check(std::vector<HistoryProblem>* problems, QString* error) const {
    problems->clear();
    if (!isServer(location_) && !QFileInfo::exists(folderOf(location_) + u'/' + kDatabaseFile) &&
        !holdsFolderHistory(folderOf(location_))) {
        return true;
    }
    QString problem;
    Database* database = open(&problem);
    if (!database) {
        *error = problem;
        return false;
    }
    if (!sha256Available()) {
        *error = QStringLiteral("the history %1 cannot be checked: %2").arg(shownLocation(), kNoSha256);
        return false;
    }
    QSqlQuery query(database->db());
    Rows rows;
    const std::size_t expected = recordCount(database->db());
    if (!database->run(query, selectRows(database->dialect, {}), {}, &problem) ||
        !readRows(query, database->dialect.stampsUser, expected, &rows)) {
        reopen_ = true;
        *error = QStringLiteral("the history %1 cannot be read: %2").arg(shownLocation(), problem);
        return false;
    }
    *problems = chainProblems(rows);
    return true;
}

}  // namespace kv
