// Placeholders until the calibration editor lands.
#include "app/main_window.h"

namespace kv {
void Form1::Col_Change(int) {}
void Form1::Row_Change(int) {}
void Form1::Matrix_Change(int) {}
void Form1::Col_KeyPress(int, int) {}
void Form1::Row_KeyPress(int, int) {}
void Form1::Matrix_KeyPress(int, int) {}
void Form1::Col_LostFocus(int) {}
void Form1::Row_LostFocus(int) {}
void Form1::Matrix_LostFocus(int) {}
void Form1::Text7_Change() {}
void Form1::Text8_Change() {}
void Form1::Command6_Click() {}
void Form1::Command7_Click() {}
void Form1::Command8_Click() {}
void Form1::Command13_Click() {}
void Form1::Command12_Click() {}
}  // namespace kv
