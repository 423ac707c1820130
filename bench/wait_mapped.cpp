// kv_wait_mapped TITLE [TIMEOUT_MS]: waits on the X display for a top-level window whose title
// contains TITLE to be mapped, and prints the monotonic clock (ns) of that moment. Prints "ready"
// first, once it listens, so that the program under test is started only after. Run it on a
// display without a window manager (Xvfb), where top-level windows are children of the root.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

long long monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string windowTitle(Display* display, Window window) {
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long rest = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &rest,
                           &data) == Success &&
        data) {
        title.assign(reinterpret_cast<const char*>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kv_wait_mapped TITLE [TIMEOUT_MS]\n");
        return 2;
    }
    const std::string wanted = argv[1];
    const long long timeoutNs = (argc > 2 ? std::atoll(argv[2]) : 20000) * 1000000LL;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "kv_wait_mapped: cannot open the display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    const long long deadline = monotonicNs() + timeoutNs;
    const int fd = ConnectionNumber(display);
    while (monotonicNs() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify) {
                continue;
            }
            const long long at = monotonicNs();
            const std::string title = windowTitle(display, event.xmap.window);
            if (title.find(wanted) != std::string::npos) {
                std::printf("%lld %s\n", at, title.c_str());
                XCloseDisplay(display);
                return 0;
            }
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 50);
    }
    std::fprintf(stderr, "kv_wait_mapped: no window \"%s\" was mapped\n", wanted.c_str());
    XCloseDisplay(display);
    return 1;
}
