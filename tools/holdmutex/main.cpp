// holdmutex NAME: holds the named mutex NAME until the process is ended. Prints "held"
// once it holds it; exits with 1 when another process holds it already.
#include <unistd.h>

#include <cstdio>

#include "platform/codepage.h"
#include "platform/sync.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: holdmutex NAME\n");
        return 64;
    }
    std::string name = win::Utf8ToCp936(argv[1]);
    win::HANDLE mutex = win::CreateMutexA(nullptr, win::TRUE, name.c_str());
    if (!mutex) {
        std::fprintf(stderr, "holdmutex: cannot create the mutex %s\n", argv[1]);
        return 2;
    }
    if (win::GetLastError() == win::ERROR_ALREADY_EXISTS) {
        win::CloseHandle(mutex);
        std::fprintf(stderr, "holdmutex: %s is held by another process\n", argv[1]);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    for (;;) ::pause();
}
