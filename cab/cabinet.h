// CCabinet unpacks every file of a cabinet, and of the cabinets that continue it, into a
// destination folder, through the cabinet reader. Each notification of the reader is first
// offered to that type's handler list, then takes its default action.
#pragma once
#include <cstdint>
#include <string>

#include "cab/event_list.h"
#include "cab/fdi/fdi.h"

// Handler lists, by notification type; the arguments as each type passes them.
using CCabinetInfoEvents = CEventList<const char* /*psz1*/, const char* /*psz2*/,
                                      const char* /*psz3*/, uint16_t /*setID*/,
                                      uint16_t /*iCabinet*/, intptr_t* /*result*/>;
using CPartialFileEvents = CEventList<const char*, const char*, const char*, intptr_t* /*result*/>;
using CCopyFileEvents = CEventList<const char* /*target*/, int32_t /*cb*/, intptr_t* /*handle*/,
                                   int* /*doDefault*/>;
using CCloseFileInfoEvents =
    CEventList<const char* /*target*/, intptr_t* /*hf*/, uint16_t /*date*/, uint16_t /*time*/,
               uint16_t /*attribs*/, uint16_t /*iFolder*/, FDINOTIFICATION*, int* /*doDefault*/,
               intptr_t* /*result*/>;
using CNextCabinetEvents = CEventList<const char*, const char*, const char*, intptr_t* /*result*/>;
using CEnumerateEvents = CEventList<FDINOTIFICATION*, uint16_t* /*iFolder*/, intptr_t* /*result*/>;

class CCabinet {
public:
    CCabinet();
    virtual ~CCabinet();
    CCabinet(const CCabinet&) = delete;
    CCabinet& operator=(const CCabinet&) = delete;

    // Unpacks the cabinet at pszCabinet (the first of its set) below pszDestDir (at most 259
    // characters; created as files need it). 1 when the whole set was extracted, else 0 with
    // the reason in Error() and, for the wrapper's own refusals, FailureText().
    int Extract(const char* pszCabinet, const char* pszDestDir);

    const ERF& Error() const { return m_erf; }
    // A description of a failure the wrapper itself detected (an unsafe name, a target that
    // cannot be opened, a destination too long); empty otherwise.
    const std::string& FailureText() const { return m_strFailure; }

    CCabinetInfoEvents m_CabinetInfo;
    CPartialFileEvents m_PartialFile;
    CCopyFileEvents m_CopyFile;
    CCloseFileInfoEvents m_CloseFileInfo;
    CNextCabinetEvents m_NextCabinet;
    CEnumerateEvents m_Enumerate;

private:
    friend intptr_t FdiNotify(int fdint, FDINOTIFICATION* pfdin);
    intptr_t OnCabinetInfo(FDINOTIFICATION* pfdin);
    intptr_t OnCopyFile(FDINOTIFICATION* pfdin);
    intptr_t OnCloseFileInfo(FDINOTIFICATION* pfdin);
    intptr_t OnNextCabinet(FDINOTIFICATION* pfdin);
    bool RunPasses(HFDI hfdi, const std::string& folder, std::string name);

    ERF m_erf{};
    std::string m_strFailure;
    // State of the passes over a set: what the reader opened and named, and why it stopped.
    std::string m_strRequested;   // the cabinet asked for at the last fdintNEXT_CABINET
    std::string m_strOpened;      // the cabinet the reader opened last
    std::string m_strNextNamed;   // the next cabinet that one names
    uint16_t m_setID = 0;
    int m_iCabinet = 0;           // no wrap: a set cannot come round to its start
    bool m_bCheckNext = false;    // the pass's cabinet must be m_setID, m_iCabinet
    int m_nReason = FDIERROR_NONE;
};

// The notification callback given to FDICopy; reaches the object through g_pCabinet.
intptr_t FdiNotify(int fdint, FDINOTIFICATION* pfdin);

extern CCabinet* g_pCabinet;
extern char g_szExtractDir[260];
