#include "core/record/history_import.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace kv {

namespace {

const QString kIndexName = QStringLiteral("index.txt");
const QString kCalSuffix = QStringLiteral(".cal");
constexpr char kLineTag[] = "kvh1";
constexpr int kLineFields = 12;

// ---- index lines -------------------------------------------------------------------------------
// kvh1 TAB id TAB timeMs TAB time TAB operation TAB result TAB program TAB port TAB adapter name TAB
// adapter serial TAB .cal bytes TAB checksum LF. Fields are escaped so that no tab, line end or
// per cent sign of their own remains; the checksum is the first 8 hex digits of the SHA-1 of
// everything before its tab.

QByteArray unescaped(QByteArrayView field) {
    if (!field.contains('%')) {
        return field.toByteArray();
    }
    return QByteArray::fromPercentEncoding(field.toByteArray());
}

QByteArray checksum(QByteArrayView text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex().left(8);
}

// What a .cal file's bytes are. Written as is: what writing its texts gives back, byte for byte (five
// lines, each ended by CR LF). Other line ends: the same five lines with 5, 6 and 30 fields in the
// first three, ended by LF or CR as the earlier programs' readers took them (the last line end may be
// missing). Anything else, such as a sixth line or a short line, is not a calibration.
enum class CalShape { AsWritten, OtherLineEnds, NotACalibration };

CalShape shapeOf(QByteArrayView content) {
    constexpr int commas[kCalibrationFileLines] = {4, 5, 29, -1, -1};
    int line = 0;
    int commasSeen = 0;
    bool crlfOnly = true;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (line >= kCalibrationFileLines) {
            return CalShape::NotACalibration;
        }
        if (c == ',') {
            ++commasSeen;
        } else if (c == '\r' || c == '\n') {
            if (commas[line] >= 0 && commasSeen != commas[line]) {
                return CalShape::NotACalibration;
            }
            if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
                ++i;
            } else {
                crlfOnly = false;
            }
            ++line;
            commasSeen = 0;
        }
    }
    if (line == kCalibrationFileLines - 1 && !content.isEmpty() && content.back() != '\n' &&
        content.back() != '\r') {
        return CalShape::OtherLineEnds;  // the last line without its line end
    }
    if (line != kCalibrationFileLines) {
        return CalShape::NotACalibration;
    }
    return crlfOnly ? CalShape::AsWritten : CalShape::OtherLineEnds;
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
        *exact = shapeOf(content) != CalShape::NotACalibration;
    }
    return texts;
}

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

}  // namespace

// The same for a long listing: a file written as is splits at every comma and line end, and the
// few different texts of a history ("0" to "255", "Yes") are made once and shared.
CalibrationTexts CalTextReader::read(const QByteArray& content, bool* exact) {
    const CalShape shape = shapeOf(content);
    *exact = shape != CalShape::NotACalibration;
    if (shape != CalShape::AsWritten) {
        return textsOf(content, nullptr);
    }
    std::array<QString*, 43> boxes{};
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

QString CalTextReader::shared(QByteArrayView text) {
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

QString historyId(qint64 timeMs, const QString& operation, const QString& result) {
    return timeName(timeMs) + u'_' + namePart(operation) + u'_' + namePart(result);
}

bool holdsFolderHistory(const QString& directory) {
    if (QFileInfo::exists(directory + u'/' + kIndexName)) {
        return true;
    }
    QDirIterator files(directory, {QStringLiteral("*.cal")}, QDir::Files);
    return files.hasNext();
}

std::vector<FolderRecord> readFolderHistory(const QString& directory) {
    std::vector<FolderRecord> found;
    QSet<QString> taken;
    const QByteArray index = readWhole(directory + u'/' + kIndexName).value_or(QByteArray());
    for (QByteArrayView line : completeLines(index)) {
        std::optional<IndexLine> parsed = parseLine(line);
        if (!parsed || taken.contains(parsed->id)) {
            continue;  // a damaged line's record comes from its .cal below, when it has one
        }
        taken.insert(parsed->id);
        CalTextReader reader;
        bool exact = false;
        parsed->entry.values = reader.read(parsed->cal, &exact);
        found.push_back({parsed->id, std::move(parsed->entry), std::move(parsed->cal)});
    }
    // .cal files the index does not know of: a crash between the file and its line, or a lost index.
    QDirIterator files(directory, {QStringLiteral("*.cal")}, QDir::Files);
    while (files.hasNext()) {
        files.next();
        const QString id = files.fileName().chopped(kCalSuffix.size());
        const auto parts = partsOfName(id);
        const std::optional<QByteArray> content = readWhole(files.filePath());
        if (taken.contains(id) || !parts || !content) {
            continue;
        }
        taken.insert(id);
        FolderRecord& record = found.emplace_back();
        record.id = id;
        record.entry.timeMs = parts->timeMs;
        record.entry.operation = parts->operation;
        record.entry.result = parts->result;
        record.entry.values = textsOf(*content, nullptr);
        record.cal = *content;
    }
    std::sort(found.begin(), found.end(), [](const FolderRecord& a, const FolderRecord& b) {
        return a.entry.timeMs != b.entry.timeMs ? a.entry.timeMs < b.entry.timeMs : a.id < b.id;
    });
    return found;
}

}  // namespace kv
