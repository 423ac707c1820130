// Small helpers every window of the program shares.
#pragma once

#include <QString>

class QWidget;

namespace kv {

// Shows a window of its own in front: restored when it was minimised, raised and made active.
void bringToFront(QWidget* window);
// A message that ends with a reason from the system ends with a full stop, as the others do.
QString asSentence(const QString& text);

}  // namespace kv
