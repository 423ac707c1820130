// The live link: the captions of Command1 are its state, "Connect to KestroVar" when down and
// "Disconnect" when up. Form1's Command1_Click toggles it; Timer1 polls, Timer4 watches, Timer3
// refreshes the port menu while the link is down.
#pragma once

#include <QString>

namespace kv {

inline QString connectCaption() {
    return QStringLiteral("Connect to KestroVar");
}
inline QString disconnectCaption() {
    return QStringLiteral("Disconnect");
}

inline constexpr int kPortMenuRefreshMs = 5000;

}  // namespace kv
