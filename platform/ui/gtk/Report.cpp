#include "platform/ui/gtk/Report.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace win::ui::gtk {

namespace {
const char* ReportPath()
{
    static const char* path = [] {
        const char* value = std::getenv("KORVANE_UI_REPORT");
        return value && *value ? value : nullptr;
    }();
    return path;
}
}  // namespace

bool Reporting()
{
    return ReportPath() != nullptr;
}

void Report(const std::string& line)
{
    if (!Reporting())
        return;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const std::string text =
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) + " " +
        line + "\n";
    // One write per line on an append-only descriptor: lines never interleave.
    const int fd = open(ReportPath(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const ssize_t written = write(fd, text.data(), text.size());
    (void)written;
    close(fd);
}

}  // namespace win::ui::gtk
