// Damaged cabinets and sets, byte by byte: the reader either extracts or fails with an error,
// never reads or writes outside its buffers, and leaves no memory or handle behind.
#include <random>

#include "fdi_harness.h"
#include "tools/cabwriter/writer.h"

namespace {

std::vector<cabwriter::Cabinet> MakeSet(const std::string& method) {
    cabwriter::Settings settings;
    settings.method = method;
    settings.maxCabinetSize = 24000;
    settings.dataReserve = 2;
    settings.name = "h.cab";
    cabwriter::Writer writer(settings);
    for (int i = 0; i < 6; ++i) {
        std::string content = Pattern(4000 * i, i);
        content += std::string(3000 * i, char('a' + i));
        writer.addFile("f" + std::to_string(i), std::vector<uint8_t>(content.begin(), content.end()));
    }
    return writer.finish();
}

TEST(FdiHostile, MutatedCabinetsFailCleanly) {
    for (const char* method : {"none", "mszip"}) {
        const auto set = MakeSet(method);
        ASSERT_GT(set.size(), 1u);
        std::mt19937 random(7);
        for (int round = 0; round < 150; ++round) {
            FdiRun run;
            const size_t victim = random() % set.size();
            for (size_t i = 0; i < set.size(); ++i) {
                std::vector<uint8_t> bytes = set[i].bytes;
                if (i == victim) {
                    // Header and lists are small: aim most changes at the first few hundred bytes.
                    for (int n = 1 + random() % 4; n > 0; --n) {
                        const size_t at = random() % 2 ? random() % std::min<size_t>(bytes.size(), 400)
                                                       : random() % bytes.size();
                        bytes[at] = random() % 3 == 0 ? 0xFF : static_cast<uint8_t>(random());
                    }
                    if (random() % 8 == 0) bytes.resize(random() % bytes.size());
                }
                memfs::Put("cab/" + set[i].name, bytes);
            }
            for (const auto& cab : set) {
                if (!run.Copy(cab.name)) {
                    EXPECT_NE(run.erf.erfOper, FDIERROR_NONE) << method << " " << round;
                }
            }
        }
    }
}

} // namespace
