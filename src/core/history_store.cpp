#include "core/history_store.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <utility>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace kv {

namespace {

const QString kIndexName = QStringLiteral("index.txt");
const QString kLockName = QStringLiteral("index.lock");
const QString kCalSuffix = QStringLiteral(".cal");
constexpr char kLineTag[] = "kvh1";
constexpr int kLineFields = 12;
constexpr int kLockWaitMs = 5000;

// ---- index lines -------------------------------------------------------------------------------
// kvh1 TAB id TAB timeMs TAB time TAB operation TAB result TAB program TAB port TAB adapter name TAB
// adapter serial TAB .cal bytes TAB checksum LF. Fields are escaped so that no tab, line end or
// per cent sign of their own remains; the checksum is the first 8 hex digits of the SHA-1 of
// everything before its tab.

QByteArray escaped(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        switch (c) {
            case '%':
                out += "%25";
                break;
            case '\t':
                out += "%09";
                break;
            case '\n':
                out += "%0A";
                break;
            case '\r':
                out += "%0D";
                break;
            default:
                out += c;
        }
    }
    return out;
}

QByteArray unescaped(QByteArrayView field) {
    if (!field.contains('%')) {
        return field.toByteArray();
    }
    return QByteArray::fromPercentEncoding(field.toByteArray());
}

QByteArray checksum(QByteArrayView text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex().left(8);
}

// Whether a .cal file is what writing its texts gives back, byte for byte: five lines, each ended by
// CR LF and holding no other line end, with 5, 6 and 30 fields in the first three.
bool writtenAsIs(QByteArrayView content) {
    constexpr int commas[kCalibrationFileLines] = {4, 5, 29, -1, -1};
    int line = 0;
    int commasSeen = 0;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c == ',') {
            ++commasSeen;
        } else if (c == '\n') {
            return false;
        } else if (c == '\r') {
            if (line >= kCalibrationFileLines || i + 1 >= content.size() || content[i + 1] != '\n' ||
                (commas[line] >= 0 && commasSeen != commas[line])) {
                return false;
            }
            ++line;
            ++i;
            commasSeen = 0;
        } else if (line >= kCalibrationFileLines) {
            return false;
        }
    }
    return line == kCalibrationFileLines;
}

// The texts a .cal file holds, and whether writing them again gives the same bytes.
CalibrationTexts textsOf(const QByteArray& content, bool* exact) {
    const auto lines = calibrationFileLines(content);
    CalibrationTexts texts;
    auto fill = [](const QString& line, auto& boxes) {
        const std::vector<QString> split = splitLineInto(line, boxes);
        std::copy(split.begin(), split.end(), boxes.begin());
    };
    fill(lines[0], texts.col);
    fill(lines[1], texts.row);
    fill(lines[2], texts.matrix);
    texts.delay = lines[3];
    texts.active = lines[4];
    if (exact) {
        *exact = writtenAsIs(content);
    }
    return texts;
}

// The same for a long listing: a file written as is splits at every comma and line end, and the
// few different texts of a history ("0" to "255", "Yes") are made once and shared.
class TextReader {
  public:
    CalibrationTexts read(const QByteArray& content, bool* exact) {
        *exact = writtenAsIs(content);
        if (!*exact) {
            return textsOf(content, nullptr);
        }
        std::array<QString*, kCalibrationFields> boxes{};
        CalibrationTexts texts;
        std::size_t n = 0;
        for (QString& t : texts.col)
            boxes[n++] = &t;
        for (QString& t : texts.row)
            boxes[n++] = &t;
        for (QString& t : texts.matrix)
            boxes[n++] = &t;
        boxes[n++] = &texts.delay;
        boxes[n++] = &texts.active;
        n = 0;
        qsizetype start = 0;
        for (qsizetype i = 0; i < content.size() && n < boxes.size(); ++i) {
            const char c = content[i];
            // Lines 4 and 5 are one field each, commas and all.
            if ((c == ',' && n < 41) || c == '\r') {
                *boxes[n++] = shared(QByteArrayView(content).sliced(start, i - start));
                if (c == '\r') {
                    ++i;
                }
                start = i + 1;
            }
        }
        return texts;
    }

  private:
    static constexpr std::size_t kCalibrationFields = 43;

    QString shared(QByteArrayView text) {
        const auto found = made_.constFind(QByteArray::fromRawData(text.data(), text.size()));
        if (found != made_.constEnd()) {
            return *found;
        }
        const QByteArray key = text.toByteArray();
        const QString made = QString::fromLatin1(key);
        if (made_.size() < 4096) {
            made_.insert(key, made);
        }
        return made;
    }

    QHash<QByteArray, QString> made_;
};

// ---- file names --------------------------------------------------------------------------------
// TIME_OPERATION_RESULT[_N].cal with TIME as 20261209T080001.250Z. In the operation and the result
// letters, digits, "." and "-" stand for themselves, a space is "+", anything else %XX.

QString namePart(const QString& text) {
    QString out;
    for (char c : text.toUtf8()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '-';
        if (plain) {
            out += QLatin1Char(c);
        } else if (c == ' ') {
            out += u'+';
        } else {
            out += QStringLiteral("%%1").arg(int(static_cast<unsigned char>(c)), 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}

QString fromNamePart(const QString& part) {
    QByteArray bytes = part.toLatin1();
    bytes.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(bytes));
}

QString timeName(qint64 timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC)
        .toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
}

std::optional<qint64> timeFromName(QStringView text) {
    // yyyyMMddTHHmmss.zzzZ
    if (text.size() != 20 || text[8] != u'T' || text[15] != u'.' || text[19] != u'Z') {
        return std::nullopt;
    }
    auto number = [&](int from, int length, int* value) {
        bool ok = false;
        *value = text.mid(from, length).toInt(&ok);
        return ok;
    };
    int y, mo, d, h, mi, s, ms;
    if (!number(0, 4, &y) || !number(4, 2, &mo) || !number(6, 2, &d) || !number(9, 2, &h) ||
        !number(11, 2, &mi) || !number(13, 2, &s) || !number(16, 3, &ms)) {
        return std::nullopt;
    }
    const QDateTime time(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
    if (!time.isValid()) {
        return std::nullopt;
    }
    return time.toMSecsSinceEpoch();
}

struct NameParts {
    qint64 timeMs = 0;
    QString operation;
    QString result;
};

std::optional<NameParts> partsOfName(const QString& id) {
    const QStringList parts = id.split(u'_');
    if (parts.size() != 3 && parts.size() != 4) {
        return std::nullopt;
    }
    const auto time = timeFromName(parts[0]);
    if (!time || parts[1].isEmpty()) {
        return std::nullopt;
    }
    return NameParts{*time, fromNamePart(parts[1]), fromNamePart(parts[2])};
}

// ---- reading the index -------------------------------------------------------------------------

struct IndexLine {
    QString id;
    HistoryEntry entry;
    QByteArray cal;
    QByteArray rfc3339;
};

std::optional<IndexLine> parseLine(QByteArrayView line) {
    const qsizetype lastTab = line.lastIndexOf('\t');
    if (lastTab < 0 || checksum(line.first(lastTab)) != line.sliced(lastTab + 1)) {
        return std::nullopt;
    }
    std::array<QByteArrayView, kLineFields> fields;
    qsizetype start = 0;
    for (int i = 0; i < kLineFields; ++i) {
        const qsizetype tab = i + 1 < kLineFields ? line.indexOf('\t', start) : line.size();
        if (tab < 0) {
            return std::nullopt;
        }
        fields[std::size_t(i)] = line.sliced(start, tab - start);
        start = tab + 1;
    }
    if (fields[0] != kLineTag) {
        return std::nullopt;
    }
    bool ok = false;
    IndexLine parsed;
    parsed.id = QString::fromUtf8(fields[1]);
    parsed.entry.timeMs = fields[2].toLongLong(&ok);
    if (!ok || parsed.id.isEmpty()) {
        return std::nullopt;
    }
    parsed.rfc3339 = fields[3].toByteArray();
    QString* texts[] = {&parsed.entry.operation, &parsed.entry.program, &parsed.entry.portPath,
                        &parsed.entry.adapterName, &parsed.entry.adapterSerial};
    const int textFields[] = {4, 6, 7, 8, 9};
    for (int i = 0; i < 5; ++i) {
        *texts[i] = QString::fromUtf8(unescaped(fields[std::size_t(textFields[i])]));
    }
    parsed.entry.result = QString::fromUtf8(unescaped(fields[5]));
    parsed.cal = unescaped(fields[10]);
    return parsed;
}

QByteArray makeLine(const QString& id, const HistoryEntry& entry, const QByteArray& cal,
                    const QByteArray& rfc3339) {
    QByteArray line = kLineTag;
    auto add = [&line](const QByteArray& field) {
        line += '\t';
        line += field;
    };
    add(id.toUtf8());
    add(QByteArray::number(entry.timeMs));
    add(rfc3339);
    for (const QString* text : {&entry.operation, &entry.result, &entry.program, &entry.portPath,
                                &entry.adapterName, &entry.adapterSerial}) {
        add(escaped(text->toUtf8()));
    }
    add(escaped(cal));
    add(checksum(line));
    line += '\n';
    return line;
}

// Lines of the index that end in a line feed; a last line without one was cut short and is left out.
std::vector<QByteArrayView> completeLines(const QByteArray& index) {
    std::vector<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < index.size()) {
        const qsizetype end = index.indexOf('\n', start);
        if (end < 0) {
            break;
        }
        lines.push_back(QByteArrayView(index).sliced(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::optional<QByteArray> readWhole(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

// QLockFile's own wait sleeps 100 ms and more between tries; a record takes a few milliseconds, so
// try again at once and often.
bool lockSoon(QLockFile& lock) {
    QDeadlineTimer deadline(kLockWaitMs);
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError || deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(2);
    }
    return true;
}

QString lockProblem(const QLockFile& lock, const QString& directory) {
    switch (lock.error()) {
        case QLockFile::LockFailedError:
            return QStringLiteral(
                       "another program has kept the history folder \"%1\" locked for more "
                       "than %2 seconds")
                .arg(QDir::toNativeSeparators(directory))
                .arg(kLockWaitMs / 1000);
        case QLockFile::PermissionError:
            return QStringLiteral("the history folder \"%1\" cannot be written")
                .arg(QDir::toNativeSeparators(directory));
        default:
            return QStringLiteral("the history folder \"%1\" could not be locked")
                .arg(QDir::toNativeSeparators(directory));
    }
}

// Appends one line in a single write and flushes it to the disk. A last line left without its line
// feed by a crash gets one first, so the new line stands on its own.
QString appendLine(const QString& path, QByteArray line) {
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    struct stat info {};
    char last = '\n';
    if (::fstat(fd, &info) == 0 && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) != 1) {
        last = '\n';
    }
    if (last != '\n') {
        line.prepend('\n');
    }
    QString error;
    const ssize_t written = ::write(fd, line.constData(), std::size_t(line.size()));
    if (written != ssize_t(line.size())) {
        error = written < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                            : QStringLiteral("the disk took only part of the line");
    } else if (::fsync(fd) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ::close(fd);
    return error;
#else
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        return file.errorString();
    }
    if (file.size() > 0 && file.seek(file.size() - 1)) {
        char last = '\n';
        if (file.getChar(&last) && last != '\n') {
            line.prepend('\n');
        }
    }
    if (file.write(line) != line.size() || !file.flush()) {
        return file.errorString();
    }
    return {};
#endif
}

}  // namespace

HistoryStore::HistoryStore(QString directory) : directory_(std::move(directory)) {}

QString HistoryStore::defaultDirectory() {
    const QString chosen = qEnvironmentVariable("KESTROVAR_HISTORY");
    if (!chosen.isEmpty()) {
        return chosen;
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/kestrovar-link/history");
}

QString HistoryStore::rfc3339(qint64 timeMs) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(timeMs);
    QString text = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
    if (text.endsWith(u'Z')) {  // the same instant, written with its offset
        text.chop(1);
        text += QStringLiteral("+00:00");
    }
    return text;
}

QString HistoryStore::indexPath() const {
    return directory_ + u'/' + kIndexName;
}

HistoryStore::Appended HistoryStore::append(const HistoryEntry& entry) {
    const QString where = QDir::toNativeSeparators(directory_);
    if (!QDir().mkpath(directory_)) {
        return {{}, QStringLiteral("the history folder \"%1\" could not be created").arg(where)};
    }
    QLockFile lock(directory_ + u'/' + kLockName);
    if (!lockSoon(lock)) {
        return {{}, lockProblem(lock, directory_)};
    }

    const QString base =
        timeName(entry.timeMs) + u'_' + namePart(entry.operation) + u'_' + namePart(entry.result);
    QString id = base;
    for (int n = 2; QFileInfo::exists(directory_ + u'/' + id + kCalSuffix); ++n) {
        id = base + u'_' + QString::number(n);
    }
    const QByteArray content = calibrationFileContent(entry.values);
    QSaveFile file(directory_ + u'/' + id + kCalSuffix);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        return {
            {},
            QStringLiteral("the record could not be written in \"%1\": %2").arg(where, file.errorString())};
    }
    const QString error =
        appendLine(indexPath(), makeLine(id, entry, content, rfc3339(entry.timeMs).toUtf8()));
    if (!error.isEmpty()) {
        // The .cal is kept and still lists; only what its name does not tell is lost.
        return {id, QStringLiteral("the history index in \"%1\" could not be written: %2").arg(where, error)};
    }
    return {id, {}};
}

std::vector<HistoryRecord> HistoryStore::records() const {
    // Records are made in place, in the order found, beside the bytes of their .cal: a record is
    // some 1.3 kB, and moving ten thousand of them around costs more than reading them.
    std::vector<HistoryRecord> listed;
    std::vector<QByteArray> cals;

    // The names alone: a stat of every file would cost more than all the rest.
    QSet<QString> calFiles;  // ids that have their .cal
    QDirIterator files(directory_, {QStringLiteral("*.cal")}, QDir::Files);
    while (files.hasNext()) {
        calFiles.insert(files.next().sliced(directory_.size() + 1).chopped(kCalSuffix.size()));
    }

    QHash<QString, bool> indexed;
    const QByteArray index = readWhole(indexPath()).value_or(QByteArray());
    const std::vector<QByteArrayView> lines = completeLines(index);
    listed.reserve(lines.size() + 8);
    cals.reserve(lines.size() + 8);
    std::vector<QString> damagedLineIds;
    TextReader reader;
    for (QByteArrayView line : lines) {
        std::optional<IndexLine> parsed = parseLine(line);
        if (!parsed) {
            // A damaged line still names its record when its id survived.
            const qsizetype first = line.indexOf('\t');
            if (first >= 0 && line.first(first) == kLineTag) {
                const qsizetype second = line.indexOf('\t', first + 1);
                damagedLineIds.push_back(QString::fromUtf8(
                    line.sliced(first + 1, (second < 0 ? line.size() : second) - first - 1)));
            }
            continue;
        }
        if (indexed.contains(parsed->id)) {
            continue;
        }
        indexed.insert(parsed->id, true);
        HistoryRecord& record = listed.emplace_back();
        record.id = parsed->id;
        record.entry = std::move(parsed->entry);
        bool exact = false;
        record.entry.values = reader.read(parsed->cal, &exact);
        if (!calFiles.contains(record.id)) {
            record.damaged = true;
            record.damage = QStringLiteral("its .cal file is missing");
        } else if (!exact) {
            record.damaged = true;
            record.damage = QStringLiteral("its values are not a calibration");
        }
        cals.push_back(std::move(parsed->cal));
    }

    // .cal files the index does not know of: a crash between the file and its line, or a lost index.
    QStringList orphans;
    for (const QString& id : calFiles) {
        if (!indexed.contains(id)) {
            orphans << id;
        }
    }
    orphans.sort();
    for (const QString& id : orphans) {
        HistoryRecord& record = listed.emplace_back();
        QByteArray& cal = cals.emplace_back();
        record.id = id;
        const auto parts = partsOfName(id);
        const std::optional<QByteArray> content = readWhole(directory_ + u'/' + id + kCalSuffix);
        bool exact = false;
        if (content) {
            record.entry.values = textsOf(*content, &exact);
            cal = *content;
        }
        if (parts) {
            record.entry.timeMs = parts->timeMs;
            record.entry.operation = parts->operation;
            record.entry.result = parts->result;
        }
        if (!parts) {
            record.damaged = true;
            record.damage = QStringLiteral("its file name tells no time and operation");
        } else if (!content) {
            record.damaged = true;
            record.damage = QStringLiteral("its .cal file cannot be read");
        } else if (!exact) {
            record.damaged = true;
            record.damage = QStringLiteral("its .cal file is not a calibration");
        }
        indexed.insert(id, true);
    }
    // Damaged lines whose file is gone as well: all that is left is the name.
    for (const QString& id : damagedLineIds) {
        if (indexed.contains(id)) {
            continue;
        }
        HistoryRecord& record = listed.emplace_back();
        cals.emplace_back();
        record.id = id;
        if (const auto parts = partsOfName(id)) {
            record.entry.timeMs = parts->timeMs;
            record.entry.operation = parts->operation;
            record.entry.result = parts->result;
        }
        record.damaged = true;
        record.damage = QStringLiteral("its index line and its .cal file are damaged");
        indexed.insert(id, true);
    }

    // Newest first: the index holds them oldest first, so mostly this is a reversal.
    std::vector<int> places(listed.size());
    for (std::size_t i = 0; i < places.size(); ++i) {
        places[i] = int(places.size() - 1 - i);
    }
    const bool reversed = std::is_sorted(places.begin(), places.end(), [&listed](int a, int b) {
        const qint64 ta = listed[std::size_t(a)].entry.timeMs;
        const qint64 tb = listed[std::size_t(b)].entry.timeMs;
        return ta != tb ? ta > tb : a > b;
    });
    if (!reversed) {
        std::sort(places.begin(), places.end(), [&listed](int a, int b) {
            const qint64 ta = listed[std::size_t(a)].entry.timeMs;
            const qint64 tb = listed[std::size_t(b)].entry.timeMs;
            return ta != tb ? ta > tb : a > b;
        });
    }
    QHash<QByteArray, QString> earliest;
    earliest.reserve(qsizetype(listed.size()));
    for (auto it = places.rbegin(); it != places.rend(); ++it) {
        HistoryRecord& record = listed[std::size_t(*it)];
        if (record.damaged) {
            continue;
        }
        const QByteArray& cal = cals[std::size_t(*it)];
        const auto found = earliest.constFind(cal);
        if (found != earliest.constEnd()) {
            record.sameAsId = *found;
        } else {
            earliest.insert(cal, record.id);
        }
    }

    if (reversed) {
        std::reverse(listed.begin(), listed.end());
        return listed;
    }
    std::vector<HistoryRecord> result;
    result.reserve(listed.size());
    for (int place : places) {
        result.push_back(std::move(listed[std::size_t(place)]));
    }
    return result;
}

std::optional<QByteArray> HistoryStore::calibrationFile(const QString& id) const {
    if (id.isEmpty() || id.contains(u'/') || id.contains(u'\\') || id.startsWith(u'.')) {
        return std::nullopt;
    }
    return readWhole(directory_ + u'/' + id + kCalSuffix);
}

std::optional<HistoryRecord> HistoryStore::find(const QString& id) const {
    for (HistoryRecord& record : records()) {
        if (record.id != id) {
            continue;
        }
        const std::optional<QByteArray> content = calibrationFile(id);
        if (!record.damaged && !content) {
            record.damaged = true;
            record.damage = QStringLiteral("its .cal file cannot be read");
        } else if (!record.damaged && *content != calibrationFileContent(record.entry.values)) {
            record.damaged = true;
            record.damage = QStringLiteral("its .cal file has been changed");
        }
        return std::move(record);
    }
    return std::nullopt;
}

bool HistoryStore::rebuildIndex(QString* error) {
    auto fail = [error](const QString& text) {
        if (error) {
            *error = text;
        }
        return false;
    };
    const QString where = QDir::toNativeSeparators(directory_);
    if (!QFileInfo(directory_).isDir()) {
        return fail(QStringLiteral("there is no history folder \"%1\"").arg(where));
    }
    QLockFile lock(directory_ + u'/' + kLockName);
    if (!lockSoon(lock)) {
        return fail(lockProblem(lock, directory_));
    }

    // What intact lines know beyond the names: the program, the port, the adapter, the local time.
    QHash<QString, IndexLine> known;
    const QByteArray index = readWhole(indexPath()).value_or(QByteArray());
    for (QByteArrayView line : completeLines(index)) {
        if (auto parsed = parseLine(line)) {
            known.insert(parsed->id, std::move(*parsed));
        }
    }

    struct Row {
        qint64 timeMs;
        QString id;
        QByteArray line;
    };
    std::vector<Row> rows;
    QDirIterator files(directory_, {QStringLiteral("*.cal")}, QDir::Files);
    while (files.hasNext()) {
        files.next();
        const QString id = files.fileName().chopped(kCalSuffix.size());
        const auto parts = partsOfName(id);
        const std::optional<QByteArray> content = readWhole(files.filePath());
        if (!parts || !content) {
            continue;  // still listed, as damaged, from the file itself
        }
        HistoryEntry entry;
        QByteArray rfc3339;
        if (const auto found = known.constFind(id); found != known.constEnd()) {
            entry = found->entry;
            rfc3339 = found->rfc3339;
        } else {
            entry.timeMs = parts->timeMs;
            entry.operation = parts->operation;
            entry.result = parts->result;
            rfc3339 = HistoryStore::rfc3339(entry.timeMs).toUtf8();
        }
        rows.push_back({entry.timeMs, id, makeLine(id, entry, *content, rfc3339)});
    }
    // A record whose .cal is gone keeps its line: the line still holds its values.
    for (auto it = known.cbegin(); it != known.cend(); ++it) {
        if (!QFileInfo::exists(directory_ + u'/' + it.key() + kCalSuffix)) {
            rows.push_back({it->entry.timeMs, it.key(), makeLine(it.key(), it->entry, it->cal, it->rfc3339)});
        }
    }
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.timeMs != b.timeMs ? a.timeMs < b.timeMs : a.id < b.id;
    });
    QSaveFile file(indexPath());
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(QStringLiteral("the history index in \"%1\" could not be written: %2")
                        .arg(where, file.errorString()));
    }
    for (const Row& row : rows) {
        file.write(row.line);
    }
    if (!file.commit()) {
        return fail(QStringLiteral("the history index in \"%1\" could not be written: %2")
                        .arg(where, file.errorString()));
    }
    return true;
}

}  // namespace kv
