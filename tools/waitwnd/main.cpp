// waitwnd [-t SECONDS] N: opens the window "WaitForUpdateResultWnd<N>", prints the one
// message it receives as "message=M wParam=W lParam=L" (W signed), answers it and exits
// with 0 when W is 0, 1 otherwise, 2 when no message came within the time limit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/window.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: waitwnd [-t SECONDS] N\n");
    return 64;
}

bool ParseInt(const char* text, long* value) {
    char* end = nullptr;
    *value = std::strtol(text, &end, 10);
    return *text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = -1;
    const char* number = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-t") == 0 && i + 1 < argc) {
            if (!ParseInt(argv[++i], &seconds) || seconds < 0) return Usage();
        } else if (!number) {
            number = argv[i];
        } else {
            return Usage();
        }
    }
    long n = 0;
    if (!number || !ParseInt(number, &n)) return Usage();

    std::string title = "WaitForUpdateResultWnd" + std::to_string(n);
    win::MessageWindow window;
    if (!window.Create(title.c_str())) {
        std::fprintf(stderr, "waitwnd: cannot open the window %s\n", title.c_str());
        return 3;
    }
    int32_t wParam = 0;
    bool received = window.Receive(
        [&](win::UINT message, win::WPARAM w, win::LPARAM l) -> win::LRESULT {
            wParam = static_cast<int32_t>(w);
            std::printf("message=%u wParam=%d lParam=%ld\n", message, wParam, static_cast<long>(l));
            std::fflush(stdout);
            return 0;
        },
        seconds < 0 ? -1 : static_cast<int>(seconds * 1000));
    if (!received) return 2;
    return wParam == 0 ? 0 : 1;
}
