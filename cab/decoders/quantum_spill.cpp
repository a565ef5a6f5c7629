// Spill mode of the Quantum decoder: the window is kept in a file, in pages of 4096 bytes,
// with a least-recently-used cache of page buffers whose dirty pages are written back only
// when their buffer is taken for another page.
#include <cstring>

#include "cab/decoders/quantum_state.h"

namespace {

constexpr int kSpillOpenFlags = 0x8102;  // _O_BINARY | _O_CREAT | _O_RDWR
constexpr int kSpillPermission = 0x180;  // _S_IREAD | _S_IWRITE
constexpr int kSeekSet = 0;
// The page being written and the at most two pages a match source can touch.
constexpr int32_t kMinPageBuffers = 3;

void Unlink(QuantumState& s, QuantumPageBuffer* b)
{
    (b->newer ? b->newer->older : s.newest) = b->older;
    (b->older ? b->older->newer : s.oldest) = b->newer;
}

void PushNewest(QuantumState& s, QuantumPageBuffer* b)
{
    b->newer = nullptr;
    b->older = s.newest;
    (s.newest ? s.newest->newer : s.oldest) = b;
    s.newest = b;
}

bool TransferPage(QuantumState& s, int32_t page, QuantumPageBuffer* b, bool write)
{
    const QuantumHandle* h = s.current;
    const int32_t offset = page * static_cast<int32_t>(kQuantumPageSize);
    if (h->seek(s.spillFile, offset, kSeekSet) != offset)
        return false;
    const uint32_t done = write ? h->write(s.spillFile, b->data, kQuantumPageSize)
                                : h->read(s.spillFile, b->data, kQuantumPageSize);
    return done == kQuantumPageSize;
}

// Returns the buffer holding page p, loading it (and writing back what its buffer held)
// if needed; null on failure, which also marks the spill as failed.
QuantumPageBuffer* FetchPage(QuantumState& s, int32_t p, bool forWriting)
{
    QuantumPageSlot& slot = s.pageTable[p];
    QuantumPageBuffer* b = slot.buffer;
    if (b != nullptr) {
        Unlink(s, b);
        PushNewest(s, b);
        if (forWriting)
            b->dirty = 1;
        return b;
    }
    b = s.oldest;
    if (b == s.currentPage) {
        s.spillFailure = 1;
        return nullptr;
    }
    if (b->page >= 0) {
        const int32_t q = b->page;
        s.pageTable[q].buffer = nullptr;
        b->page = -1;
        if (b->dirty) {
            b->dirty = 0;
            if (!TransferPage(s, q, b, true)) {
                s.spillFailure = 1;
                return nullptr;
            }
            s.pageTable[q].onDisk = 1;
        }
    }
    // A page read before it was ever written would be stale data.
    if (slot.onDisk ? !TransferPage(s, p, b, false) : !forWriting) {
        s.spillFailure = 1;
        return nullptr;
    }
    Unlink(s, b);
    PushNewest(s, b);
    slot.buffer = b;
    b->dirty = forWriting;
    b->page = p;
    return b;
}

// The finished page's buffer may be taken for the next one: with three buffers, a match
// whose source touched two other pages leaves it the oldest.
bool NextWritePage(QuantumState& s)
{
    int32_t next = s.currentPage->page + 1;
    if (next == s.pageCount)
        next = 0;
    s.currentPage = nullptr;
    QuantumPageBuffer* b = FetchPage(s, next, true);
    if (b == nullptr)
        return false;
    s.currentPage = b;
    s.pageWrite = 0;
    return true;
}

void FreeBuffers(QuantumState& s)
{
    const QuantumHandle* h = s.current;
    while (QuantumPageBuffer* b = s.newest) {
        s.newest = b->older;
        h->free(b);
    }
    s.oldest = nullptr;
    h->free(s.pageTable);
    s.pageTable = nullptr;
}

} // namespace

bool QuantumSpillSetUp(QuantumState& s)
{
    const QuantumHandle* h = s.current;
    if (h->open == nullptr)
        return false;
    // The window size follows the name, for an open callback that wants to know it.
    char name[6] = {'*', 0};
    for (int i = 0; i < 4; ++i)
        name[2 + i] = static_cast<char>(s.windowSize >> (8 * i));
    s.spillFile = h->open(name, kSpillOpenFlags, kSpillPermission);
    if (s.spillFile == -1)
        return false;

    s.pageCount = static_cast<int32_t>(s.windowSize / kQuantumPageSize);
    if (s.pageCount < kMinPageBuffers)
        s.pageCount = kMinPageBuffers;
    s.pageTable = static_cast<QuantumPageSlot*>(h->alloc(s.pageCount * sizeof(QuantumPageSlot)));
    if (s.pageTable == nullptr) {
        h->close(s.spillFile);
        return false;
    }
    s.newest = s.oldest = nullptr;
    int32_t buffers = 0;
    while (buffers < s.pageCount) {
        auto* b = static_cast<QuantumPageBuffer*>(h->alloc(sizeof(QuantumPageBuffer)));
        if (b == nullptr)
            break;
        PushNewest(s, b);
        ++buffers;
    }
    if (buffers < kMinPageBuffers) {
        FreeBuffers(s);
        h->close(s.spillFile);
        return false;
    }
    QuantumSpillResetCache(s);
    return true;
}

void QuantumSpillResetCache(QuantumState& s)
{
    for (QuantumPageBuffer* b = s.newest; b != nullptr; b = b->older) {
        b->page = -1;
        b->dirty = 0;
    }
    for (int32_t p = 0; p < s.pageCount; ++p)
        s.pageTable[p] = {nullptr, 0};
    s.currentPage = nullptr;
    s.currentPage = FetchPage(s, 0, true); // the oldest buffer holds no page: cannot fail
    s.pageWrite = 0;
}

void QuantumSpillRelease(QuantumState& s)
{
    FreeBuffers(s);
    s.current->close(s.spillFile);
}

bool QuantumSpillStoreLiteral(QuantumState& s, uint8_t byte)
{
    s.currentPage->data[s.pageWrite++] = byte;
    return s.pageWrite < kQuantumPageSize || NextWritePage(s);
}

bool QuantumSpillCopyMatch(QuantumState& s, uint8_t* out, uint32_t source, uint32_t length)
{
    FetchPage(s, s.currentPage->page, false); // only makes it the newest buffer
    while (length > 0) {
        const uint32_t inSourcePage = source % kQuantumPageSize;
        uint32_t chunk = kQuantumPageSize - s.pageWrite;
        if (chunk > length)
            chunk = length;
        if (chunk > kQuantumPageSize - inSourcePage)
            chunk = kQuantumPageSize - inSourcePage;
        const QuantumPageBuffer* from = FetchPage(s, static_cast<int32_t>(source / kQuantumPageSize), false);
        if (from == nullptr)
            return false;
        // Byte by byte: an overlapping source repeats the bytes just written.
        uint8_t* to = s.currentPage->data + s.pageWrite;
        for (uint32_t k = 0; k < chunk; ++k)
            *out++ = to[k] = from->data[inSourcePage + k];
        source = (source + chunk) & s.windowMask;
        s.pageWrite += chunk;
        length -= chunk;
        if (s.pageWrite == kQuantumPageSize && !NextWritePage(s))
            return false;
    }
    return true;
}
