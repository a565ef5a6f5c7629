// Quantum encoder: greedy LZ77 parsing with hash chains, then arithmetic coding of every item
// with the same adaptive models as the decoder. Each data block is one frame whose coder
// starts afresh; models and window carry on across frames.
#include "tools/cabwriter/quantum_encoder.h"

#include <algorithm>
#include <bit>
#include <deque>

#include "cab/decoders/quantum_model.h"

namespace cabwriter {
namespace {

constexpr uint32_t kFrameSize = 32768;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 259;
constexpr uint32_t kMaxOffsetLength3 = 4096;
constexpr uint32_t kMaxOffsetLength4 = 262144;
constexpr int kHashBits = 16;
constexpr int kMaxChain = 48;

int PositionSlot(uint32_t value)
{
    if (value < 4)
        return static_cast<int>(value);
    const int top = std::bit_width(value) - 1;
    return 2 * top + static_cast<int>((value >> (top - 1)) & 1);
}

int LengthSlot(uint32_t value)
{
    int slot = quantum::kLengthSlots - 1;
    while (quantum::kSlots.lengthBase[slot] > value)
        --slot;
    return slot;
}

// One frame's bit stream. The decoder reads a raw group when its code register has taken
// 16 bits beyond the coder's shifts so far, while this coder may still hold those bits as
// pending or in its registers; so raw groups wait in a queue until the coder has emitted
// the bits that precede them.
class FrameCoder {
public:
    void encode(quantum::Model& m, int symbol)
    {
        int i = 0;
        while (m.symbol[i] != symbol)
            ++i;
        const uint32_t total = m.cumFreq[0];
        const uint32_t range = high_ - low_ + 1;
        const uint32_t upper = m.cumFreq[i], lower = m.cumFreq[i + 1];
        high_ = (low_ + upper * range / total - 1) & 0xFFFF;
        low_ = (low_ + lower * range / total) & 0xFFFF;
        for (;;) {
            if (((low_ ^ high_) & 0x8000) == 0) {
                const uint32_t bit = high_ >> 15;
                coderBit(bit);
                for (; pending_ > 0; --pending_)
                    coderBit(bit ^ 1);
            } else if ((low_ & 0x4000) && !(high_ & 0x4000)) {
                ++pending_;
                low_ &= 0x3FFF;
                high_ |= 0x4000;
            } else {
                break;
            }
            low_ = (low_ << 1) & 0xFFFF;
            high_ = ((high_ << 1) | 1) & 0xFFFF;
            ++shifts_;
        }
        quantum::RaiseFrequency(m, lower);
        quantum::LimitModel(m);
    }

    void raw(uint32_t value, int bits)
    {
        if (bits > 0)
            raw_.push_back({shifts_ + 16, value, bits});
    }

    // Settles the interval so that the decoder's final code lies inside it, and supplies
    // every bit the decoder's code register takes after the last symbol.
    std::vector<uint8_t> finish()
    {
        ++pending_;
        const uint32_t bit = (low_ & 0x4000) ? 1 : 0;
        coderBit(bit);
        for (; pending_ > 0; --pending_)
            coderBit(bit ^ 1);
        while (coderBits_ < shifts_ + 16)
            coderBit(0);
        flushRaw();
        if (accBits_ > 0)
            out_.push_back(static_cast<uint8_t>(acc_ << (8 - accBits_)));
        return std::move(out_);
    }

private:
    struct RawGroup {
        uint64_t position; // coder bits that precede the group
        uint32_t value;
        int bits;
    };

    void flushRaw()
    {
        while (!raw_.empty() && raw_.front().position == coderBits_) {
            put(raw_.front().value, raw_.front().bits);
            raw_.pop_front();
        }
    }

    void coderBit(uint32_t bit)
    {
        flushRaw();
        put(bit, 1);
        ++coderBits_;
    }

    void put(uint32_t value, int bits)
    {
        while (bits-- > 0) {
            acc_ = (acc_ << 1) | ((value >> bits) & 1);
            if (++accBits_ == 8) {
                out_.push_back(static_cast<uint8_t>(acc_));
                acc_ = 0;
                accBits_ = 0;
            }
        }
    }

    uint32_t low_ = 0;
    uint32_t high_ = 0xFFFF;
    uint32_t pending_ = 0;
    uint64_t shifts_ = 0;
    uint64_t coderBits_ = 0;
    std::deque<RawGroup> raw_;
    std::vector<uint8_t> out_;
    uint32_t acc_ = 0;
    int accBits_ = 0;
};

// Hash chains over the folder's bytes; candidates further back than the window are dropped.
class MatchFinder {
public:
    MatchFinder(const uint8_t* data, size_t size, uint32_t windowSize)
        : data_(data), size_(size), windowSize_(windowSize), head_(size_t{1} << kHashBits, -1),
          prev_(std::min<size_t>(windowSize, size), -1)
    {
    }

    void insert(size_t pos)
    {
        if (pos + kMinMatch > size_)
            return;
        int64_t& h = head_[hash(pos)];
        prev_[pos % prev_.size()] = h;
        h = static_cast<int64_t>(pos);
    }

    struct Match {
        uint32_t length = 0;
        uint32_t offset = 0;
    };

    // The longest match of at most maxLength bytes that some match kind can code.
    Match find(size_t pos, uint32_t maxLength) const
    {
        Match best;
        if (maxLength < kMinMatch || pos + kMinMatch > size_)
            return best;
        const uint8_t* here = data_ + pos;
        int64_t cand = head_[hash(pos)];
        for (int chain = kMaxChain; cand >= 0 && chain > 0; --chain) {
            const uint32_t offset = static_cast<uint32_t>(pos - cand);
            if (offset > windowSize_)
                break;
            const uint8_t* there = data_ + cand;
            if (there[best.length] == here[best.length] || best.length == 0) {
                uint32_t len = 0;
                while (len < maxLength && there[len] == here[len])
                    ++len;
                const bool codable = len >= 5 || (len == 4 && offset <= kMaxOffsetLength4) ||
                                     (len == 3 && offset <= kMaxOffsetLength3);
                if (codable && len > best.length) {
                    best = {len, offset};
                    if (len == maxLength)
                        break;
                }
            }
            const int64_t next = prev_[cand % prev_.size()];
            if (next >= cand)
                break;
            cand = next;
        }
        return best;
    }

private:
    size_t hash(size_t pos) const
    {
        const uint32_t v = data_[pos] | data_[pos + 1] << 8 | data_[pos + 2] << 16;
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    const uint8_t* data_;
    size_t size_;
    uint32_t windowSize_;
    std::vector<int64_t> head_;
    std::vector<int64_t> prev_;
};

class QuantumEncoder final : public FolderEncoder {
public:
    explicit QuantumEncoder(int windowBits) : windowBits_(windowBits) {}

    uint16_t typeCompress() const override { return static_cast<uint16_t>(2 | windowBits_ << 8); }

    std::vector<EncodedBlock> encodeFolder(const uint8_t* data, size_t size) override
    {
        quantum::InitModels(models_, windowBits_);
        MatchFinder finder(data, size, 1u << windowBits_);
        std::vector<EncodedBlock> blocks;
        for (size_t start = 0; start < size; start += kFrameSize) {
            const size_t end = std::min<size_t>(start + kFrameSize, size);
            FrameCoder coder;
            size_t pos = start;
            while (pos < end) {
                const uint32_t room = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, end - pos));
                const MatchFinder::Match m = finder.find(pos, room);
                if (m.length == 0) {
                    const uint8_t byte = data[pos];
                    coder.encode(models_.selector, byte >> 6);
                    coder.encode(models_.literal[byte >> 6], byte & 63);
                    finder.insert(pos++);
                    continue;
                }
                encodeMatch(coder, m.length, m.offset);
                for (uint32_t k = 0; k < m.length; ++k)
                    finder.insert(pos++);
            }
            blocks.push_back({coder.finish(), static_cast<uint32_t>(end - start)});
        }
        return blocks;
    }

private:
    void encodeMatch(FrameCoder& coder, uint32_t length, uint32_t offset)
    {
        quantum::Model* positions = &models_.positionLong;
        if (length == 3) {
            coder.encode(models_.selector, 4);
            positions = &models_.position3;
        } else if (length == 4) {
            coder.encode(models_.selector, 5);
            positions = &models_.position4;
        } else {
            coder.encode(models_.selector, 6);
            const int slot = LengthSlot(length - 5);
            coder.encode(models_.length, slot);
            coder.raw(length - 5 - quantum::kSlots.lengthBase[slot], quantum::kSlots.lengthExtra[slot]);
        }
        const int slot = PositionSlot(offset - 1);
        coder.encode(*positions, slot);
        coder.raw(offset - 1 - quantum::kSlots.positionBase[slot], quantum::kSlots.positionExtra[slot]);
    }

    int windowBits_;
    quantum::Models models_;
};

} // namespace

std::unique_ptr<FolderEncoder> MakeQuantumEncoder(int windowBits)
{
    return std::make_unique<QuantumEncoder>(windowBits);
}

} // namespace cabwriter
