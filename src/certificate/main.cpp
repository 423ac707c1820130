// kestrovar-certificate: draws a calibration certificate, given as the JSON of
// `kestrovar-cli certificate --json` on the standard input, as a PDF. kestrovar-cli runs it, so that
// kestrovar-cli itself never loads QtGui; it needs no display.
#include "certificate/certificate_document.h"
#include "core/platform/file_write.h"
#include "core/platform/qt_system.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace {

int fail(int status, const QString& problem) {
    std::fputs(qPrintable(QStringLiteral("kestrovar-certificate: %1\n").arg(problem)), stderr);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // Qt's own notices (a missing runtime folder, font fallbacks) are not for the person printing.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg) {
            std::fputs(qPrintable(message + u'\n'), stderr);
        }
    });
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
#ifdef Q_OS_WIN
    _setmode(_fileno(stdin), _O_BINARY);  // the JSON as sent, whatever bytes it holds
#endif
    QString output;
    const QStringList words = kv::commandLineWords(argc, argv);
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString& word = words[i];
        if (word == QLatin1String("-o") && i + 1 < words.size()) {
            output = words[++i];
        } else {
            return fail(64, QStringLiteral("usage: kestrovar-certificate -o FILE.pdf < CERTIFICATE.json"));
        }
    }
    if (output.isEmpty()) {
        return fail(64, QStringLiteral("usage: kestrovar-certificate -o FILE.pdf < CERTIFICATE.json"));
    }
    QGuiApplication app(argc, argv);
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        return fail(66, QStringLiteral("the standard input cannot be read"));
    }
    QString problem;
    const std::optional<kv::Certificate> certificate = kv::certificateFromJson(input.readAll(), &problem);
    if (!certificate) {
        return fail(65, QStringLiteral("the standard input holds no certificate: %1").arg(problem));
    }
    const QString layout = kv::certificateLayout(kv::readLabDetails(), &problem);
    if (!problem.isEmpty()) {
        std::fputs(qPrintable(QStringLiteral("kestrovar-certificate: %1\n").arg(problem)), stderr);
    }
    const kv::CertificatePdf pdf = kv::certificatePdf(*certificate, layout);
    if (pdf.pages < 1 || pdf.bytes.isEmpty()) {
        return fail(
            73, QStringLiteral("\"%1\" was not written: the certificate came out with no page").arg(output));
    }
    QString reason;
    if (!kv::writeWholeFile(output, pdf.bytes, &reason)) {
        return fail(73, QStringLiteral("\"%1\" could not be written: %2").arg(output, reason));
    }
    std::printf("%d\n", pdf.pages);
    return 0;
}
