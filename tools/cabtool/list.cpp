// list: the file entries of a cabinet and of the cabinets after it, each file once (in the
// cabinet where it begins), without decoding anything.
#include <cstdio>
#include <string>
#include <vector>

#include "cab/fdi/fdi.h"
#include "cab/fdi_callbacks.h"
#include "cab/target_path.h"
#include "platform/win.h"
#include "tools/cabtool/commands.h"

namespace {

struct ListState {
    std::string next;  // the next cabinet the last one opened names
    bool checkSet = false;
    uint16_t setID = 0;
    int iCabinet = 0;  // without wrap, so that a set cannot come round to its start
};

intptr_t ListNotify(int fdint, FDINOTIFICATION* n)
{
    auto* state = static_cast<ListState*>(n->pv);
    if (fdint == fdintCABINET_INFO) {
        if (state->checkSet && (n->setID != state->setID || n->iCabinet != state->iCabinet + 1))
            return -1;
        state->checkSet = true;
        state->setID = n->setID;
        state->iCabinet = n->iCabinet;
        state->next = n->psz1;
    } else if (fdint == fdintCOPY_FILE) {
        const unsigned d = n->date, t = n->time, a = n->attribs;
        std::printf("%10d %04u-%02u-%02u %02u:%02u:%02u %c%c%c%c%c %s\n", n->cb, (d >> 9) + 1980,
                    (d >> 5) & 15, d & 31, t >> 11, (t >> 5) & 63, (t & 31) * 2,
                    a & 0x01 ? 'R' : '-', a & 0x02 ? 'H' : '-', a & 0x04 ? 'S' : '-',
                    a & 0x20 ? 'A' : '-', a & 0x40 ? 'X' : '-', win::Cp936ToUtf8(n->psz1).c_str());
    }
    return 0;  // skips every file
}

} // namespace

int ListCommand(const std::string& cabinet)
{
    std::string path;
    if (!ToCodePage(cabinet, &path))
        return Fail("path cannot be represented in code page 936");
    ERF erf{};
    HFDI hfdi = FDICreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, 1, &erf);
    if (!hfdi)
        return Fail(FDIErrorText(erf.erfOper));
    std::string folder, name;
    SplitCabinetPath(path.c_str(), &folder, &name);
    ListState state;
    bool ok = true;
    while (ok && !name.empty()) {
        std::vector<char> cab(name.begin(), name.end()), dir(folder.begin(), folder.end());
        cab.push_back(0);
        dir.push_back(0);
        state.next.clear();
        ok = FDICopy(hfdi, cab.data(), dir.data(), 0, ListNotify, nullptr, &state);
        name = state.next;
    }
    FDIDestroy(hfdi);
    if (!ok && erf.erfOper == FDIERROR_USER_ABORT)
        return Fail(FDIErrorText(FDIERROR_WRONG_CABINET));
    if (!ok)
        return Fail(FDIErrorText(erf.erfOper));
    return 0;
}
