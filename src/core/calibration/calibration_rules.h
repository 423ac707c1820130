// Load from and save to the device. The handlers (Command2_Click, Command5_Click, Timer2_Timer and
// the settle wait) are members of Form1; this header holds what they compute without the window.
#pragma once

#include "core/calibration/calibration_file.h"
#include "protocol/device_protocol.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace kv {

// True when any of the 43 texts is empty: such settings are neither sent nor saved to a file.
bool hasEmptyField(const CalibrationTexts& texts);

// Why these texts may not be sent to the device, or nothing when they may. Checked in this order:
//   - an empty field: "Missing data in one (or more) of the settings fields";
//   - a table or axis text that is not a number;
//   - a table or axis text whose byte on the wire differs from what the editor's own commit would
//     leave in that box (out of order against a neighbour, above the limit, below 0), table first,
//     then the MCT axis, then the dew-point axis; a text the commit would only make an integer is
//     sent as that same integer and passes;
//   - a startup delay that is not a number of minutes from 0 to 127.5;
//   - a correction switch other than exactly "Yes" or "No".
// The message names the first such field and what it must be, or what the editor would make of it.
std::optional<QString> saveRefusal(const CalibrationTexts& texts);

// The settings write in wire order (delay, switch, Col, Row, Matrix); only for texts saveRefusal
// lets through.
SettingsBytes settingsWriteBytes(const CalibrationTexts& texts);

}  // namespace kv
