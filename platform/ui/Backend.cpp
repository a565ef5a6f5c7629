#include "platform/ui/Backend.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef KORVANE_UI_GTK
#include "platform/ui/gtk/GtkBackend.h"
#endif

namespace win::ui {

namespace {

struct BackendChoice {
    const char* name;
    std::unique_ptr<Backend> (*make)();  // null when it cannot run here
};

constexpr BackendChoice kBackends[] = {
#ifdef KORVANE_UI_GTK
    {"gtk", MakeGtkBackend},
#endif
    {"quiet", [] { return MakeQuietBackend(STDERR_FILENO); }},
    {"terminal", [] { return MakeTerminalBackend(STDIN_FILENO, STDOUT_FILENO); }},
};

// A display comes first, then a terminal; `tryWindows` is false once the window backend
// has failed to start.
std::unique_ptr<Backend> ChooseBackend(bool tryWindows = true)
{
    if (const char* wanted = tryWindows ? std::getenv("KORVANE_UI") : nullptr; wanted && *wanted) {
        for (const BackendChoice& choice : kBackends)
            if (std::strcmp(choice.name, wanted) == 0) {
                if (std::unique_ptr<Backend> backend = choice.make())
                    return backend;
                std::fprintf(stderr, "KORVANE_UI=%s: cannot start here; choosing one\n", wanted);
                return ChooseBackend(false);
            }
        std::fprintf(stderr, "KORVANE_UI=%s: no such user interface; choosing one\n", wanted);
    }
#ifdef KORVANE_UI_GTK
    if (tryWindows)
        if (std::unique_ptr<Backend> backend = MakeGtkBackend())
            return backend;
#endif
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO))
        return MakeTerminalBackend(STDIN_FILENO, STDOUT_FILENO);
    return MakeQuietBackend(STDERR_FILENO);
}

std::unique_ptr<Backend>& Current()
{
    static std::unique_ptr<Backend> backend;
    return backend;
}

}  // namespace

const ControlView* DialogView::Control(int id) const
{
    for (const ControlView& control : controls)
        if (control.id == id)
            return &control;
    return nullptr;
}

void WriteText(int fd, const std::string& text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n <= 0)
            return;
        p += n;
        left -= size_t(n);
    }
}

Backend& CurrentBackend()
{
    std::unique_ptr<Backend>& backend = Current();
    if (!backend)
        backend = ChooseBackend();
    return *backend;
}

std::unique_ptr<Backend> SetBackend(std::unique_ptr<Backend> backend)
{
    std::swap(Current(), backend);
    return backend;
}

}  // namespace win::ui
