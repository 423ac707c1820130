// Placeholders until the device link lands.
#include "app/main_window.h"

namespace kv {
void Form1::Command1_Click() {}
void Form1::Timer1_Timer() {}
void Form1::Timer3_Timer() { RefreshPortMenu(); }
void Form1::Timer4_Timer() {}
void Form1::MSComm1_OnComm() {}
void Form1::showMonitoringValue(int, float) {}
void Form1::Text9_Change() {}
void Form1::Command11_Click() {}
}  // namespace kv
