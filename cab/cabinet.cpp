#include "cab/cabinet.h"

#include <cstring>
#include <vector>

#include "cab/fdi_callbacks.h"
#include "cab/target_path.h"
#include "platform/win.h"

CCabinet* g_pCabinet = nullptr;
char g_szExtractDir[260];

namespace {

// The four attribute bits a file receives: read-only, hidden, system, archive.
constexpr uint16_t kKeptAttributes = 0x27;

// A cabinet index only grows from one pass to the next, so a set has at most this many.
constexpr int kMaxPasses = 0x10000;

} // namespace

CCabinet::CCabinet()
{
    g_szExtractDir[0] = 0;
}

CCabinet::~CCabinet() = default;

int CCabinet::Extract(const char* pszCabinet, const char* pszDestDir)
{
    g_pCabinet = this;
    m_erf = ERF{};
    m_strFailure.clear();
    if (std::strlen(pszDestDir) >= sizeof g_szExtractDir) {
        m_strFailure = "destination folder is too long";
        m_erf = ERF{FDIERROR_TARGET_FILE, 0, 1};
        return 0;
    }
    HFDI hfdi = FDICreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, 1,
                          &m_erf);
    if (!hfdi)
        return 0;
    std::vector<char> path(pszCabinet, pszCabinet + std::strlen(pszCabinet) + 1);
    const intptr_t hf = FdiOpen(path.data(), win::_O_BINARY | win::_O_SEQUENTIAL, 0);
    if (hf == -1) {
        m_erf = ERF{FDIERROR_CABINET_NOT_FOUND, 0, 1};
        FDIDestroy(hfdi);
        return 0;
    }
    FDICABINETINFO info;
    const bool isCabinet = FDIIsCabinet(hfdi, hf, &info);
    FdiClose(hf);
    if (!isCabinet) {
        if (!m_erf.fError)
            m_erf = ERF{FDIERROR_NOT_A_CABINET, 0, 1};
        FDIDestroy(hfdi);
        return 0;
    }
    std::string folder, name;
    SplitCabinetPath(pszCabinet, &folder, &name);
    std::strcpy(g_szExtractDir, pszDestDir);
    const bool ok = RunPasses(hfdi, folder, name);
    FDIDestroy(hfdi);
    return ok ? 1 : 0;
}

// One FDICopy reaches only the cabinets its files run into; the files that begin in the last
// cabinet it opened, and the cabinets after that, need passes of their own. Continued files
// then arrive as fdintPARTIAL_FILE and are not written twice.
bool CCabinet::RunPasses(HFDI hfdi, const std::string& folder, std::string name)
{
    m_bCheckNext = false;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        m_strRequested.clear();
        m_strOpened = name;
        m_strNextNamed.clear();
        m_nReason = FDIERROR_NONE;
        std::vector<char> cab(name.begin(), name.end());
        cab.push_back(0);
        std::vector<char> dir(folder.begin(), folder.end());
        dir.push_back(0);
        if (!FDICopy(hfdi, cab.data(), dir.data(), 0, FdiNotify, nullptr, nullptr)) {
            if (m_nReason != FDIERROR_NONE)
                m_erf = ERF{m_nReason, 0, 1};
            return false;
        }
        if (m_strOpened != name) {
            name = m_strOpened;  // expected to be the very cabinet the pass ended in
        } else if (!m_strNextNamed.empty()) {
            name = m_strNextNamed;
            ++m_iCabinet;
        } else {
            return true;
        }
        m_bCheckNext = true;
    }
    m_erf = ERF{FDIERROR_WRONG_CABINET, 0, 1};
    return false;
}

intptr_t CCabinet::OnCabinetInfo(FDINOTIFICATION* p)
{
    if (m_bCheckNext && (p->setID != m_setID || p->iCabinet != m_iCabinet)) {
        m_nReason = FDIERROR_WRONG_CABINET;
        return -1;
    }
    m_bCheckNext = false;
    m_setID = p->setID;
    m_iCabinet = p->iCabinet;
    m_strNextNamed = p->psz1;
    if (!m_strRequested.empty()) {
        m_strOpened = m_strRequested;
        m_strRequested.clear();
    }
    intptr_t result = 0;
    m_CabinetInfo.Dispatch(p->psz1, p->psz2, p->psz3, p->setID, p->iCabinet, &result);
    return result;
}

intptr_t CCabinet::OnCopyFile(FDINOTIFICATION* p)
{
    const std::string target = TargetPath(g_szExtractDir, p->psz1);
    intptr_t handle = 0;
    int doDefault = 1;
    m_CopyFile.Dispatch(target.c_str(), p->cb, &handle, &doDefault);
    if (doDefault) {
        if (!IsSafeName(p->psz1)) {
            m_strFailure = std::string("unsafe file name in cabinet: ") + p->psz1;
            return -1;
        }
        CreatePathFolders(target.c_str());
        // Truncated, so that no tail of a longer file that stood there survives.
        std::vector<char> path(target.begin(), target.end());
        path.push_back(0);
        handle = FdiOpen(path.data(),
                         win::_O_BINARY | win::_O_CREAT | win::_O_TRUNC | win::_O_SEQUENTIAL |
                             win::_O_WRONLY,
                         win::_S_IREAD | win::_S_IWRITE);
        if (handle == -1)
            m_strFailure = "cannot open target file: " + target;
    }
    return handle;
}

intptr_t CCabinet::OnCloseFileInfo(FDINOTIFICATION* p)
{
    const std::string target = TargetPath(g_szExtractDir, p->psz1);
    int doDefault = 1;
    intptr_t result = 1;
    m_CloseFileInfo.Dispatch(target.c_str(), &p->hf, p->date, p->time, p->attribs, p->iFolder,
                             p, &doDefault, &result);
    if (doDefault) {
        FdiClose(p->hf);
        win::HANDLE h = win::CreateFileA(target.c_str(), win::GENERIC_READ | win::GENERIC_WRITE,
                                         win::FILE_SHARE_READ, nullptr, win::OPEN_EXISTING,
                                         win::FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != win::INVALID_HANDLE_VALUE) {
            win::FILETIME local, utc;
            if (win::DosDateTimeToFileTime(p->date, p->time, &local) &&
                win::LocalFileTimeToFileTime(&local, &utc))
                win::SetFileTime(h, &utc, nullptr, &utc);
            win::CloseHandle(h);
        }
        win::SetFileAttributesA(target.c_str(), p->attribs & kKeptAttributes);
    }
    return result;
}

// A next cabinet that cannot be opened would be asked for again and again: the second
// request (which carries the reason) is refused, and the reason kept for Extract's caller.
// A cabinet that needs a next one but names none is damaged.
intptr_t CCabinet::OnNextCabinet(FDINOTIFICATION* p)
{
    m_nReason = p->psz1[0] ? p->fdie : FDIERROR_CORRUPT_CABINET;
    intptr_t result = m_nReason == FDIERROR_NONE ? 0 : -1;
    m_NextCabinet.Dispatch(p->psz1, p->psz2, p->psz3, &result);
    if (result != -1) {
        m_nReason = FDIERROR_NONE;
        m_strRequested = p->psz1;
    }
    return result;
}

intptr_t FdiNotify(int fdint, FDINOTIFICATION* pfdin)
{
    CCabinet* cab = g_pCabinet;
    intptr_t result = 0;
    switch (fdint) {
    case fdintCABINET_INFO:
        return cab->OnCabinetInfo(pfdin);
    case fdintPARTIAL_FILE:
        cab->m_PartialFile.Dispatch(pfdin->psz1, pfdin->psz2, pfdin->psz3, &result);
        return result;
    case fdintCOPY_FILE:
        return cab->OnCopyFile(pfdin);
    case fdintCLOSE_FILE_INFO:
        return cab->OnCloseFileInfo(pfdin);
    case fdintNEXT_CABINET:
        return cab->OnNextCabinet(pfdin);
    case fdintENUMERATE:
        cab->m_Enumerate.Dispatch(pfdin, &pfdin->iFolder, &result);
        return result;
    default:
        return 0;
    }
}
