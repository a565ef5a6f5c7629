// create: packs files and folders into a cabinet or a set through the project's writer.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/win.h"
#include "tools/cabtool/commands.h"
#include "tools/cabwriter/names.h"
#include "tools/cabwriter/writer.h"

namespace fs = std::filesystem;

namespace {

cabwriter::FileInfo InfoOf(const fs::path& file, const std::string& cp936Path)
{
    cabwriter::FileInfo info;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        std::tm local{};
        localtime_r(&st.st_mtime, &local);
        if (local.tm_year >= 80 && local.tm_year < 208) {
            info.date = uint16_t((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
            info.time = uint16_t(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
        }
    }
    const win::DWORD attributes = win::GetFileAttributesA(cp936Path.c_str());
    if (attributes != win::INVALID_FILE_ATTRIBUTES)
        info.attribs = uint16_t(attributes & 0x27);
    return info;
}

// The files below `root` (or `root` itself), each with its name relative to root's parent.
void Collect(const fs::path& root, std::vector<std::pair<fs::path, std::string>>& files)
{
    const fs::path base = root.lexically_normal().parent_path();
    auto add = [&](const fs::path& p) {
        files.push_back({p, fs::relative(p, base.empty() ? fs::path(".") : base).generic_string()});
    };
    if (!fs::is_directory(root)) {
        if (!fs::is_regular_file(root))
            throw std::runtime_error("not a file or folder: " + root.string());
        files.push_back({root, root.lexically_normal().filename().string()});
        return;
    }
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    for (const fs::path& p : found)
        add(p);
}

std::vector<uint8_t> ReadAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> data(in ? fs::file_size(file) : 0);
    if (!in || !in.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size())))
        throw std::runtime_error("cannot read " + file.string());
    return data;
}

} // namespace

int CreateCommand(const CreateOptions& options, const std::string& out,
                  const std::vector<std::string>& paths)
{
    try {
        const fs::path outPath(out);
        cabwriter::Settings settings;
        settings.method = options.method;
        settings.maxCabinetSize = uint32_t(options.maxCabinetSize);
        settings.headerReserve = uint16_t(options.headerReserve);
        settings.folderReserve = uint8_t(options.folderReserve);
        settings.dataReserve = uint8_t(options.dataReserve);
        settings.checksums = options.checksums;
        settings.setID = uint16_t(options.setID);
        if (!ToCodePage(outPath.filename().string(), &settings.name))
            return Fail("cabinet name cannot be represented in code page 936: " + out);
        cabwriter::Writer writer(settings);
        std::vector<std::pair<fs::path, std::string>> files;
        for (const std::string& p : paths)
            Collect(p, files);
        for (const auto& [file, name] : files) {
            const std::string stored = cabwriter::StoredName(name);
            std::string host;
            ToCodePage(file.string(), &host);
            writer.addFile(stored, ReadAll(file), InfoOf(file, host));
        }
        auto cabinets = writer.finish();
        for (cabwriter::Cabinet& cabinet : cabinets)
            cabinet.name = win::Cp936ToUtf8(cabinet.name);
        const fs::path dir = outPath.parent_path();
        cabwriter::WriteCabinets(cabinets, dir.string());
        if (cabinets.size() > 1)
            std::printf("%zu cabinets written\n", cabinets.size());
        return 0;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
