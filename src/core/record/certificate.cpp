#include "core/record/certificate.h"
#include "core/calibration/calibration_text.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSettings>

#include <algorithm>

namespace kv {

namespace {

bool endsWith(const QString& operation, const char* suffix) {
    return operation.endsWith(QLatin1String(suffix));
}

// The 43 texts in the order of calibrationFieldName.
std::array<QString, 43> fields(const CalibrationTexts& t) {
    std::array<QString, 43> f;
    std::copy(t.col.begin(), t.col.end(), f.begin());
    std::copy(t.row.begin(), t.row.end(), f.begin() + 5);
    std::copy(t.matrix.begin(), t.matrix.end(), f.begin() + 11);
    f[41] = t.delay;
    f[42] = t.active;
    return f;
}

// Records in the order they were kept, oldest first: a bench's clock set back does not make an older
// calibration the latest.
std::vector<const HistoryRecord*> oldestFirst(const std::vector<HistoryRecord>& records) {
    std::vector<const HistoryRecord*> sorted;
    sorted.reserve(records.size());
    for (const HistoryRecord& r : records) {
        sorted.push_back(&r);
    }
    std::sort(sorted.begin(), sorted.end(), [](const HistoryRecord* a, const HistoryRecord* b) {
        return a->seq != b->seq ? a->seq < b->seq : a->id < b->id;
    });
    return sorted;
}

// The same bench, port and adapter: a record of another device is never its as-found.
bool samePlace(const HistoryEntry& a, const HistoryEntry& b) {
    return a.host == b.host && a.portPath == b.portPath && a.adapterName == b.adapterName &&
           a.adapterSerial == b.adapterSerial;
}

QString placeName(const HistoryEntry& e) {
    QString place = e.portPath.isEmpty() ? QStringLiteral("no recorded port") : e.portPath;
    if (!e.adapterName.isEmpty()) {
        place += QStringLiteral(" (%1)").arg(e.adapterName);
    }
    return e.host.isEmpty() ? place : QStringLiteral("%1 of %2").arg(place, e.host);
}

QString unitName(const QString& unit) {
    return unit.isEmpty() ? QStringLiteral("without a unit tag") : QStringLiteral("of unit %1").arg(unit);
}

QString notRecorded(const QString& text) {
    return text.isEmpty() ? QStringLiteral("not recorded") : text;
}

QSettings labSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("kestrovar-link"),
                     QStringLiteral("certificate"));
}

}  // namespace

bool isVerifiedAsLeft(const HistoryEntry& entry) {
    return entry.result == kHistoryVerified &&
           (entry.operation == kHistorySaveReadBack || endsWith(entry.operation, "-read-back"));
}

bool isAsFound(const HistoryEntry& entry) {
    return entry.operation == kHistoryLoad || entry.operation == QLatin1String("read") ||
           endsWith(entry.operation, "-as-found");
}

CertificateRecords certificateRecords(const std::vector<HistoryRecord>& records, const QString& asLeftId) {
    CertificateRecords found;
    const auto sorted = oldestFirst(records);
    const auto at =
        std::find_if(sorted.begin(), sorted.end(), [&](const HistoryRecord* r) { return r->id == asLeftId; });
    if (at == sorted.end()) {
        found.refusal = QStringLiteral("no record %1 in the history").arg(asLeftId);
        found.unknownRecord = true;
        return found;
    }
    const HistoryRecord& asLeft = **at;
    if (asLeft.damaged) {
        found.refusal = QStringLiteral("record %1 is damaged: %2").arg(asLeftId, asLeft.damage);
        return found;
    }
    if (!isVerifiedAsLeft(asLeft.entry)) {
        found.refusal = QStringLiteral(
                            "record %1 has no verified read-back: it is a %2 record with the result \"%3\"; "
                            "a certificate is made from the read-back that verified a write")
                            .arg(asLeftId, asLeft.entry.operation, asLeft.entry.result);
        return found;
    }
    found.asLeft = asLeft;
    // A write or restore reads the unit first, then keeps what it sent and what it read back: its
    // as-found is the record of that read, the one before its own sent record on the same port.
    const QString run = asLeft.entry.operation.section(u'-', 0, 0);
    const bool ownRun = run == QLatin1String("write") || run == QLatin1String("restore");
    bool sentSeen = false;
    for (auto it = std::make_reverse_iterator(at); it != sorted.rend(); ++it) {
        const HistoryRecord& r = **it;
        if (!samePlace(r.entry, asLeft.entry)) {
            continue;
        }
        if (ownRun) {
            if (r.entry.operation == run + QLatin1String("-sent") && !sentSeen) {
                sentSeen = true;
                continue;
            }
            if (r.entry.operation == run + QLatin1String("-as-found") && r.entry.unit == asLeft.entry.unit &&
                !r.damaged) {
                found.asFound = r;
                return found;
            }
            found.refusal =
                QStringLiteral(
                    "record %1 has no as-found record of its own %2: the %2's first read on "
                    "%3 is not in the history%4")
                    .arg(asLeftId, run, placeName(asLeft.entry),
                         r.damaged ? QStringLiteral(" (record %1 is damaged)").arg(r.id) : QString());
            return found;
        }
        if (r.entry.unit != asLeft.entry.unit || r.damaged) {
            continue;
        }
        if (isVerifiedAsLeft(r.entry)) {
            break;  // what was found before that calibration belongs to its certificate
        }
        if (isAsFound(r.entry)) {
            found.asFound = r;
            return found;
        }
    }
    found.refusal = ownRun ? QStringLiteral(
                                 "record %1 has no as-found record of its own %2: the %2's first read on "
                                 "%3 is not in the history")
                                 .arg(asLeftId, run, placeName(asLeft.entry))
                           : QStringLiteral(
                                 "record %1 has no as-found record: the history holds no Load, read or "
                                 "as-found read %2 on %3 between it and the calibration before it")
                                 .arg(asLeftId, unitName(asLeft.entry.unit), placeName(asLeft.entry));
    return found;
}

const HistoryRecord* latestVerifiedAsLeft(const std::vector<HistoryRecord>& records,
                                          const std::optional<QString>& unit) {
    const HistoryRecord* latest = nullptr;
    for (const HistoryRecord& r : records) {
        if ((!unit || r.entry.unit == *unit) && !r.damaged && isVerifiedAsLeft(r.entry) &&
            (!latest || r.seq > latest->seq)) {
            latest = &r;
        }
    }
    return latest;
}

CertificateRecords latestCertificateRecords(const std::vector<HistoryRecord>& records,
                                            const std::optional<QString>& unit) {
    if (const HistoryRecord* latest = latestVerifiedAsLeft(records, unit)) {
        return certificateRecords(records, latest->id);
    }
    CertificateRecords none;
    none.refusal = unit ? QStringLiteral("the history holds no verified calibration %1").arg(unitName(*unit))
                        : QStringLiteral("the history holds no verified calibration");
    none.unknownRecord = true;
    return none;
}

CertificateRecords rereadCertificateRecords(const HistoryStore& store, CertificateRecords found) {
    if (!found.refusal.isEmpty()) {
        return found;
    }
    for (std::optional<HistoryRecord>* record : {&found.asLeft, &found.asFound}) {
        const QString id = (*record)->id;
        QString error;
        *record = store.find(id, &error);
        if (!error.isEmpty()) {
            found.refusal = error;  // the history's own reason, not a record called gone
            found.unknownRecord = true;
            return found;
        }
        if (!*record || (*record)->damaged) {
            found.refusal = QStringLiteral("record %1 is damaged: %2")
                                .arg(id, *record ? (*record)->damage : QStringLiteral("it is gone"));
            return found;
        }
    }
    return found;
}

LabDetails readLabDetails() {
    QSettings settings = labSettings();
    return {settings.value(QStringLiteral("laboratory/name")).toString(),
            settings.value(QStringLiteral("laboratory/address")).toString(),
            settings.value(QStringLiteral("laboratory/layout")).toString()};
}

bool writeLabDetails(const LabDetails& details, QString* error) {
    QSettings settings = labSettings();
    settings.setValue(QStringLiteral("laboratory/name"), details.name);
    settings.setValue(QStringLiteral("laboratory/address"), details.address);
    if (details.layout.isEmpty()) {
        settings.remove(QStringLiteral("laboratory/layout"));
    } else {
        settings.setValue(QStringLiteral("laboratory/layout"), details.layout);
    }
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        *error =
            QStringLiteral("the laboratory's details could not be saved in \"%1\"").arg(settings.fileName());
        return false;
    }
    return true;
}

PageSize defaultPageSize() {
    return QLocale().measurementSystem() == QLocale::ImperialUSSystem ? PageSize::Letter : PageSize::A4;
}

std::optional<PageSize> pageSizeNamed(const QString& name) {
    if (name.compare(QLatin1String("A4"), Qt::CaseInsensitive) == 0) {
        return PageSize::A4;
    }
    if (name.compare(QLatin1String("Letter"), Qt::CaseInsensitive) == 0) {
        return PageSize::Letter;
    }
    return std::nullopt;
}

QString pageSizeName(PageSize size) {
    return size == PageSize::Letter ? QStringLiteral("Letter") : QStringLiteral("A4");
}

bool Certificate::changed(int field) const {
    return fields(asFound)[std::size_t(field)] != fields(asLeft)[std::size_t(field)];
}

QString certificateNumber(const HistoryRecord& asLeft) {
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(asLeft.entry.timeMs, Qt::UTC);
    const QString date = time.toString(QStringLiteral("yyyyMMdd"));
    bool numeric = false;
    asLeft.id.toULongLong(&numeric);
    if (numeric) {
        return QStringLiteral("KV-%1-%2").arg(date, asLeft.id);  // a database's own record number
    }
    // The id is the time, the operation, the result and a counter for records of the same millisecond.
    const QString& operation = asLeft.entry.operation;
    const QChar made = operation == kHistorySaveReadBack                 ? u'S'
                       : operation.startsWith(QLatin1String("write-"))   ? u'W'
                       : operation.startsWith(QLatin1String("restore-")) ? u'R'
                                                                         : u'X';
    QString number = QStringLiteral("KV-%1-%2%3").arg(date, time.toString(QStringLiteral("HHmmsszzz")), made);
    const QStringList parts = asLeft.id.split(u'_');
    if (parts.size() == 4) {
        number += u'-' + parts[3];
    }
    return number;
}

Certificate makeCertificate(const CertificateRecords& records, const LabDetails& lab, qint64 issueTimeMs) {
    const HistoryRecord& asLeft = *records.asLeft;
    const HistoryRecord& asFound = *records.asFound;
    Certificate c;
    c.title = QStringLiteral("Calibration Certificate");
    c.number = certificateNumber(asLeft);
    c.labName = lab.name;
    c.labAddress = lab.address;
    c.unit = notRecorded(asLeft.entry.unit);
    const QString day = QStringLiteral("yyyy-MM-dd");
    c.workDate = QDateTime::fromMSecsSinceEpoch(asLeft.entry.timeMs).toString(day);
    c.issueDate = QDateTime::fromMSecsSinceEpoch(issueTimeMs).toString(day);
    c.operatorName = notRecorded(asLeft.entry.operatorName);
    c.machine = notRecorded(asLeft.entry.host);
    // "kestrovar-cli 1.0.0": the version is the program's last word.
    const QString version = asLeft.entry.program.section(u' ', -1);
    c.method = QStringLiteral(
                   "The settings were written to the unit with KestroVar Link %1 and verified by "
                   "reading the unit's settings back and comparing every value.")
                   .arg(version.isEmpty() ? QStringLiteral("(version not recorded)") : version);
    c.statement = QStringLiteral("The results relate only to the unit named in this certificate.");
    c.authorisation = QStringLiteral("Authorised by");
    c.asFoundId = asFound.id;
    c.asLeftId = asLeft.id;
    c.asFound = asFound.entry.values;
    c.asLeft = asLeft.entry.values;
    return c;
}

namespace {

QJsonValue number(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? QJsonValue(value) : QJsonValue(text);
}

template <std::size_t N>
QJsonArray numbers(const std::array<QString, N>& texts, std::size_t from = 0, std::size_t count = N) {
    QJsonArray array;
    for (std::size_t i = from; i < from + count; ++i) {
        array.append(number(texts[i]));
    }
    return array;
}

QJsonObject results(const CalibrationTexts& t) {
    QJsonArray table;
    for (std::size_t r = 0; r < 6; ++r) {
        table.append(numbers(t.matrix, r * 5, 5));
    }
    return {{QStringLiteral("mct_axis_f"), numbers(t.col)},
            {QStringLiteral("dew_point_axis_f"), numbers(t.row)},
            {QStringLiteral("table_f"), table},
            {QStringLiteral("delay_minutes"), number(t.delay)},
            {QStringLiteral("correction"), t.active}};
}

QString text(const QJsonValue& value) {
    return value.isDouble() ? QString::number(value.toDouble(), 'g', 15) : value.toString();
}

template <std::size_t N>
bool readTexts(const QJsonValue& value, std::array<QString, N>& texts, std::size_t from = 0,
               std::size_t count = N) {
    const QJsonArray array = value.toArray();
    if (array.size() != qsizetype(count)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        texts[from + i] = text(array[qsizetype(i)]);
    }
    return true;
}

bool readResults(const QJsonObject& o, CalibrationTexts& t) {
    const QJsonArray table = o.value(QStringLiteral("table_f")).toArray();
    if (table.size() != 6 || !readTexts(o.value(QStringLiteral("mct_axis_f")), t.col) ||
        !readTexts(o.value(QStringLiteral("dew_point_axis_f")), t.row)) {
        return false;
    }
    for (std::size_t r = 0; r < 6; ++r) {
        if (!readTexts(table[qsizetype(r)], t.matrix, r * 5, 5)) {
            return false;
        }
    }
    t.delay = text(o.value(QStringLiteral("delay_minutes")));
    t.active = text(o.value(QStringLiteral("correction")));
    return true;
}

}  // namespace

QByteArray certificateJson(const Certificate& c) {
    QJsonArray changed;
    for (int field = 0; field < 43; ++field) {
        if (c.changed(field)) {
            changed.append(calibrationFieldName(field));
        }
    }
    const QJsonObject o{
        {QStringLiteral("title"), c.title},
        {QStringLiteral("number"), c.number},
        {QStringLiteral("laboratory"),
         QJsonObject{{QStringLiteral("name"), c.labName}, {QStringLiteral("address"), c.labAddress}}},
        {QStringLiteral("unit"), c.unit},
        {QStringLiteral("date_of_work"), c.workDate},
        {QStringLiteral("date_of_issue"), c.issueDate},
        {QStringLiteral("operator"), c.operatorName},
        {QStringLiteral("machine"), c.machine},
        {QStringLiteral("method"), c.method},
        {QStringLiteral("as_found"), results(c.asFound)},
        {QStringLiteral("as_left"), results(c.asLeft)},
        {QStringLiteral("changed"), changed},
        {QStringLiteral("statement"), c.statement},
        {QStringLiteral("authorisation"), c.authorisation},
        {QStringLiteral("records"),
         QJsonObject{{QStringLiteral("as_found"), c.asFoundId}, {QStringLiteral("as_left"), c.asLeftId}}},
        {QStringLiteral("page_size"), pageSizeName(c.pageSize)},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::optional<Certificate> certificateFromJson(const QByteArray& json, QString* problem) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!document.isObject()) {
        *problem = error.error != QJsonParseError::NoError ? error.errorString()
                                                           : QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    const QJsonObject o = document.object();
    auto s = [&](const char* key) { return o.value(QLatin1String(key)).toString(); };
    Certificate c;
    c.title = s("title");
    c.number = s("number");
    const QJsonObject lab = o.value(QStringLiteral("laboratory")).toObject();
    c.labName = lab.value(QStringLiteral("name")).toString();
    c.labAddress = lab.value(QStringLiteral("address")).toString();
    c.unit = s("unit");
    c.workDate = s("date_of_work");
    c.issueDate = s("date_of_issue");
    c.operatorName = s("operator");
    c.machine = s("machine");
    c.method = s("method");
    c.statement = s("statement");
    c.authorisation = s("authorisation");
    const QJsonObject ids = o.value(QStringLiteral("records")).toObject();
    c.asFoundId = ids.value(QStringLiteral("as_found")).toString();
    c.asLeftId = ids.value(QStringLiteral("as_left")).toString();
    c.pageSize = pageSizeNamed(s("page_size")).value_or(PageSize::A4);
    if (c.title.isEmpty() || c.number.isEmpty() ||
        !readResults(o.value(QStringLiteral("as_found")).toObject(), c.asFound) ||
        !readResults(o.value(QStringLiteral("as_left")).toObject(), c.asLeft)) {
        *problem = QStringLiteral("not a certificate: a title, a number and complete results are needed");
        return std::nullopt;
    }
    return c;
}

}  // namespace kv
