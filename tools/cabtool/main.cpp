// cabtool: lists, extracts, tests and creates cabinets and cabinet sets.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cabtool/commands.h"

namespace {

const char kHelp[] =
    "usage: cabtool COMMAND [OPTIONS] ...\n"
    "\n"
    "  cabtool list CABINET\n"
    "      One line per file of the cabinet and of the cabinets that continue it:\n"
    "      size, date and time, attributes (R read-only, H hidden, S system, A archive,\n"
    "      X run after extraction), name.\n"
    "  cabtool extract [-d DIR] CABINET\n"
    "      Unpacks the cabinet and the cabinets that continue it into DIR (default: the\n"
    "      current folder), with the stored times and attributes. The other cabinets of\n"
    "      a set are looked for beside the first.\n"
    "  cabtool test CABINET\n"
    "      Decodes everything and verifies the checksums; writes nothing.\n"
    "  cabtool create [OPTIONS] OUT.cab PATH...\n"
    "      Packs the files and folders given (a folder with everything below it; names\n"
    "      are stored relative to the folder holding each PATH).\n"
    "      -m METHOD          none, mszip (the default), lzx:N (window 2^N, N = 15..21,\n"
    "                         with call translation) or quantum:N (window 2^N, N = 10..21)\n"
    "      -s SIZE            maximum size of one cabinet in bytes (suffix k or M); makes\n"
    "                         a set OUT.cab, OUT2.cab, ... when the content needs more\n"
    "      --header-reserve N reserve N bytes (0-65535) in the cabinet header\n"
    "      --folder-reserve N reserve N bytes (0-255) in every folder entry\n"
    "      --data-reserve N   reserve N bytes (0-255) in every data block header\n"
    "      --no-checksums     write no block checksums\n"
    "      --set-id N         the set's identifier (0-65535)\n"
    "\n"
    "Exit status: 0 on success, 1 on any failure (with the reason on standard error),\n"
    "2 for a wrong command line.\n";

int Usage(const char* problem)
{
    std::fprintf(stderr, "cabtool: %s\n(cabtool --help shows the usage)\n", problem);
    return 2;
}

bool Number(const char* text, unsigned long max, unsigned long* value, bool sizeSuffix = false)
{
    char* end = nullptr;
    if (!*text || *text == '-')
        return false;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (sizeSuffix && (*end == 'k' || *end == 'K'))
        v *= 1024, ++end;
    else if (sizeSuffix && *end == 'M')
        v *= 1024 * 1024, ++end;
    if (*end || v > max)
        return false;
    *value = (unsigned long)v;
    return true;
}

int Create(int argc, char** argv)
{
    CreateOptions options;
    int i = 2;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string opt = argv[i];
        unsigned long v = 0;
        if (opt == "--no-checksums") {
            options.checksums = false;
            continue;
        }
        if (i + 1 >= argc)
            return Usage(("option " + opt + " needs a value").c_str());
        const char* value = argv[++i];
        if (opt == "-m")
            options.method = value;
        else if (opt == "-s" && Number(value, 0xFFFFFFFFul, &v, true))
            options.maxCabinetSize = v;
        else if (opt == "--header-reserve" && Number(value, 65535, &v))
            options.headerReserve = unsigned(v);
        else if (opt == "--folder-reserve" && Number(value, 255, &v))
            options.folderReserve = unsigned(v);
        else if (opt == "--data-reserve" && Number(value, 255, &v))
            options.dataReserve = unsigned(v);
        else if (opt == "--set-id" && Number(value, 65535, &v))
            options.setID = unsigned(v);
        else
            return Usage(("bad option or value: " + opt + " " + value).c_str());
    }
    if (argc - i < 2)
        return Usage("create needs OUT.cab and at least one PATH");
    return CreateCommand(options, argv[i], std::vector<std::string>(argv + i + 1, argv + argc));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == "create")
        return Create(argc, argv);
    if (command == "extract") {
        std::string dir = ".";
        int i = 2;
        if (i + 1 < argc && std::strcmp(argv[i], "-d") == 0) {
            dir = argv[i + 1];
            i += 2;
        }
        if (argc - i != 1)
            return Usage("extract takes [-d DIR] CABINET");
        return ExtractCommand(argv[i], dir);
    }
    if (command == "list" || command == "test") {
        if (argc != 3)
            return Usage((command + " takes one CABINET").c_str());
        return command == "list" ? ListCommand(argv[2]) : TestCommand(argv[2]);
    }
    return Usage(("unknown command: " + command).c_str());
}
