#include "cli/commands.h"
#include "core/calibration/calibration_text.h"
#include "core/publish/mqtt_publisher.h"
#include "core/publish/record_json.h"
#include "core/readings/time_text.h"
#include "core/record/history_store.h"
#include "core/version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace kv::cli {

QString recordCalibration(Context& context, const QString& operation, const QString& result,
                          const Calibration& calibration) {
    HistoryEntry entry;
    entry.timeMs = context.platform.nowMs();
    entry.operation = operation;
    entry.result = result;
    entry.program = context.program + u' ' + programVersion();
    entry.portPath = context.portPath;
    const AdapterInfo adapter = context.platform.portAdapter(context.port);
    entry.adapterName = adapter.stableName;
    entry.adapterSerial = adapter.serialNumber;
    entry.unit = context.unit;
    entry.values = calibrationTexts(calibration);
    HistoryStore store(HistoryStore::defaultLocation());
    const HistoryStore::Appended appended = store.append(entry);
    if (!appended.error.isEmpty() && !context.historyProblemSaid) {
        // The exchange itself is done; only its record is missing. Said once per run.
        context.historyProblemSaid = true;
        context.say(QStringLiteral("the calibration history could not be kept: %1").arg(appended.error));
    }
    if (context.publisher && !appended.id.isEmpty()) {
        // As `history --json` lists it, once the history holds it.
        if (const std::optional<HistoryRecord> record = store.find(appended.id)) {
            context.publisher->publishRecord(*record);
        }
    }
    return appended.id;
}

namespace {

class HistoryCommand : public Command {
  public:
    HistoryCommand()
        : Command(
              {.name = QStringLiteral("history"),
               .summary = QStringLiteral("the records of every calibration read or written"),
               .help = QStringLiteral(R"(Usage: kestrovar-cli history [--json] [--limit N] [--unit TAG]
       kestrovar-cli history --check
       kestrovar-cli history --export ID
Lists the calibration history, newest first: each record's id, time, operation, result,
port, adapter, unit, operator and machine, and the earliest record with the same values.
The records are kept by KestroVar Link and kestrovar-cli alike, in KESTROVAR_HISTORY (or
--history) or the user's data folder.
  --limit N    the newest N records only
  --unit TAG   the records of one unit only
  --json       a JSON array of records, with their values
  --check      proves every record intact: exit status 0, or 1 with each record that
               was changed, moved, removed or inserted named on its own line; says how
               many records it checked and the newest one's id and hash
  --export ID  the record ID as the .cal file Save Settings to File writes, on stdout
)"),
               .flags = {QStringLiteral("--json"), QStringLiteral("--check")},
               .valued = {QStringLiteral("--limit"), QStringLiteral("--unit"), QStringLiteral("--export")},
               .needsPort = false,
               .alone = {QStringLiteral("--check"), QStringLiteral("--export")}}) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        qsizetype limit = -1;
        if (const auto text = args.value(QStringLiteral("--limit"))) {
            bool ok = false;
            limit = text->toInt(&ok);
            if (!ok || limit < 1) {
                return usageError(context, *this, QStringLiteral("--limit takes a whole number from 1"));
            }
        }
        const QString unit = args.value(QStringLiteral("--unit")).value_or(QString()).trimmed();
        if (args.value(QStringLiteral("--unit")) && (unit.isEmpty() || holdsControlCharacter(unit))) {
            return usageError(context, *this,
                              QStringLiteral("--unit takes a TAG without control characters"));
        }
        const HistoryStore store(HistoryStore::defaultLocation());
        // Nothing is made where there is no history, and none is called intact or empty.
        if (const QString absent = store.absence(); !absent.isEmpty()) {
            context.say(absent);
            return exitNoInput;
        }
        QString error;
        if (args.has(QStringLiteral("--check"))) {
            std::vector<HistoryProblem> problems;
            HistoryCheck checked;
            if (!store.check(&problems, &error, &checked)) {
                context.say(error);
                return exitNoInput;
            }
            QByteArray text;
            for (const HistoryProblem& p : problems) {
                text += (p.id.isEmpty() ? p.what : QStringLiteral("%1 %2").arg(p.id, p.what)).toUtf8() + '\n';
            }
            context.out(text);
            // What was checked, so that a later check can be compared with this one.
            const QString what = checked.records == 0
                                     ? QStringLiteral("no records")
                                     : QStringLiteral("%1 record%2, the newest %3 (hash %4)")
                                           .arg(checked.records)
                                           .arg(checked.records == 1 ? "" : "s")
                                           .arg(checked.newestId, checked.newestHash.left(12));
            if (!problems.empty()) {
                const auto named = std::count_if(problems.begin(), problems.end(),
                                                 [](const HistoryProblem& p) { return !p.id.isEmpty(); });
                const bool endRemoved = std::size_t(named) < problems.size();
                QString found =
                    named == 0 ? QString()
                    : named == 1
                        ? QStringLiteral("1 record in %1 is not as it was kept").arg(store.shownLocation())
                        : QStringLiteral("%1 records in %2 are not as they were kept")
                              .arg(named)
                              .arg(store.shownLocation());
                if (endRemoved) {
                    found += found.isEmpty() ? QStringLiteral("records have been removed from the end of %1")
                                                   .arg(store.shownLocation())
                                             : QStringLiteral(", and records have been removed from its end");
                }
                context.say(QStringLiteral("%1; checked %2").arg(found, what));
                return exitDiffers;
            }
            context.say(QStringLiteral("every record in %1 is intact: %2").arg(store.shownLocation(), what));
            return exitOk;
        }
        if (const auto id = args.value(QStringLiteral("--export"))) {
            const std::optional<HistoryRecord> record = store.find(*id, &error);
            if (!record) {
                context.say(error.isEmpty()
                                ? QStringLiteral("no record %1 in %2").arg(*id, store.shownLocation())
                                : error);
                return exitNoInput;
            }
            if (record->damaged) {
                context.say(QStringLiteral("record %1 is damaged: %2").arg(*id, record->damage));
                return exitBadFile;
            }
            context.out(calibrationFileContent(record->entry.values));
            return exitOk;
        }
        std::vector<HistoryRecord> records = store.records(unit, &error);
        if (!error.isEmpty()) {
            context.say(error);
            return exitNoInput;
        }
        if (limit > 0 && qsizetype(records.size()) > limit) {
            records.resize(std::size_t(limit));
        }
        if (args.has(QStringLiteral("--json"))) {
            QJsonArray array;
            for (const HistoryRecord& r : records) {
                array.append(historyRecordJson(r));
            }
            context.out(QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n');
            return exitOk;
        }
        QByteArray text;
        for (const HistoryRecord& r : records) {
            QStringList fields{r.id, rfc3339Local(r.entry.timeMs), r.entry.operation,
                               r.damaged ? QStringLiteral("damaged: %1").arg(r.damage) : r.entry.result,
                               r.entry.portPath};
            if (!r.entry.adapterName.isEmpty()) {
                fields << r.entry.adapterName;
            }
            if (!r.entry.unit.isEmpty()) {
                fields << QStringLiteral("unit %1").arg(r.entry.unit);
            }
            if (!r.entry.operatorName.isEmpty()) {
                fields << QStringLiteral("by %1@%2").arg(r.entry.operatorName, r.entry.host);
            }
            if (!r.sameAsId.isEmpty()) {
                fields << QStringLiteral("same as %1").arg(r.sameAsId);
            }
            text += fields.join(QStringLiteral("  ")).toUtf8() + '\n';
        }
        context.out(text);
        if (records.empty()) {
            context.say(unit.isEmpty()
                            ? QStringLiteral("no records in %1").arg(store.shownLocation())
                            : QStringLiteral("no records of unit %1 in %2").arg(unit, store.shownLocation()));
        }
        return exitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makeHistoryCommand() {
    return std::make_unique<HistoryCommand>();
}

}  // namespace kv::cli
