#include "cli/commands.h"
#include "core/calibration_text.h"
#include "core/history_store.h"
#include "core/version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    entry.values = calibrationTexts(calibration);
    HistoryStore store(HistoryStore::defaultDirectory());
    const HistoryStore::Appended appended = store.append(entry);
    if (!appended.error.isEmpty() && !context.historyProblemSaid) {
        // The exchange itself is done; only its record is missing. Said once per run.
        context.historyProblemSaid = true;
        context.say(QStringLiteral("the calibration history could not be kept: %1").arg(appended.error));
    }
    return appended.id;
}

namespace {

class HistoryCommand : public Command {
  public:
    QString name() const override { return QStringLiteral("history"); }
    QString summary() const override {
        return QStringLiteral("the records of every calibration read or written");
    }
    QString help() const override {
        return QStringLiteral(
            "Usage: kestrovar-cli history [--json] [--limit N]\n"
            "Lists the calibration history, newest first: each record's id, time, operation, result,\n"
            "port and adapter, and the earliest record with the same values. The records are kept by\n"
            "KestroVar Link and kestrovar-cli alike, in KESTROVAR_HISTORY or the user's data folder.\n"
            "  --limit N  the newest N records only\n"
            "  --json     a JSON array of records, with their values\n");
    }
    bool needsPort() const override { return false; }

    int execute(Context& context, const QStringList& words) override {
        const Arguments args = parseArguments(words, {QStringLiteral("--json")}, {QStringLiteral("--limit")});
        if (const int status = checkArguments(context, *this, args)) {
            return status;
        }
        qsizetype limit = -1;
        if (const auto text = args.value(QStringLiteral("--limit"))) {
            bool ok = false;
            limit = text->toInt(&ok);
            if (!ok || limit < 1) {
                return usageError(context, *this, QStringLiteral("--limit takes a whole number from 1"));
            }
        }
        const HistoryStore store(HistoryStore::defaultDirectory());
        std::vector<HistoryRecord> records = store.records();
        if (limit > 0 && qsizetype(records.size()) > limit) {
            records.resize(std::size_t(limit));
        }
        if (args.has(QStringLiteral("--json"))) {
            QJsonArray array;
            for (const HistoryRecord& r : records) {
                QJsonObject o;
                o.insert(QStringLiteral("id"), r.id);
                o.insert(QStringLiteral("time"), HistoryStore::rfc3339(r.entry.timeMs));
                o.insert(QStringLiteral("operation"), r.entry.operation);
                o.insert(QStringLiteral("result"), r.entry.result);
                o.insert(QStringLiteral("program"), r.entry.program);
                o.insert(QStringLiteral("port"), r.entry.portPath);
                o.insert(QStringLiteral("adapter"), r.entry.adapterName);
                o.insert(QStringLiteral("adapter_serial"), r.entry.adapterSerial);
                o.insert(QStringLiteral("same_as"), r.sameAsId);
                o.insert(QStringLiteral("damaged"), r.damaged);
                if (!r.damaged) {
                    o.insert(QStringLiteral("cal"),
                             QString::fromLatin1(calibrationFileContent(r.entry.values)));
                }
                array.append(o);
            }
            context.out(QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n');
            return exitOk;
        }
        QByteArray text;
        for (const HistoryRecord& r : records) {
            QStringList fields{r.id, HistoryStore::rfc3339(r.entry.timeMs), r.entry.operation,
                               r.damaged ? QStringLiteral("damaged: %1").arg(r.damage) : r.entry.result,
                               r.entry.portPath};
            if (!r.entry.adapterName.isEmpty()) {
                fields << r.entry.adapterName;
            }
            if (!r.sameAsId.isEmpty()) {
                fields << QStringLiteral("same as %1").arg(r.sameAsId);
            }
            text += fields.join(QStringLiteral("  ")).toUtf8() + '\n';
        }
        context.out(text);
        if (records.empty()) {
            context.say(QStringLiteral("no records in %1").arg(store.directory()));
        }
        return exitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makeHistoryCommand() {
    return std::make_unique<HistoryCommand>();
}

}  // namespace kv::cli
