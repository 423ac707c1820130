// A real Form1 on the offscreen platform, driven by the virtual platform.
#pragma once

#include "gui/main_window.h"
#include "support/virtual_platform.h"

#include <memory>

namespace kv::test {

struct WindowHarness {
    VirtualPlatform platform;
    std::unique_ptr<Form1> window;

    Form1& start() {
        window = std::make_unique<Form1>(platform);
        return *window;
    }
    FakeSerial& serial() { return *platform.serial; }
    VirtualClock& clock() { return platform.clock; }
    QByteArray& iniFile() { return platform.files[QStringLiteral("comsetting.ini")]; }
};

inline QByteArray bytesOf(std::initializer_list<int> values) {
    QByteArray result;
    for (int v : values) {
        result.append(char(v));
    }
    return result;
}

}  // namespace kv::test
