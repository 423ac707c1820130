// The calibration certificate's content: which records a certificate is made from and what it says.
// An as-left record is a read-back that verified what was written (by the window's Save, or by
// kestrovar-cli's write or restore). Its as-found comes from the same unit on the same bench, port and
// adapter, and "latest" and "before" mean the order in which records were kept, not their clock times.
// A write or restore's as-found is the read that run made first; a Save's is the latest Load or read
// after any earlier as-left of that unit. The page itself is drawn by kv_certificate.
#pragma once

#include "core/record/history_store.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace kv {

bool isVerifiedAsLeft(const HistoryEntry& entry);
bool isAsFound(const HistoryEntry& entry);

struct CertificateRecords {
    std::optional<HistoryRecord> asFound;
    std::optional<HistoryRecord> asLeft;
    QString refusal;  // why there is no certificate; empty when both records were found
    bool unknownRecord =
        false;  // the refusal is that no such record exists, or the history could not be read
};

// The as-left record `asLeftId` and its as-found, out of all records (in any order).
CertificateRecords certificateRecords(const std::vector<HistoryRecord>& records, const QString& asLeftId);
// The verified as-left kept last (of the unit tagged `unit`, when one is given); null when none.
const HistoryRecord* latestVerifiedAsLeft(const std::vector<HistoryRecord>& records,
                                          const std::optional<QString>& unit);
// The latest verified as-left kept (of the unit tagged `unit`, when one is given), and its as-found.
CertificateRecords latestCertificateRecords(const std::vector<HistoryRecord>& records,
                                            const std::optional<QString>& unit);
// The records chosen, read again from the store with their files compared (a listing trusts the
// index): a record changed or removed since is refused.
CertificateRecords rereadCertificateRecords(const HistoryStore& store, CertificateRecords found);

// The laboratory's details, kept once per installation in certificate.ini (organisation
// kestrovar-link), which the window and kestrovar-cli both read; a system-wide file is read when the
// user has none.
struct LabDetails {
    QString name;
    QString address;  // lines separated by "\n"
    QString layout;   // a lab's own page template (HTML), empty for the built-in one
};
LabDetails readLabDetails();
bool writeLabDetails(const LabDetails& details, QString* error);

enum class PageSize { A4, Letter };
// Letter where the locale measures in US units, A4 elsewhere.
PageSize defaultPageSize();
std::optional<PageSize> pageSizeNamed(const QString& name);  // "A4" or "Letter", any case
QString pageSizeName(PageSize size);

struct Certificate {
    QString title;
    QString number;
    QString labName;
    QString labAddress;
    QString unit;
    QString workDate;   // yyyy-MM-dd, local time of the as-left
    QString issueDate;  // yyyy-MM-dd
    QString operatorName;
    QString machine;
    QString method;
    QString statement;
    QString authorisation;
    QString asFoundId;
    QString asLeftId;
    CalibrationTexts asFound;
    CalibrationTexts asLeft;
    PageSize pageSize = PageSize::A4;

    // Field k of the 43 (the order of calibrationFieldName) differs between as found and as left.
    bool changed(int field) const;
};

// "KV-20261209-080001250W": the as-left's UTC date and time and what made it, so that the same record
// always gets the same number and no two records share one.
QString certificateNumber(const HistoryRecord& asLeft);

Certificate makeCertificate(const CertificateRecords& records, const LabDetails& lab, qint64 issueTimeMs);

// The certificate as JSON (what `kestrovar-cli certificate --json` prints and kestrovar-certificate
// reads); certificateFromJson reads it back.
QByteArray certificateJson(const Certificate& certificate);
std::optional<Certificate> certificateFromJson(const QByteArray& json, QString* problem);

}  // namespace kv
