#include "tools/cabwriter/writer.h"

#include "tools/cabwriter/checksum.h"
#include "tools/cabwriter/methods.h"

#include <deque>
#include <fstream>
#include <stdexcept>

namespace cabwriter {

namespace {

struct File {
    std::string name;
    std::vector<uint8_t> data;
    FileInfo info;
};

struct Folder {
    std::string method;
    std::vector<File> files;
};

constexpr uint16_t kFromPrev = 0xFFFD, kToNext = 0xFFFE, kPrevAndNext = 0xFFFF;
constexpr size_t kHeaderSize = 36;

// One piece of a data block: the whole block, or one side of a block split between cabinets.
struct Piece {
    const EncodedBlock* block;
    uint32_t offset;
    uint32_t size;
    bool firstOfSplit;  // written with cbUncomp 0
};

struct PlannedFolder {
    uint16_t typeCompress;
    std::vector<Piece> pieces;
};

struct PlannedCabinet {
    std::vector<PlannedFolder> folders;
    uint64_t size;  // bytes the cabinet takes, counting the next cabinet's names when in a set
};

// A file and the run of cabinets that list it (-1 while not yet listed).
struct PlacedFile {
    const File* src;
    uint32_t offset;  // in the folder's uncompressed data
    uint16_t folderIndex;  // in the cabinet where its folder begins
    int firstCab;
    int lastCab;
    uint32_t size() const { return uint32_t(src->data.size()); }
    uint32_t entrySize() const { return uint32_t(16 + src->name.size() + 1); }
};

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, uint16_t(v));
    Put16(out, uint16_t(v >> 16));
}

void Set32(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

void PutString(std::vector<uint8_t>& out, const std::string& s)
{
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

void PutReserve(std::vector<uint8_t>& out, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out.push_back(uint8_t(i));
}

[[noreturn]] void TooSmall(uint32_t limit)
{
    throw std::runtime_error("maximum cabinet size " + std::to_string(limit) +
                             " is too small for this content");
}

// Lays folders out over one cabinet or a set, then writes the cabinets' bytes.
class SetBuilder {
public:
    explicit SetBuilder(const Settings& s)
        : s_(s),
          limit_(s.maxCabinetSize),
          reserve_(s.reserveField || s.headerReserve || s.folderReserve || s.dataReserve),
          folderEntry_(8 + s.folderReserve),
          dataHeader_(8 + s.dataReserve)
    {
        openCabinet();
    }

    void addFolder(const std::string& method, const std::vector<File>& files);
    std::vector<Cabinet> emit();

private:
    enum class Placement { Done, NeedsFreshCabinet, FileOutsideFirstCabinet };
    struct Snapshot {
        size_t cabinets;
        PlannedCabinet last;
        size_t files;
    };

    std::string nameOf(unsigned index) const
    {
        return s_.nameOf ? s_.nameOf(index) : SetMemberName(s_.name, index);
    }
    uint64_t overhead(unsigned index) const
    {
        uint64_t n = kHeaderSize + (reserve_ ? 4 + s_.headerReserve : 0);
        if (index > 0)
            n += nameOf(index - 1).size() + 2;
        if (limit_)
            n += nameOf(index + 1).size() + 2;
        return n;
    }
    void openCabinet() { cabs_.push_back({{}, overhead(unsigned(cabs_.size()))}); }
    void addFolderEntry(uint16_t type)
    {
        cabs_.back().folders.push_back({type, {}});
        cabs_.back().size += folderEntry_;
    }
    void addPiece(const EncodedBlock& b, uint32_t offset, uint32_t size, bool firstOfSplit)
    {
        cabs_.back().folders.back().pieces.push_back({&b, offset, size, firstOfSplit});
        cabs_.back().size += dataHeader_ + size;
    }
    void list(PlacedFile& f)
    {
        int c = int(cabs_.size()) - 1;
        if (f.lastCab == c)
            return;
        if (f.firstCab < 0)
            f.firstCab = c;
        f.lastCab = c;
        cabs_.back().size += f.entrySize();
    }
    Placement place(uint16_t type, const std::vector<EncodedBlock>& blocks,
                    const std::vector<File>& files, size_t begin, size_t end, size_t& outside);

    const Settings& s_;
    const uint32_t limit_;
    const bool reserve_;
    const uint32_t folderEntry_;
    const uint32_t dataHeader_;
    std::vector<PlannedCabinet> cabs_;
    std::vector<PlacedFile> placed_;
    std::deque<std::vector<EncodedBlock>> blockStore_;  // stable addresses for the pieces
};

void SetBuilder::addFolder(const std::string& method, const std::vector<File>& files)
{
    size_t begin = 0;
    while (begin < files.size()) {
        size_t end = files.size();
        auto encoder = MakeEncoder(method);
        if (!encoder)
            throw std::runtime_error("unknown compression method: " + method);
        for (bool encode = true;;) {
            if (encode) {
                std::vector<uint8_t> data;
                for (size_t i = begin; i < end; ++i)
                    data.insert(data.end(), files[i].data.begin(), files[i].data.end());
                if (data.size() > 0xFFFFFFFFu)
                    throw std::runtime_error("a folder holds more than 4 GB");
                blockStore_.push_back(data.empty() ? std::vector<EncodedBlock>{}
                                                   : MakeEncoder(method)->encodeFolder(
                                                         data.data(), data.size()));
            }
            Snapshot snap{cabs_.size(), cabs_.back(), placed_.size()};
            size_t outside = 0;
            Placement r =
                place(encoder->typeCompress(), blockStore_.back(), files, begin, end, outside);
            if (r == Placement::Done)
                break;
            cabs_.resize(snap.cabinets);
            cabs_.back() = std::move(snap.last);
            placed_.resize(snap.files);
            if (r == Placement::NeedsFreshCabinet) {
                if (cabs_.back().folders.empty())
                    TooSmall(limit_);
                openCabinet();
                encode = false;
            } else {
                blockStore_.pop_back();
                end = outside;
                encode = true;
            }
        }
        begin = end;
    }
}

// Places one folder's blocks from the current cabinet on. A non-empty file whose first block
// has no piece in the folder's first cabinet could only be decoded by a pass that started
// in an earlier cabinet, so the folder must end before it: its index comes back in `outside`.
SetBuilder::Placement SetBuilder::place(uint16_t type, const std::vector<EncodedBlock>& blocks,
                                        const std::vector<File>& files, size_t begin,
                                        size_t end, size_t& outside)
{
    const int startCab = int(cabs_.size()) - 1;
    addFolderEntry(type);
    const uint16_t folderIndex = uint16_t(cabs_.back().folders.size() - 1);
    const size_t first = placed_.size();
    uint32_t offset = 0;
    for (size_t i = begin; i < end; ++i) {
        placed_.push_back({&files[i], offset, folderIndex, -1, -1});
        offset += uint32_t(files[i].data.size());
        if (files[i].data.empty())
            list(placed_.back());
    }

    size_t lo = first;
    uint32_t blockStart = 0;
    for (const EncodedBlock& b : blocks) {
        const uint32_t blockEnd = blockStart + b.uncompressedSize;
        while (lo < placed_.size() && placed_[lo].offset + placed_[lo].size() <= blockStart)
            ++lo;
        auto forOverlaps = [&](auto fn) {
            for (size_t k = lo; k < placed_.size() && placed_[k].offset < blockEnd; ++k)
                if (placed_[k].size() > 0 && placed_[k].offset + placed_[k].size() > blockStart)
                    fn(placed_[k]);
        };
        auto listOverlaps = [&] { forOverlaps([&](PlacedFile& f) { list(f); }); };
        const uint32_t payload = uint32_t(b.data.size());
        if (payload > 0xFFFF || b.uncompressedSize > 32768)
            throw std::logic_error("encoder produced an oversized block");

        // Whole where it fits; else split, the rest going to the next cabinet; else the
        // whole block moves on (and may be split there).
        for (;;) {
            uint64_t newEntries = 0, allEntries = 0;
            const int c = int(cabs_.size()) - 1;
            forOverlaps([&](PlacedFile& f) {
                allEntries += f.entrySize();
                if (f.lastCab != c)
                    newEntries += f.entrySize();
            });
            const uint64_t before = cabs_.back().size + newEntries + dataHeader_;
            if (!limit_ || before + payload <= limit_) {
                listOverlaps();
                addPiece(b, 0, payload, false);
                break;
            }
            const uint64_t fresh =
                overhead(unsigned(c + 1)) + folderEntry_ + allEntries + dataHeader_;
            const uint64_t room = limit_ > before ? limit_ - before : 0;
            if (room >= 1 && fresh + payload - room <= limit_) {
                listOverlaps();
                addPiece(b, 0, uint32_t(room), true);
                openCabinet();
                addFolderEntry(type);
                listOverlaps();
                addPiece(b, uint32_t(room), uint32_t(payload - room), false);
                break;
            }
            if (cabs_.back().folders.back().pieces.empty()) {
                if (c == startCab)
                    return Placement::NeedsFreshCabinet;
                TooSmall(limit_);
            }
            openCabinet();
            addFolderEntry(type);
        }
        blockStart = blockEnd;
    }

    for (size_t k = first; k < placed_.size(); ++k) {
        if (placed_[k].size() > 0 && placed_[k].firstCab != startCab) {
            outside = begin + (k - first);
            return Placement::FileOutsideFirstCabinet;
        }
    }
    return Placement::Done;
}

std::vector<Cabinet> SetBuilder::emit()
{
    std::vector<Cabinet> out;
    const int count = int(cabs_.size());
    for (int c = 0; c < count; ++c) {
        const PlannedCabinet& cab = cabs_[c];
        const bool prev = c > 0, next = c + 1 < count;

        // Entries continued from the previous cabinet come first, those continued into the
        // next one last, so the reader can pair them up across the boundary.
        std::vector<std::pair<const PlacedFile*, uint16_t>> entries[3];
        for (const PlacedFile& f : placed_) {
            if (f.firstCab > c || f.lastCab < c)
                continue;
            const bool fromPrev = f.firstCab < c, toNext = f.lastCab > c;
            if (fromPrev)
                entries[0].push_back({&f, toNext ? kPrevAndNext : kFromPrev});
            else if (toNext)
                entries[2].push_back({&f, kToNext});
            else
                entries[1].push_back({&f, f.folderIndex});
        }
        const size_t fileCount = entries[0].size() + entries[1].size() + entries[2].size();
        if (fileCount > 0xFFFF || cab.folders.size() > 0xFFFF)
            throw std::runtime_error("too many files or folders for one cabinet");

        std::vector<uint8_t> b;
        b.reserve(size_t(cab.size));
        b.insert(b.end(), {'M', 'S', 'C', 'F'});
        Put32(b, 0);
        Put32(b, 0);  // cbCabinet, set below
        Put32(b, 0);
        Put32(b, 0);  // coffFiles, set below
        Put32(b, 0);
        b.push_back(3);
        b.push_back(1);
        Put16(b, uint16_t(cab.folders.size()));
        Put16(b, uint16_t(fileCount));
        Put16(b, uint16_t((prev ? 1 : 0) | (next ? 2 : 0) | (reserve_ ? 4 : 0)));
        Put16(b, s_.setID);
        Put16(b, uint16_t(c));
        if (reserve_) {
            Put16(b, s_.headerReserve);
            b.push_back(s_.folderReserve);
            b.push_back(s_.dataReserve);
            PutReserve(b, s_.headerReserve);
        }
        for (int neighbour : {c - 1, c + 1}) {
            if ((neighbour < c && !prev) || (neighbour > c && !next))
                continue;
            const std::string name = nameOf(unsigned(neighbour));
            if (name.size() > 255)
                throw std::runtime_error("cabinet name longer than 255 bytes: " + name);
            PutString(b, name);
            PutString(b, "");
        }
        const size_t folderTable = b.size();
        for (const PlannedFolder& f : cab.folders) {
            if (f.pieces.size() > 0xFFFF)
                throw std::runtime_error("too many data blocks in one folder");
            Put32(b, 0);  // coffCabStart, set below
            Put16(b, uint16_t(f.pieces.size()));
            Put16(b, f.typeCompress);
            PutReserve(b, s_.folderReserve);
        }
        Set32(b, 16, uint32_t(b.size()));
        for (const auto& group : entries) {
            for (const auto& [f, iFolder] : group) {
                Put32(b, f->size());
                Put32(b, f->offset);
                Put16(b, iFolder);
                Put16(b, f->src->info.date);
                Put16(b, f->src->info.time);
                Put16(b, f->src->info.attribs);
                PutString(b, f->src->name);
            }
        }
        for (size_t i = 0; i < cab.folders.size(); ++i) {
            Set32(b, folderTable + i * folderEntry_, uint32_t(b.size()));
            for (const Piece& p : cab.folders[i].pieces) {
                const size_t header = b.size();
                const uint8_t* data = p.block->data.data() + p.offset;
                Put32(b, 0);
                Put16(b, uint16_t(p.size));
                Put16(b, p.firstOfSplit ? 0 : uint16_t(p.block->uncompressedSize));
                PutReserve(b, s_.dataReserve);
                if (s_.checksums)
                    Set32(b, header, Checksum(b.data() + header + 4, 4 + s_.dataReserve,
                                              Checksum(data, p.size, 0)));
                b.insert(b.end(), data, data + p.size);
            }
        }
        if (b.size() > 0xFFFFFFFFu || (limit_ && b.size() > limit_))
            throw std::logic_error("cabinet exceeds its planned size");
        Set32(b, 8, uint32_t(b.size()));
        out.push_back({nameOf(unsigned(c)), std::move(b)});
    }
    return out;
}

} // namespace

struct Writer::Pending {
    std::vector<Folder> folders;
};

std::string SetMemberName(const std::string& first, unsigned index)
{
    if (index == 0)
        return first;
    const std::string number = std::to_string(index + 1);
    const size_t dot = first.rfind('.');
    const size_t sep = first.find_last_of("\\/");
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep))
        return first + number;
    return first.substr(0, dot) + number + first.substr(dot);
}

Writer::Writer(Settings settings) : settings_(std::move(settings)), pending_(new Pending)
{
    if (!MakeEncoder(settings_.method))
        throw std::runtime_error("unknown compression method: " + settings_.method);
}

Writer::~Writer() = default;

void Writer::addFile(std::string name, std::vector<uint8_t> data, const FileInfo& info)
{
    if (name.empty() || name.size() > 255)
        throw std::runtime_error("a file name must have 1 to 255 bytes: " + name);
    if (pending_->folders.empty())
        pending_->folders.push_back({settings_.method, {}});
    pending_->folders.back().files.push_back({std::move(name), std::move(data), info});
}

void Writer::startFolder(const std::string& method)
{
    const std::string& m = method.empty() ? settings_.method : method;
    if (!MakeEncoder(m))
        throw std::runtime_error("unknown compression method: " + m);
    if (pending_->folders.empty() || !pending_->folders.back().files.empty())
        pending_->folders.push_back({m, {}});
    else
        pending_->folders.back().method = m;
}

std::vector<Cabinet> Writer::finish()
{
    SetBuilder builder(settings_);
    for (const Folder& folder : pending_->folders)
        builder.addFolder(folder.method, folder.files);
    std::vector<Cabinet> cabinets = builder.emit();
    pending_ = std::make_unique<Pending>();
    return cabinets;
}

void WriteCabinets(const std::vector<Cabinet>& cabinets, const std::string& dir)
{
    for (const Cabinet& cab : cabinets) {
        const std::string path = dir.empty() ? cab.name : dir + "/" + cab.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(cab.bytes.data()), std::streamsize(cab.bytes.size()));
        if (!out.flush())
            throw std::runtime_error("cannot write " + path);
    }
}

} // namespace cabwriter
