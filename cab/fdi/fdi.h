// The cabinet reader: reads cabinet files and cabinet sets through the client's memory and
// file callbacks and hands every file it finds to the client's notification callback.
// It makes no OS call of its own.
#pragma once
#include <cstdint>

#include "cab/decoders/mdi.h"

// Error codes kept in ERF::erfOper.
enum : int {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1,
    FDIERROR_NOT_A_CABINET = 2,
    FDIERROR_UNKNOWN_CABINET_VERSION = 3,
    FDIERROR_CORRUPT_CABINET = 4,
    FDIERROR_ALLOC_FAIL = 5,
    FDIERROR_BAD_COMPR_TYPE = 6,
    FDIERROR_MDI_FAIL = 7,
    FDIERROR_TARGET_FILE = 8,
    FDIERROR_RESERVE_MISMATCH = 9,
    FDIERROR_WRONG_CABINET = 10,
    FDIERROR_USER_ABORT = 11,
};

// The client's error record: written whenever an operation fails, never cleared.
struct ERF {
    int erfOper;  // an FDIERROR_ code
    int erfType;  // the cabinet's version word for FDIERROR_UNKNOWN_CABINET_VERSION, else 0
    int fError;   // 1 once an error was recorded
};

// Text of an error code; "Unknown error" for a code outside the table.
const char* FDIErrorText(int erfOper);

// CFHEADER flags.
enum : uint16_t {
    cfhdrPREV_CABINET = 0x0001,
    cfhdrNEXT_CABINET = 0x0002,
    cfhdrRESERVE_PRESENT = 0x0004,
};

// CFFILE iFolder values for files that span cabinets.
enum : uint16_t {
    ifoldCONTINUED_FROM_PREV = 0xFFFD,
    ifoldCONTINUED_TO_NEXT = 0xFFFE,
    ifoldCONTINUED_PREV_AND_NEXT = 0xFFFF,
};

// CFFOLDER typeCompress: method in bits 0-3, its parameter in bits 8-12.
enum : uint16_t {
    tcompMASK_TYPE = 0x000F,
    tcompTYPE_NONE = 0x0000,
    tcompTYPE_MSZIP = 0x0001,
    tcompTYPE_QUANTUM = 0x0002,
    tcompTYPE_LZX = 0x0003,
    tcompBAD = 0x000F,
};

// CFFILE attribute the reader interprets: run the file after extraction.
enum : uint16_t { _A_EXEC = 0x0040 };

struct FDIContext;
typedef FDIContext* HFDI;

struct FDICABINETINFO {
    int32_t cbCabinet;
    uint16_t cFolders;
    uint16_t cFiles;
    uint16_t setID;
    uint16_t iCabinet;
    int fReserve;  // 1 if the header has reserve sizes
    int hasprev;   // 1 if the cabinet names a previous one
    int hasnext;   // cfhdrNEXT_CABINET (2) if it names a next one, else 0
};

enum FDINOTIFICATIONTYPE : int {
    fdintCABINET_INFO = 0,
    fdintPARTIAL_FILE = 1,
    fdintCOPY_FILE = 2,
    fdintCLOSE_FILE_INFO = 3,
    fdintNEXT_CABINET = 4,
    fdintENUMERATE = 5,
};

// One record per context, reused: each notification fills only its own fields. The strings
// point into the context's 257-byte buffers and stay valid until the next notification.
struct FDINOTIFICATION {
    int32_t cb;
    char* psz1;
    char* psz2;
    char* psz3;
    void* pv;
    intptr_t hf;
    uint16_t date;
    uint16_t time;
    uint16_t attribs;
    uint16_t setID;
    uint16_t iCabinet;
    uint16_t iFolder;
    int fdie;
};

typedef intptr_t (*PFNFDINOTIFY)(int fdint, FDINOTIFICATION* pfdin);

enum FDIDECRYPTTYPE : int {
    fdidtNEW_CABINET = 0,
    fdidtNEW_FOLDER = 1,
    fdidtDECRYPT = 2,
};

// Record passed to the optional decrypt callback; the member of the union follows fdidt.
struct FDIDECRYPT {
    int fdidt;
    void* pvUser;
    union {
        struct {
            void* pHeaderReserve;  // null when no header reserve was read
            uint16_t cbHeaderReserve;
            uint16_t setID;
            int iCabinet;
        } cabinet;
        struct {
            void* pFolderReserve;  // null when folders carry no reserve
            uint16_t cbFolderReserve;
            uint16_t iFolder;
        } folder;
        struct {
            void* pDataReserve;  // null when blocks carry no reserve
            uint16_t cbDataReserve;
            void* pbData;        // the compressed bytes just read; may be changed in place
            uint16_t cbData;     // both pieces together for the second piece of a split block
            int fSplit;          // 1 for either piece of a block split across cabinets
            uint16_t cbPartial;  // size of the first piece when this is the second, else 0
        } decrypt;
    };
};

typedef int (*PFNFDIDECRYPT)(FDIDECRYPT* pfdid);

// Allocates a context; on failure sets *perf to FDIERROR_ALLOC_FAIL and returns null.
HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf);

// Reads 36 bytes from hf at its current position and reports the cabinet header in *pfdici.
// A short read or a wrong signature gives false without touching the ERF.
bool FDIIsCabinet(HFDI hfdi, intptr_t hf, FDICABINETINFO* pfdici);

// Walks the cabinet pszCabPath + pszCabinet (plain concatenation), and the cabinets that
// continue a file it extracts, notifying pfnfdin. pfnfdid may be null; flags is not read.
bool FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
             PFNFDIDECRYPT pfnfdid, void* pvUser);

// Releases the context, its decoder and buffers, and closes any cabinet handle left open.
bool FDIDestroy(HFDI hfdi);
