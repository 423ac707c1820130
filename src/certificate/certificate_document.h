// The calibration certificate as a PDF: the page template (certificate_layout.html, or a lab's own
// copy) filled with the certificate's texts, laid out by QTextDocument and drawn by QPdfWriter, with
// "Page N of M" at the foot of every page. QtGui only: it needs no window system (the offscreen or
// minimal platform will do), and kestrovar-cli reaches it through the kestrovar-certificate program.
#pragma once

#include "core/record/certificate.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace kv {

// The built-in page template.
QString builtInCertificateLayout();
// The template a lab named in its details, or the built-in one; *problem says why a named one could
// not be read (the built-in one is used then).
QString certificateLayout(const LabDetails& lab, QString* problem);

// The template with every {{name}} replaced, each text escaped for HTML.
QString certificateHtml(const Certificate& certificate, const QString& layout);

struct CertificatePdf {
    QByteArray bytes;
    int pages = 0;
};
CertificatePdf certificatePdf(const Certificate& certificate, const QString& layout);

}  // namespace kv
