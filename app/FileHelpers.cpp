#include "app/FileHelpers.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/win.h"

using namespace win;

bool PathExists(const std::string& path) {
    return _access(path.c_str(), 0) == 0;
}

DWORD ClearReadOnly(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return attributes;
}

int FileExists(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    FindClose(find);
    return 1;
}

BOOL CopyFileKeepAttributes(const std::string& source, const std::string& destination) {
    if (!FileExists(source)) return FALSE;

    const DWORD sourceAttributes = ClearReadOnly(source);
    const bool destinationExisted = FileExists(destination) != 0;
    const DWORD destinationAttributes =
        destinationExisted ? ClearReadOnly(destination) : INVALID_FILE_ATTRIBUTES;

    const BOOL copied = CopyFileA(source.c_str(), destination.c_str(), FALSE);

    if (sourceAttributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(source.c_str(), sourceAttributes);
    if (destinationAttributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(destination.c_str(), destinationAttributes);
    return copied;
}

BOOL ShellDeletePath(const std::string& path) {
    // The shell takes a list of paths ended by an empty one: two zero bytes.
    std::unique_ptr<char[]> list(new (std::nothrow) char[path.size() + 2]);
    if (!list) return FALSE;

    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);

    std::memset(list.get(), 0, path.size() + 2);
    std::memcpy(list.get(), path.data(), path.size());

    SHFILEOPSTRUCTA operation{};
    operation.hwnd = GetDesktopWindow();
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.get();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationA(&operation);
    return TRUE;
}
