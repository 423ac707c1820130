#include "core/record/certificate.h"
#include "cli/commands.h"
#include "core/record/certificate_check.h"
#include "core/record/history_store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace kv::cli {

namespace {

// The program that draws the PDF: beside kestrovar-cli, otherwise on the PATH.
QString drawingProgram() {
    const QString name = QStringLiteral("kestrovar-certificate");
    const QString beside = QCoreApplication::applicationDirPath() + u'/' + name;
    return QFileInfo(beside).isExecutable() ? beside : QStandardPaths::findExecutable(name);
}

class CertificateCommand : public Command {
  public:
    CertificateCommand()
        : Command(
              {.name = QStringLiteral("certificate"),
               .summary = QStringLiteral("a calibration certificate (PDF) of a verified calibration"),
               .help = QStringLiteral(
                   R"(Usage: kestrovar-cli certificate (ID | --unit TAG) -o FILE.pdf [--json] [--lab-name NAME]
                                 [--lab-address TEXT] [--page-size A4|Letter]
Makes the calibration certificate of the history record ID, a read-back that verified a
write, with the settings found before it beside the settings left, each changed value
marked: the read its own write or restore made first, or for a Save the unit's latest
Load or read, always on the same machine, port and adapter. With --unit, the certificate
of that unit's latest verified calibration, latest in the order the records were kept.
Any other record is refused, with the reason.
  -o FILE.pdf         write the certificate as a PDF
  --json              write its content as JSON on stdout
  --lab-name NAME     the laboratory's name; by default the one set in KestroVar Link's
                      Tools > Laboratory Details… (certificate.ini)
  --lab-address TEXT  the laboratory's address ("\n" between lines)
  --page-size SIZE    A4 or Letter; by default the locale's
)"),
               .flags = {QStringLiteral("--json")},
               .valued = {QStringLiteral("--unit"), QStringLiteral("-o"), QStringLiteral("--lab-name"),
                          QStringLiteral("--lab-address"), QStringLiteral("--page-size")},
               .operand = QStringLiteral("ID"),
               .operandNeeded = false,
               .needsPort = false}) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        const auto unit = args.value(QStringLiteral("--unit"));
        if (unit && holdsControlCharacter(*unit)) {
            return usageError(context, *this,
                              QStringLiteral("--unit takes a TAG without control characters"));
        }
        if (unit && !args.positional.isEmpty()) {
            return usageError(context, *this, QStringLiteral("give a record ID or --unit TAG, not both"));
        }
        if (!unit && args.positional.isEmpty()) {
            return usageError(context, *this, QStringLiteral("no ID given"));
        }
        if (!unit && args.positional.first().isEmpty()) {
            return usageError(context, *this, QStringLiteral("the record ID is empty"));
        }
        const auto output = args.value(QStringLiteral("-o"));
        const bool json = args.has(QStringLiteral("--json"));
        if (!json && (!output || output->isEmpty())) {
            return usageError(context, *this, QStringLiteral("-o FILE.pdf or --json is needed"));
        }
        PageSize pageSize = defaultPageSize();
        if (const auto size = args.value(QStringLiteral("--page-size"))) {
            const auto named = pageSizeNamed(*size);
            if (!named) {
                return usageError(context, *this, QStringLiteral("--page-size is A4 or Letter"));
            }
            pageSize = *named;
        }
        LabDetails lab = readLabDetails();
        if (const auto name = args.value(QStringLiteral("--lab-name"))) {
            lab.name = *name;
        }
        if (const auto address = args.value(QStringLiteral("--lab-address"))) {
            lab.address = QString(*address).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        }
        if (lab.name.trimmed().isEmpty()) {
            return usageError(context, *this,
                              QStringLiteral("the laboratory's name is not set: give --lab-name, or set it "
                                             "once in KestroVar Link, Tools > Laboratory Details…"));
        }

        const HistoryStore store(HistoryStore::defaultLocation());
        QString error = store.absence();
        const std::vector<HistoryRecord> records =
            error.isEmpty() ? store.records({}, &error) : std::vector<HistoryRecord>{};
        if (!error.isEmpty()) {
            context.say(QStringLiteral("no certificate: %1").arg(error));  // the history's own reason
            return exitNoInput;
        }
        const CertificateRecords found =
            rereadCertificateRecords(store, unit ? latestCertificateRecords(records, *unit)
                                                 : certificateRecords(records, args.positional.first()));
        if (!found.refusal.isEmpty()) {
            context.say(QStringLiteral("no certificate: %1").arg(found.refusal));
            return found.unknownRecord ? exitNoInput : exitBadFile;
        }
        Certificate certificate = makeCertificate(found, lab, context.platform.nowMs());
        certificate.pageSize = pageSize;
        const QByteArray content = certificateJson(certificate);
        if (json) {
            context.out(content);
        }
        if (!output) {
            return exitOk;
        }
        return draw(context, content, certificate, *output);
    }

  private:
    int draw(Context& context, const QByteArray& content, const Certificate& certificate,
             const QString& output) {
        const QString program = drawingProgram();
        if (program.isEmpty()) {
            context.say(
                QStringLiteral("kestrovar-certificate, which draws the PDF, is not installed beside "
                               "kestrovar-cli or on the PATH; nothing was written"));
            return exitCantWrite;
        }
        const FileStamp before = fileStamp(output);
        QProcess drawing;
        drawing.start(program, {QStringLiteral("-o"), output});
        if (!drawing.waitForStarted(10000)) {
            context.say(QStringLiteral("%1 could not be started: %2").arg(program, drawing.errorString()));
            return exitCantWrite;
        }
        drawing.write(content);
        drawing.closeWriteChannel();
        const bool finished = drawing.waitForFinished(60000);
        if (!finished || drawing.exitStatus() != QProcess::NormalExit || drawing.exitCode() != 0) {
            if (!finished) {
                drawing.kill();
                drawing.waitForFinished(5000);
            }
            const QString why = QString::fromLocal8Bit(drawing.readAllStandardError()).trimmed();
            context.say(why.isEmpty()
                            ? QStringLiteral("the certificate could not be drawn; nothing was written")
                            : why);
            return exitCantWrite;
        }
        // A lab's layout that could not be read is said; the built-in one was used.
        for (const QString& line :
             QString::fromLocal8Bit(drawing.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts)) {
            context.say(line);
        }
        const QString reported = QString::fromLatin1(drawing.readAllStandardOutput());
        if (const auto problem = certificateNotWritten(output, reported, before)) {
            context.say(QStringLiteral("%1 was not written: %2").arg(output, *problem));
            return exitCantWrite;
        }
        const int pages = reported.trimmed().toInt();
        context.say(QStringLiteral("certificate %1 of record %2 written to %3 (%4 %5)")
                        .arg(certificate.number, certificate.asLeftId, output)
                        .arg(pages)
                        .arg(pages == 1 ? QStringLiteral("page") : QStringLiteral("pages")));
        return exitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makeCertificateCommand() {
    return std::make_unique<CertificateCommand>();
}

}  // namespace kv::cli
