// The cabtool commands; each returns the process exit code and reports its errors on stderr.
#pragma once
#include <string>
#include <vector>

int ListCommand(const std::string& cabinet);
int ExtractCommand(const std::string& cabinet, const std::string& dir);
int TestCommand(const std::string& cabinet);

struct CreateOptions {
    std::string method = "mszip";
    unsigned long maxCabinetSize = 0;
    unsigned headerReserve = 0, folderReserve = 0, dataReserve = 0;
    bool checksums = true;
    unsigned setID = 0x4B56;
};
int CreateCommand(const CreateOptions& options, const std::string& out,
                  const std::vector<std::string>& paths);

// Host (UTF-8) text to the code page 936 the cabinet code works in; false if it cannot be.
bool ToCodePage(const std::string& utf8, std::string* cp936);
// Reports "cabtool: MESSAGE" on stderr and returns 1.
int Fail(const std::string& message);
