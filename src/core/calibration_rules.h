// Load from and save to the device. The handlers (Command2_Click, Command5_Click, Timer2_Timer and
// the settle wait) are members of Form1; this header holds what they compute without the window.
#pragma once

#include "core/calibration_file.h"
#include "protocol/device_protocol.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace kv {

// True when any of the 43 texts is empty: such settings are neither sent nor saved to a file.
bool hasEmptyField(const CalibrationTexts& texts);

struct UnsendableField {
    QString message;  // names the field and says what it must hold
};

// The bytes the editor texts are sent as, or the first field (in the order the editor is checked:
// table, column axis, row axis, delay) that has no byte: not a number, or outside 0..255 once made an
// integer (the delay doubled first). Empty texts are the caller's business.
std::optional<UnsendableField> firstUnsendableField(const CalibrationTexts& texts);
// The settings write in wire order (delay, switch, Col, Row, Matrix); only when nothing is unsendable.
SettingsBytes settingsWriteBytes(const CalibrationTexts& texts);

}  // namespace kv
