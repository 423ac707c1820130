// The style's icons that the first window asks for but seldom shows, made only when first drawn.
#pragma once

#include <QProxyStyle>

namespace kv {

// Every QMenuBar asks its style for the extension button's icon, shown only when the menus do not
// fit, and the style reads it from an image file, for which Qt loads every image plugin (GIF, ICO,
// JPEG) to learn the file's format. This style hands out that icon as a stand-in that asks the
// real style the first time it is painted.
class DeferredIconStyle : public QProxyStyle {
    Q_OBJECT
  public:
    using QProxyStyle::QProxyStyle;
    QIcon standardIcon(StandardPixmap which, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

}  // namespace kv
