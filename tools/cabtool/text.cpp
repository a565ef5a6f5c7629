#include <cstdio>
#include <string>

#include "platform/win.h"
#include "tools/cabtool/commands.h"

bool ToCodePage(const std::string& utf8, std::string* cp936)
{
    return win::Utf8ToCp936Exact(utf8, cp936);
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "cabtool: %s\n", message.c_str());
    return 1;
}
