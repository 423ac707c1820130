#include "gui/qt_platform.h"

#include "gui/about_dialog.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace kv {

QStringList qtFileFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split(u'|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString label = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        result << (label.endsWith(u')') ? label : QStringLiteral("%1 (%2)").arg(label, patterns));
    }
    return result;
}

void QtPlatform::messageBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

std::optional<QString> QtPlatform::inputText(QWidget* parent, const QString& title, const QString& label,
                                             const QString& text) {
    bool ok = false;
    const QString entered = QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, &ok);
    return ok ? std::optional<QString>(entered) : std::nullopt;
}

std::optional<QString> QtPlatform::fileDialog(QWidget* parent, FileDialogKind kind,
                                              const FileDialogOptions& options) {
    QFileDialog dialog(parent, options.title);
    const QStringList filters = qtFileFilters(options.filter);
    dialog.setNameFilters(filters);
    if (options.filterIndex >= 1 && options.filterIndex <= filters.size()) {
        dialog.selectNameFilter(filters[options.filterIndex - 1]);
    }
    if (!options.fileName.isEmpty()) {
        dialog.selectFile(options.fileName);
    }
    if (kind == FileDialogKind::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

}  // namespace kv
