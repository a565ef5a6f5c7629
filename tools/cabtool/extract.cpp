// extract and test: both run the updater's own extraction path, CCabinet::Extract; test
// hands every file to a sink instead of a target.
#include <cstdio>
#include <string>

#include "cab/cabinet.h"
#include "platform/win.h"
#include "tools/cabtool/commands.h"

namespace {

int Report(const CCabinet& cabinet)
{
    if (!cabinet.FailureText().empty())
        return Fail(win::Cp936ToUtf8(cabinet.FailureText()));
    return Fail(FDIErrorText(cabinet.Error().erfOper));
}

// Each file gets its own handle on /dev/null, owned like a real target: closed by the
// close notification on success, by the reader itself on failure.
class SinkTarget : public CEventHandler<const char*, int32_t, intptr_t*, int*> {
public:
    void Invoke(const char*, int32_t, intptr_t* handle, int* doDefault) override
    {
        *handle = win::_open("/dev/null", win::_O_WRONLY | win::_O_BINARY);
        *doDefault = 0;
    }
};

class CloseSink : public CEventHandler<const char*, intptr_t*, uint16_t, uint16_t, uint16_t,
                                       uint16_t, FDINOTIFICATION*, int*, intptr_t*> {
public:
    void Invoke(const char*, intptr_t* handle, uint16_t, uint16_t, uint16_t, uint16_t,
                FDINOTIFICATION*, int* doDefault, intptr_t* result) override
    {
        *result = win::_close(static_cast<int>(*handle)) == 0 ? 1 : 0;
        *doDefault = 0;
    }
};

} // namespace

int ExtractCommand(const std::string& cabinet, const std::string& dir)
{
    std::string cab, dest;
    if (!ToCodePage(cabinet, &cab) || !ToCodePage(dir, &dest))
        return Fail("path cannot be represented in code page 936");
    CCabinet extractor;
    if (!extractor.Extract(cab.c_str(), dest.c_str()))
        return Report(extractor);
    return 0;
}

int TestCommand(const std::string& cabinet)
{
    std::string cab;
    if (!ToCodePage(cabinet, &cab))
        return Fail("path cannot be represented in code page 936");
    CCabinet tester;
    tester.m_CopyFile.Add(new SinkTarget);
    tester.m_CloseFileInfo.Add(new CloseSink);
    const int ok = tester.Extract(cab.c_str(), "");
    if (!ok)
        return Report(tester);
    std::puts("OK");
    return 0;
}
