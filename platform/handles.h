// Kernel-style handles: objects behind HANDLE values, closed by CloseHandle.
#pragma once
#include <memory>

#include "platform/wintypes.h"

namespace win::detail {

struct HandleObject {
    virtual ~HandleObject() = default;
};

HANDLE RegisterHandle(std::unique_ptr<HandleObject> object);
// The live object behind the handle, or null.
HandleObject* LookupHandle(HANDLE handle);
// Destroys the object; false if the handle is not live.
bool ReleaseHandle(HANDLE handle);

template <class T>
T* LookupHandleAs(HANDLE handle) {
    return dynamic_cast<T*>(LookupHandle(handle));
}

}  // namespace win::detail
