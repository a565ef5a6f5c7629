// The registry of live handles, so that a stale or foreign value is refused, not followed.
#include "platform/handles.h"

#include <mutex>
#include <set>

namespace win::detail {
namespace {

std::mutex g_mutex;
std::set<HandleObject*>& Live() {
    static std::set<HandleObject*> live;
    return live;
}

}  // namespace

HANDLE RegisterHandle(std::unique_ptr<HandleObject> object) {
    std::lock_guard lock(g_mutex);
    HandleObject* raw = object.release();
    Live().insert(raw);
    return raw;
}

HandleObject* LookupHandle(HANDLE handle) {
    std::lock_guard lock(g_mutex);
    auto found = Live().find(static_cast<HandleObject*>(handle));
    return found == Live().end() ? nullptr : *found;
}

bool ReleaseHandle(HANDLE handle) {
    HandleObject* object = nullptr;
    {
        std::lock_guard lock(g_mutex);
        auto found = Live().find(static_cast<HandleObject*>(handle));
        if (found == Live().end()) return false;
        object = *found;
        Live().erase(found);
    }
    delete object;
    return true;
}

}  // namespace win::detail
