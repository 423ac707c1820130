// The user-interface seams: modal message boxes and file dialogs, beside the system seams of
// core/system.h. Production uses QtPlatform (gui/qt_platform.h), tests the virtual platform.
#pragma once

#include "core/platform/system.h"

#include <QString>

#include <optional>

class QWidget;

namespace kv {

enum class FileDialogKind { Save, Open };

struct FileDialogOptions {
    QString title;
    QString filter;    // "Label|pattern" pairs joined by "|"
    QString fileName;  // proposed name, empty for none
    int filterIndex = 1;
    int flags = 4;  // 4: no read-only check box
    bool cancelError = true;
};

class Platform : public virtual SystemPlatform {
  public:
    // A modal message box with an OK button and the application title.
    virtual void messageBox(QWidget* parent, const QString& text) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<QString> fileDialog(QWidget* parent, FileDialogKind kind,
                                              const FileDialogOptions& options) = 0;
    // A modal one-line question; the text entered, or nothing when the user cancelled.
    virtual std::optional<QString> inputText(QWidget* parent, const QString& title, const QString& label,
                                             const QString& text) = 0;
};

}  // namespace kv
