#include "gui/certificate_window.h"

#include "certificate/certificate_document.h"
#include "core/record/certificate.h"
#include "gui/history_window.h"
#include "gui/main_window.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

namespace kv {

void buildCertificateMenu(Form1& form) {
    if (!form.Tools->actions().isEmpty()) {
        form.Tools->addSeparator();
    }
    QAction* details = form.Tools->addAction(QStringLiteral("Laboratory Details…"));
    details->setObjectName(QStringLiteral("LaboratoryDetails"));
    QObject::connect(details, &QAction::triggered, &form, [&form] {
        auto* dialog = new LabDetailsDialog(&form, form.platform());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
    QAction* latest = form.Tools->addAction(QStringLiteral("Calibration Certificate…"));
    latest->setObjectName(QStringLiteral("CalibrationCertificate"));
    QObject::connect(latest, &QAction::triggered, &form, [&form] {
        QString error;
        const std::vector<HistoryRecord> records = form.historyStore().records({}, &error);
        if (!error.isEmpty()) {
            form.platform().messageBox(&form, QStringLiteral("No certificate: %1.").arg(error));
            return;
        }
        // The latest kept, whatever the bench's clock said when it was kept.
        const HistoryRecord* latest = latestVerifiedAsLeft(records, std::nullopt);
        if (!latest) {
            form.platform().messageBox(&form,
                                       QStringLiteral("No certificate: the calibration history holds no "
                                                      "verified calibration yet."));
            return;
        }
        saveCertificate(&form, form.platform(), form.historyStore(), latest->id);
    });
}

void saveCertificate(QWidget* parent, Platform& platform, const HistoryStore& store,
                     const QString& asLeftId) {
    QString readError;
    const std::vector<HistoryRecord> records = store.records({}, &readError);
    if (!readError.isEmpty()) {
        // The history's own reason, not a record called missing.
        platform.messageBox(parent, QStringLiteral("No certificate: %1.").arg(readError));
        return;
    }
    const CertificateRecords found = rereadCertificateRecords(store, certificateRecords(records, asLeftId));
    if (!found.refusal.isEmpty()) {
        platform.messageBox(parent, QStringLiteral("No certificate: %1.").arg(found.refusal));
        return;
    }
    const LabDetails lab = readLabDetails();
    if (lab.name.trimmed().isEmpty()) {
        platform.messageBox(parent, QStringLiteral("The laboratory's name is not set yet: Tools > Laboratory "
                                                   "Details… sets it for every certificate."));
        return;
    }
    Certificate certificate = makeCertificate(found, lab, platform.nowMs());
    certificate.pageSize = defaultPageSize();
    FileDialogOptions options;
    options.title = QStringLiteral("Save Calibration Certificate");
    options.filter = QStringLiteral("PDF Documents (*.pdf)|*.pdf");
    options.fileName = certificate.number + QStringLiteral(".pdf");
    const std::optional<QString> path = platform.fileDialog(parent, FileDialogKind::Save, options);
    if (!path) {
        return;
    }
    QString problem;
    const QString layout = certificateLayout(lab, &problem);
    if (!problem.isEmpty()) {
        platform.messageBox(parent, problem.left(1).toUpper() + problem.mid(1) + u'.');
    }
    FileError error;
    if (!platform.writeTextFileAtomically(*path, certificatePdf(certificate, layout).bytes, &error)) {
        platform.messageBox(parent, asSentence(QStringLiteral("The certificate \"%1\" could not be saved: %2")
                                                   .arg(QDir::toNativeSeparators(*path), error.message)));
        return;
    }
    platform.messageBox(parent, QStringLiteral("Certificate %1 saved").arg(certificate.number));
}

void HistoryWindow::Certificate_Click() {
    if (const HistoryRecord* record = selected()) {
        saveCertificate(this, editor_.platform(), editor_.historyStore(), record->id);
    }
}

LabDetailsDialog::LabDetailsDialog(QWidget* parent, Platform& platform)
    : QDialog(parent), platform_(platform) {
    setWindowTitle(QStringLiteral("Laboratory Details"));
    const LabDetails lab = readLabDetails();
    name = new QLineEdit(lab.name, this);
    name->setObjectName(QStringLiteral("labName"));
    address = new QPlainTextEdit(lab.address, this);
    address->setObjectName(QStringLiteral("labAddress"));
    address->setTabChangesFocus(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { save(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Name:"), name);
    form->addRow(QStringLiteral("Address:"), address);
    form->addRow(buttons);
}

void LabDetailsDialog::save() {
    LabDetails lab = readLabDetails();
    lab.name = name->text().trimmed();
    lab.address = address->toPlainText().trimmed();
    QString error;
    if (!writeLabDetails(lab, &error)) {
        platform_.messageBox(this, error.left(1).toUpper() + error.mid(1) + u'.');
        return;
    }
    accept();
}

}  // namespace kv
