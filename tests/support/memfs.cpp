#include "support/memfs.h"

#include <cstdlib>
#include <cstring>
#include <set>

namespace memfs {
namespace {

constexpr int kCreate = 0x100;
constexpr int kTruncate = 0x200;
constexpr int kOps = 6;

struct Handle {
    std::string path;
    uint32_t pos = 0;
};

struct State {
    std::map<std::string, std::vector<uint8_t>> files;
    std::map<intptr_t, Handle> handles;
    std::set<void*> blocks;
    intptr_t nextHandle = 3;
    int calls[kOps] = {};
    int failAt[kOps] = {};  // call number that fails, 0: none
    uint64_t bytesAllocated = 0;
};

State& S() {
    static State state;
    return state;
}

// Counts a call of op and says whether it is the one to fail.
bool Fails(Op op) {
    const int i = static_cast<int>(op);
    ++S().calls[i];
    return S().failAt[i] != 0 && S().calls[i] == S().failAt[i];
}

Handle* Find(intptr_t hf) {
    auto it = S().handles.find(hf);
    return it == S().handles.end() ? nullptr : &it->second;
}

} // namespace

void Reset() {
    for (void* p : S().blocks) std::free(p);
    S() = State{};
}

void Put(const std::string& path, std::vector<uint8_t> bytes) { S().files[path] = std::move(bytes); }

const std::vector<uint8_t>* Find(const std::string& path) {
    auto it = S().files.find(path);
    return it == S().files.end() ? nullptr : &it->second;
}

std::vector<uint8_t>& File(const std::string& path) { return S().files[path]; }

intptr_t OpenTarget(const std::string& path) {
    S().files[path].clear();
    const intptr_t hf = S().nextHandle++;
    S().handles[hf] = Handle{path, 0};
    return hf;
}

void FailNth(Op op, int n) {
    const int i = static_cast<int>(op);
    S().failAt[i] = n == 0 ? 0 : S().calls[i] + n;
}

int Calls(Op op) { return S().calls[static_cast<int>(op)]; }
int LiveBlocks() { return static_cast<int>(S().blocks.size()); }
int OpenHandles() { return static_cast<int>(S().handles.size()); }
uint64_t BytesAllocated() { return S().bytesAllocated; }

void* Alloc(uint32_t cb) {
    if (Fails(Op::Alloc)) return nullptr;
    void* p = std::malloc(cb ? cb : 1);
    // Fresh memory is not zeroed for the caller: make that visible.
    std::memset(p, 0xCD, cb);
    S().blocks.insert(p);
    S().bytesAllocated += cb;
    return p;
}

void Free(void* pv) {
    if (S().blocks.erase(pv) == 0) std::abort();  // not a live block
    std::free(pv);
}

intptr_t Open(char* pszFile, int oflag, int /*pmode*/) {
    if (Fails(Op::Open)) return -1;
    const std::string path = pszFile;
    if (oflag & kCreate) {
        if (oflag & kTruncate) S().files[path].clear();
        S().files[path];
    } else if (!S().files.count(path)) {
        return -1;
    }
    const intptr_t hf = S().nextHandle++;
    S().handles[hf] = Handle{path, 0};
    return hf;
}

uint32_t Read(intptr_t hf, void* pv, uint32_t cb) {
    Handle* h = Find(hf);
    if (Fails(Op::Read) || !h) return static_cast<uint32_t>(-1);
    const auto& bytes = S().files[h->path];
    const uint32_t n = h->pos >= bytes.size() ? 0 : std::min<uint32_t>(cb, bytes.size() - h->pos);
    if (n) std::memcpy(pv, bytes.data() + h->pos, n);
    h->pos += n;
    return n;
}

uint32_t Write(intptr_t hf, void* pv, uint32_t cb) {
    Handle* h = Find(hf);
    if (Fails(Op::Write) || !h) return static_cast<uint32_t>(-1);
    auto& bytes = S().files[h->path];
    if (bytes.size() < h->pos + cb) bytes.resize(h->pos + cb);
    if (cb) std::memcpy(bytes.data() + h->pos, pv, cb);
    h->pos += cb;
    return cb;
}

int Close(intptr_t hf) {
    if (!Find(hf)) return -1;
    S().handles.erase(hf);
    return Fails(Op::Close) ? -1 : 0;
}

int32_t Seek(intptr_t hf, int32_t dist, int seektype) {
    Handle* h = Find(hf);
    if (Fails(Op::Seek) || !h) return -1;
    int64_t base = seektype == 0 ? 0 : seektype == 1 ? h->pos : int64_t(S().files[h->path].size());
    if (base + dist < 0) return -1;
    h->pos = static_cast<uint32_t>(base + dist);
    return static_cast<int32_t>(h->pos);
}

} // namespace memfs
