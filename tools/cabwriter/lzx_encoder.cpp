// LZX encoder: hash-chain match finder with one-step lazy evaluation and the three repeated
// offsets; per block, length-limited canonical codes and the cheapest block type.
#include "tools/cabwriter/lzx_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "cab/decoders/lzx_format.h"

namespace cabwriter {
namespace {

using namespace lzx;

constexpr uint16_t kMethodLzx = 3;
constexpr uint32_t kE8FileSize = 12000000;
// Past this many bytes the decoder may change an operand that overlaps a frame's last six
// bytes, so larger folders are sent without the E8 translation.
constexpr size_t kE8FolderLimit = 0x17000000;
constexpr uint32_t kE8Frames = 32768;
constexpr int kNiceLength = 64;
constexpr int kMaxPretreeLength = 15;
constexpr int kMaxAlignedLength = 7;

// 16-bit little-endian words, filled from their most significant bit.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}
    void Put(uint32_t value, int n)
    {
        acc_ = (acc_ << n) | value;
        count_ += n;
        while (count_ >= 16) {
            count_ -= 16;
            const uint32_t word = static_cast<uint32_t>(acc_ >> count_);
            out_->push_back(static_cast<uint8_t>(word));
            out_->push_back(static_cast<uint8_t>(word >> 8));
        }
    }
    void Align()
    {
        if (count_)
            Put(0, 16 - count_);
    }
    int pending() const { return count_; }
    size_t bits() const { return out_->size() * 8 + count_; }

private:
    std::vector<uint8_t>* out_;
    uint64_t acc_ = 0;
    int count_ = 0;
};

// Huffman code lengths of at most maxLength bits, always a complete code (a lone symbol gets
// a partner) or all zeros when no symbol occurs.
void BuildLengths(const uint32_t* freq, int n, int maxLength, uint8_t* lengths)
{
    std::fill(lengths, lengths + n, 0);
    std::vector<uint32_t> weight(freq, freq + n);
    std::vector<int> syms;
    for (int i = 0; i < n; ++i)
        if (weight[i])
            syms.push_back(i);
    if (syms.empty())
        return;
    if (syms.size() == 1) {
        lengths[syms[0]] = 1;
        lengths[syms[0] == 0 ? 1 : 0] = 1;
        return;
    }
    const int m = static_cast<int>(syms.size());
    std::vector<uint64_t> w(2 * m);
    std::vector<int> parent(2 * m), depth(2 * m);
    for (;;) {
        std::stable_sort(syms.begin(), syms.end(),
                         [&](int a, int b) { return weight[a] < weight[b]; });
        for (int i = 0; i < m; ++i)
            w[i] = weight[syms[i]];
        // Two queues: sorted leaves, and internal nodes in the order they are made.
        int leaf = 0, inner = m, made = m;
        auto take = [&] {
            if (leaf < m && (inner == made || w[leaf] <= w[inner]))
                return leaf++;
            return inner++;
        };
        for (; made < 2 * m - 1; ++made) {
            const int a = take(), b = take();
            w[made] = w[a] + w[b];
            parent[a] = parent[b] = made;
        }
        depth[2 * m - 2] = 0;
        int longest = 0;
        for (int i = 2 * m - 3; i >= 0; --i) {
            depth[i] = depth[parent[i]] + 1;
            longest = std::max(longest, depth[i]);
        }
        if (longest <= maxLength) {
            for (int i = 0; i < m; ++i)
                lengths[syms[i]] = static_cast<uint8_t>(depth[i]);
            return;
        }
        for (int s : syms)
            weight[s] = (weight[s] >> 1) | 1;
    }
}

void CanonicalCodes(const uint8_t* lengths, int n, uint16_t* codes)
{
    uint32_t count[kMaxCodeLength + 1] = {};
    for (int i = 0; i < n; ++i)
        count[lengths[i]]++;
    count[0] = 0;
    uint32_t next[kMaxCodeLength + 1] = {};
    for (int len = 2; len <= kMaxCodeLength; ++len)
        next[len] = (next[len - 1] + count[len - 1]) << 1;
    for (int i = 0; i < n; ++i)
        codes[i] = lengths[i] ? static_cast<uint16_t>(next[lengths[i]]++) : 0;
}

// A list of code lengths, sent as changes against the previous lengths through a pretree.
void WriteLengths(BitWriter& bw, const uint8_t* lengths, const uint8_t* previous, int count)
{
    struct Item {
        uint8_t sym, extraBits, extra, second;
    };
    std::vector<Item> items;
    uint32_t freq[kPretreeSymbols] = {};
    auto delta = [&](int i, int value) { return static_cast<uint8_t>((previous[i] + 17 - value) % 17); };
    for (int i = 0; i < count;) {
        int run = 1;
        while (i + run < count && lengths[i + run] == lengths[i])
            ++run;
        Item item{};
        int used = 1;
        if (lengths[i] == 0 && run >= 20) {
            used = std::min(run, 51);
            item = {18, 5, static_cast<uint8_t>(used - 20), 0};
        } else if (lengths[i] == 0 && run >= 4) {
            used = run;
            item = {17, 4, static_cast<uint8_t>(used - 4), 0};
        } else if (run >= 4) {
            used = std::min(run, 5);
            item = {19, 1, static_cast<uint8_t>(used - 4), delta(i, lengths[i])};
            freq[item.second]++;
        } else {
            item = {delta(i, lengths[i]), 0, 0, 0};
        }
        freq[item.sym]++;
        items.push_back(item);
        i += used;
    }
    uint8_t preLengths[kPretreeSymbols];
    uint16_t preCodes[kPretreeSymbols];
    BuildLengths(freq, kPretreeSymbols, kMaxPretreeLength, preLengths);
    CanonicalCodes(preLengths, kPretreeSymbols, preCodes);
    for (uint8_t len : preLengths)
        bw.Put(len, 4);
    for (const Item& item : items) {
        bw.Put(preCodes[item.sym], preLengths[item.sym]);
        if (item.extraBits)
            bw.Put(item.extra, item.extraBits);
        if (item.sym == 19)
            bw.Put(preCodes[item.second], preLengths[item.second]);
    }
}

// Rewrites the relative operands of 0xE8 bytes as the decoder's translation expects them.
// Operands that reach into a frame's last six bytes stay as they are: the decoder reads
// those bytes as 0xE8 and leaves such values alone.
void ApplyE8(uint8_t* data, size_t size)
{
    for (size_t start = 0, frame = 0; start < size && frame < kE8Frames;
         start += kFrameSize, ++frame) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kFrameSize, size - start));
        if (n < 6)
            break;
        uint8_t* d = data + start;
        const uint32_t last = n - 6;
        for (uint32_t p = 0; p < last;) {
            if (d[p] != 0xE8) {
                ++p;
                continue;
            }
            if (p + 5 <= last) {
                const uint32_t cur = static_cast<uint32_t>(start) + p;
                const uint32_t u = d[p + 1] | (d[p + 2] << 8) | (d[p + 3] << 16) |
                                   (static_cast<uint32_t>(d[p + 4]) << 24);
                uint32_t v = u;
                if (u + cur < kE8FileSize)
                    v = u + cur;
                else if (u - kE8FileSize + cur < cur)
                    v = u - kE8FileSize;
                for (int k = 0; k < 4; ++k)
                    d[p + 1 + k] = static_cast<uint8_t>(v >> (8 * k));
            }
            p += 5;
        }
    }
}

struct Token {
    uint16_t main;      // literal byte or match symbol
    uint16_t length;    // length-tree symbol, kNoLength if none
    uint16_t bytes;     // bytes the token produces
    uint32_t extra;     // offset extra value (explicit offsets)
};
constexpr uint16_t kNoLength = 0xFFFF;

struct Offsets {
    uint32_t r[3] = {1, 1, 1};
};

class MatchFinder {
public:
    MatchFinder(const uint8_t* data, size_t size, uint32_t windowSize, int depth)
        : data_(data), size_(size), mask_(windowSize - 1), maxOffset_(windowSize - 3),
          depth_(depth), hashBits_(std::clamp(static_cast<int>(std::bit_width(windowSize)) - 2, 16, 20)),
          head_(1u << hashBits_, -1), prev_(windowSize)
    {
    }

    struct Choice {
        uint32_t length = 0, offset = 0;
        int score = 0;
    };

    // The most profitable match at pos of at most maxLength bytes, the repeated offsets first.
    Choice Best(size_t pos, uint32_t maxLength, const Offsets& r)
    {
        Insert(pos);
        Choice best;
        if (maxLength < kMinMatch)
            return best;
        for (int k = 0; k < 3; ++k) {
            const uint32_t off = r.r[k];
            if (off > pos || off > maxOffset_)
                continue;
            const uint32_t len = Length(pos, pos - off, maxLength);
            const int score = static_cast<int>(len) * 7 - (9 + k);
            if (len >= kMinMatch && score > best.score)
                best = {len, off, score};
        }
        if (maxLength < 3 || best.length >= maxLength || pos + 3 > size_)
            return best;
        int32_t cand = head_[Hash(pos)];
        uint32_t longest = std::max<uint32_t>(best.length, 2);
        for (int left = depth_; cand >= 0 && left > 0; --left) {
            const size_t off = pos - static_cast<size_t>(cand);
            if (off > maxOffset_)
                break;
            if (data_[cand + longest] == data_[pos + longest]) {
                const uint32_t len = Length(pos, static_cast<size_t>(cand), maxLength);
                const int score = static_cast<int>(len) * 7 - Cost(static_cast<uint32_t>(off));
                if (len >= 3 && score > best.score) {
                    best = {len, static_cast<uint32_t>(off), score};
                    longest = std::max(longest, len);
                    if (len >= maxLength)
                        break;
                }
            }
            const int32_t next = prev_[cand & mask_];
            if (next >= cand)
                break;
            cand = next;
        }
        return best;
    }

private:
    uint32_t Hash(size_t pos) const
    {
        const uint32_t v = data_[pos] | (data_[pos + 1] << 8) | (data_[pos + 2] << 16);
        return (v * 2654435761u) >> (32 - hashBits_);
    }
    // Adds every position before pos to the chains.
    void Insert(size_t pos)
    {
        for (; inserted_ < pos; ++inserted_) {
            if (inserted_ + 3 > size_)
                continue;
            const uint32_t h = Hash(inserted_);
            prev_[inserted_ & mask_] = head_[h];
            head_[h] = static_cast<int32_t>(inserted_);
        }
    }
    uint32_t Length(size_t pos, size_t from, uint32_t maxLength) const
    {
        uint32_t len = 0;
        while (len + 8 <= maxLength) {
            uint64_t a, b;
            std::memcpy(&a, data_ + pos + len, 8);
            std::memcpy(&b, data_ + from + len, 8);
            if (a != b)
                return len + static_cast<uint32_t>(std::countr_zero(a ^ b) / 8);
            len += 8;
        }
        while (len < maxLength && data_[pos + len] == data_[from + len])
            ++len;
        return len;
    }
    static int Cost(uint32_t offset)
    {
        const int width = std::bit_width(offset + 2);
        return 10 + std::max(0, width - 2);
    }

    const uint8_t* data_;
    size_t size_;
    uint32_t mask_, maxOffset_;
    int depth_;
    int hashBits_;  // more buckets for larger windows keep the chains to true matches
    std::vector<int32_t> head_, prev_;
    size_t inserted_ = 0;
};

// Collects the payloads of the data blocks: each frame's bytes, cut when the frame's
// output is complete.
class FrameSink {
public:
    explicit FrameSink(size_t total) : total_(total), size_(FrameBytes()) {}

    BitWriter bits{&payload_};
    std::vector<uint8_t>& payload() { return payload_; }
    uint32_t room() const { return size_ - fill_; }

    void Produced(uint32_t n)
    {
        fill_ += n;
        done_ += n;
        if (fill_ == size_ && done_ < total_)
            NextFrame();
    }
    std::vector<EncodedBlock> Finish()
    {
        if (total_ > 0)
            NextFrame();
        return std::move(blocks_);
    }

private:
    uint32_t FrameBytes() const
    {
        return static_cast<uint32_t>(std::min<size_t>(kFrameSize, total_ - done_));
    }
    void NextFrame()
    {
        bits.Align();
        blocks_.push_back({std::move(payload_), fill_});
        payload_.clear();
        fill_ = 0;
        size_ = FrameBytes();
    }

    size_t total_, done_ = 0;
    uint32_t size_, fill_ = 0;
    std::vector<uint8_t> payload_;
    std::vector<EncodedBlock> blocks_;
};

class LzxEncoder final : public FolderEncoder {
public:
    explicit LzxEncoder(const LzxOptions& options)
        : options_(options), windowSize_(1u << options.windowBits),
          slots_(SlotCount(windowSize_)), mainSymbols_(kNumChars + 8 * slots_)
    {
    }

    uint16_t typeCompress() const override
    {
        return static_cast<uint16_t>(kMethodLzx | (options_.windowBits << 8));
    }

    std::vector<EncodedBlock> encodeFolder(const uint8_t* input, size_t size) override
    {
        std::vector<uint8_t> data(input, input + size);
        e8_ = options_.e8 && size < kE8FolderLimit;
        if (e8_)
            ApplyE8(data.data(), size);
        data_ = data.data();
        size_ = size;
        // Chains of a large window mostly miss the cache: fewer candidates keep it fast.
        const int depth = options_.chainDepth > 0 ? options_.chainDepth
                          : options_.windowBits <= 17 ? 48 : 16;
        MatchFinder finder(data_, size, windowSize_, depth);
        finder_ = &finder;
        FrameSink sink(size);
        sink_ = &sink;
        offsets_ = {};
        firstHeader_ = true;
        padPending_ = false;
        std::fill(std::begin(prevMain_), std::end(prevMain_), 0);
        std::fill(std::begin(prevLength_), std::end(prevLength_), 0);

        const std::vector<uint32_t>& sizes = options_.blockSizes;
        int index = 0;
        for (size_t pos = 0; pos < size; ++index) {
            const uint32_t blockSize = sizes.empty() ? 1u << 17 : sizes[index % sizes.size()];
            const size_t end = std::min(size, pos + std::clamp<uint32_t>(blockSize, 1, 0xFFFFFF));
            const BlockType type = ForcedType(index);
            if (options_.emptyBlocks)
                EmitEmpty(type);
            EncodeBlock(pos, end, type);
            pos = end;
        }
        return sink.Finish();
    }

private:
    static constexpr BlockType kChoose = static_cast<BlockType>(0);

    BlockType ForcedType(int index) const
    {
        switch (options_.blocks) {
        case LzxOptions::Blocks::Verbatim: return kVerbatim;
        case LzxOptions::Blocks::Aligned: return kAligned;
        case LzxOptions::Blocks::Uncompressed: return kUncompressed;
        case LzxOptions::Blocks::Rotate: return static_cast<BlockType>(1 + index % 3);
        case LzxOptions::Blocks::Best: break;
        }
        return kChoose;
    }

    struct Trees {
        uint8_t main[kMaxMainSymbols] = {};
        uint8_t length[kLengthSymbols] = {};
        uint8_t aligned[kAlignedSymbols] = {};
    };

    void EncodeBlock(size_t begin, size_t end, BlockType type)
    {
        const uint32_t bytes = static_cast<uint32_t>(end - begin);
        if (type == kUncompressed) {
            EmitUncompressed(begin, bytes);
            return;
        }
        const Offsets saved = offsets_;
        tokens_.clear();
        Tokenize(begin, end);

        uint32_t mainFreq[kMaxMainSymbols] = {}, lengthFreq[kLengthSymbols] = {},
                 alignedFreq[kAlignedSymbols] = {};
        uint64_t extraBits = 0, alignedExtraBits = 0;
        for (const Token& t : tokens_) {
            mainFreq[t.main]++;
            if (t.length != kNoLength)
                lengthFreq[t.length]++;
            const int extra = ExtraBits(t);
            extraBits += extra;
            if (extra >= 3) {
                alignedFreq[t.extra & 7]++;
                alignedExtraBits += extra - 3;
            } else {
                alignedExtraBits += extra;
            }
        }
        Trees trees;
        BuildLengths(mainFreq, mainSymbols_, kMaxCodeLength, trees.main);
        BuildLengths(lengthFreq, kLengthSymbols, kMaxCodeLength, trees.length);
        BuildLengths(alignedFreq, kAlignedSymbols, kMaxAlignedLength, trees.aligned);

        if (type == kChoose) {
            uint64_t coded = TreeBits(trees) + extraBits;
            for (int i = 0; i < mainSymbols_; ++i)
                coded += uint64_t(mainFreq[i]) * trees.main[i];
            for (int i = 0; i < kLengthSymbols; ++i)
                coded += uint64_t(lengthFreq[i]) * trees.length[i];
            uint64_t aligned = coded - extraBits + alignedExtraBits + 3 * kAlignedSymbols;
            for (int i = 0; i < kAlignedSymbols; ++i)
                aligned += uint64_t(alignedFreq[i]) * trees.aligned[i];
            const uint64_t stored = 8ull * bytes + 16 + 96 + 8;
            type = aligned < coded ? kAligned : kVerbatim;
            if (stored <= std::min(coded, aligned)) {
                offsets_ = saved;
                EmitUncompressed(begin, bytes);
                return;
            }
        }
        EmitCoded(type, trees, bytes);
    }

    void Tokenize(size_t begin, size_t end)
    {
        auto maxLength = [&](size_t pos) {
            const size_t frameEnd = (pos / kFrameSize + 1) * kFrameSize;
            return static_cast<uint32_t>(
                std::min({end, frameEnd, pos + static_cast<size_t>(kMaxMatch)}) - pos);
        };
        size_t pos = begin;
        while (pos < end) {
            MatchFinder::Choice cur = finder_->Best(pos, maxLength(pos), offsets_);
            while (cur.length >= kMinMatch && cur.length < kNiceLength && pos + 1 < end) {
                const MatchFinder::Choice next = finder_->Best(pos + 1, maxLength(pos + 1), offsets_);
                if (next.score <= cur.score + 4)
                    break;
                tokens_.push_back({data_[pos], kNoLength, 1, 0});
                ++pos;
                cur = next;
            }
            if (cur.length < kMinMatch) {
                tokens_.push_back({data_[pos], kNoLength, 1, 0});
                ++pos;
                continue;
            }
            tokens_.push_back(MatchToken(cur.length, cur.offset));
            pos += cur.length;
        }
    }

    Token MatchToken(uint32_t length, uint32_t offset)
    {
        uint32_t* r = offsets_.r;
        uint32_t slot, extra = 0;
        if (offset == r[0]) {
            slot = 0;
        } else if (offset == r[1]) {
            slot = 1;
            std::swap(r[0], r[1]);
        } else if (offset == r[2]) {
            slot = 2;
            std::swap(r[0], r[2]);
        } else {
            const uint32_t formatted = offset + 2;
            slot = static_cast<uint32_t>(
                std::upper_bound(kPositionBase.begin(), kPositionBase.begin() + slots_, formatted) -
                kPositionBase.begin() - 1);
            extra = formatted - kPositionBase[slot];
            r[2] = r[1];
            r[1] = r[0];
            r[0] = offset;
        }
        const uint32_t header = std::min<uint32_t>(length - kMinMatch, 7);
        return {static_cast<uint16_t>(kNumChars + slot * 8 + header),
                header == 7 ? static_cast<uint16_t>(length - 9) : kNoLength,
                static_cast<uint16_t>(length), extra};
    }

    static int ExtraBits(const Token& t)
    {
        if (t.main < kNumChars)
            return 0;
        const int slot = (t.main - kNumChars) >> 3;
        return slot >= 4 ? kExtraBits[slot] : 0;
    }

    uint64_t TreeBits(const Trees& trees) const
    {
        std::vector<uint8_t> scratch;
        BitWriter bw(&scratch);
        WriteTrees(bw, trees);
        return bw.bits();
    }

    void WriteTrees(BitWriter& bw, const Trees& trees) const
    {
        WriteLengths(bw, trees.main, prevMain_, kNumChars);
        WriteLengths(bw, trees.main + kNumChars, prevMain_ + kNumChars, mainSymbols_ - kNumChars);
        WriteLengths(bw, trees.length, prevLength_, kLengthSymbols);
    }

    void BeginBlock(BlockType type, uint32_t bytes)
    {
        if (padPending_) {
            sink_->payload().push_back(0);
            padPending_ = false;
        }
        BitWriter& bw = sink_->bits;
        if (firstHeader_) {
            firstHeader_ = false;
            bw.Put(e8_ ? 1 : 0, 1);
            if (e8_) {
                bw.Put(kE8FileSize >> 16, 16);
                bw.Put(kE8FileSize & 0xFFFF, 16);
            }
        }
        bw.Put(type, 3);
        bw.Put(bytes >> 16, 8);
        bw.Put((bytes >> 8) & 0xFF, 8);
        bw.Put(bytes & 0xFF, 8);
    }

    void EmitCoded(BlockType type, const Trees& trees, uint32_t bytes)
    {
        BeginBlock(type, bytes);
        BitWriter& bw = sink_->bits;
        if (type == kAligned)
            for (uint8_t len : trees.aligned)
                bw.Put(len, 3);
        WriteTrees(bw, trees);
        std::copy(std::begin(trees.main), std::end(trees.main), prevMain_);
        std::copy(std::begin(trees.length), std::end(trees.length), prevLength_);

        uint16_t mainCodes[kMaxMainSymbols], lengthCodes[kLengthSymbols], alignedCodes[kAlignedSymbols];
        CanonicalCodes(trees.main, mainSymbols_, mainCodes);
        CanonicalCodes(trees.length, kLengthSymbols, lengthCodes);
        CanonicalCodes(trees.aligned, kAlignedSymbols, alignedCodes);
        for (const Token& t : tokens_) {
            bw.Put(mainCodes[t.main], trees.main[t.main]);
            if (t.length != kNoLength)
                bw.Put(lengthCodes[t.length], trees.length[t.length]);
            const int extra = ExtraBits(t);
            if (type == kAligned && extra >= 3) {
                if (extra > 3)
                    bw.Put(t.extra >> 3, extra - 3);
                bw.Put(alignedCodes[t.extra & 7], trees.aligned[t.extra & 7]);
            } else if (extra) {
                bw.Put(t.extra, extra);
            }
            sink_->Produced(t.bytes);
        }
    }

    void EmitUncompressed(size_t begin, uint32_t bytes)
    {
        BeginBlock(kUncompressed, bytes);
        BitWriter& bw = sink_->bits;
        if (bw.pending() == 0)
            bw.Put(0, 16);
        bw.Align();
        for (uint32_t r : offsets_.r)
            for (int k = 0; k < 4; ++k)
                sink_->payload().push_back(static_cast<uint8_t>(r >> (8 * k)));
        for (uint32_t done = 0; done < bytes;) {
            const uint32_t n = std::min(bytes - done, sink_->room());
            const uint8_t* src = data_ + begin + done;
            sink_->payload().insert(sink_->payload().end(), src, src + n);
            done += n;
            sink_->Produced(n);
        }
        padPending_ = (bytes & 1) != 0;
    }

    void EmitEmpty(BlockType type)
    {
        if (type == kUncompressed || type == kChoose) {
            EmitUncompressed(0, 0);
            return;
        }
        Trees trees;
        std::copy(std::begin(prevMain_), std::end(prevMain_), trees.main);
        std::copy(std::begin(prevLength_), std::end(prevLength_), trees.length);
        tokens_.clear();
        EmitCoded(type, trees, 0);
    }

    LzxOptions options_;
    uint32_t windowSize_;
    int slots_, mainSymbols_;
    bool e8_ = false;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    MatchFinder* finder_ = nullptr;
    FrameSink* sink_ = nullptr;
    Offsets offsets_;
    bool firstHeader_ = true, padPending_ = false;
    uint8_t prevMain_[kMaxMainSymbols] = {};
    uint8_t prevLength_[kLengthSymbols] = {};
    std::vector<Token> tokens_;
};

} // namespace

std::unique_ptr<FolderEncoder> MakeLzxEncoder(const LzxOptions& options)
{
    return std::make_unique<LzxEncoder>(options);
}

std::unique_ptr<FolderEncoder> MakeLzxEncoder(int windowBits, bool e8)
{
    LzxOptions options;
    options.windowBits = windowBits;
    options.e8 = e8;
    return std::make_unique<LzxEncoder>(options);
}

} // namespace cabwriter
