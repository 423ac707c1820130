// Placeholders until the settings transfers and calibration files land.
#include "app/main_window.h"

namespace kv {
void Form1::Command2_Click() {}
void Form1::Command5_Click() {}
void Form1::Timer2_Timer() {}
void Form1::settleWait() {}
void Form1::Command9_Click() {}
void Form1::Command10_Click() {}
}  // namespace kv
