// In-memory files and memory behind the reader's callbacks, for tests and fuzz targets.
// The callbacks are plain functions, so the state is process-wide; Reset() starts afresh.
// Any callback can be made to fail on its n-th call, and every allocation and handle is
// counted so that leaks show.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cab/decoders/mdi.h"

namespace memfs {

enum class Op { Alloc, Open, Read, Write, Close, Seek };

void Reset();

// Files by full path, as the open callback receives it.
void Put(const std::string& path, std::vector<uint8_t> bytes);
const std::vector<uint8_t>* Find(const std::string& path);
std::vector<uint8_t>& File(const std::string& path);  // created empty if absent

// Opens a file for writing from its start (created or truncated); what a notification
// handler does for fdintCOPY_FILE.
intptr_t OpenTarget(const std::string& path);

// The n-th call of op from now on (1 = the next one) fails; 0 cancels.
void FailNth(Op op, int n);
int Calls(Op op);  // calls of op since Reset()

int LiveBlocks();   // allocations not yet freed
int OpenHandles();  // handles not yet closed
uint64_t BytesAllocated();

// The callbacks, in the order FDICreate takes them.
void* Alloc(uint32_t cb);
void Free(void* pv);
intptr_t Open(char* pszFile, int oflag, int pmode);
uint32_t Read(intptr_t hf, void* pv, uint32_t cb);
uint32_t Write(intptr_t hf, void* pv, uint32_t cb);
int Close(intptr_t hf);
int32_t Seek(intptr_t hf, int32_t dist, int seektype);

} // namespace memfs
