// Icon 128: a blue disc with a white downward arrow (an update arriving), drawn at compile
// time in 32 x 32 and 16 x 16 pixels, 32 bits per pixel with alpha.
#include <array>
#include <cstdint>

#include "res/ResourceParts.h"
#include "res/resource.h"

namespace res {

namespace {

// Colour of the pixel (x, y) of a size x size image. Coordinates are scaled to 0..64 at the
// pixel centres so that both sizes show the same drawing.
constexpr std::uint32_t IconPixel(int size, int x, int y)
{
    const int u = (2 * x + 1) * 32 / size;
    const int v = (2 * y + 1) * 32 / size;
    const int du = u - 32;
    const int dv = v - 32;
    const int r2 = du * du + dv * dv;
    if (r2 > 30 * 30)
        return 0x00000000;  // transparent outside the disc
    const int adu = du < 0 ? -du : du;
    const bool shaft = adu <= 5 && v >= 13 && v <= 36;
    const bool head = v >= 34 && v <= 52 && adu <= 52 - v;
    if (shaft || head)
        return 0xFFFFFFFF;
    if (r2 > 27 * 27)
        return 0xFF0B3D91;  // dark rim
    const std::uint32_t blue = 0xE0 - std::uint32_t(v) * 2;  // lighter at the top
    return 0xFF000000u | (0x20u << 16) | ((blue / 2 + 0x30) << 8) | blue;
}

template <int Size>
constexpr std::array<std::uint32_t, Size * Size> DrawIcon()
{
    std::array<std::uint32_t, Size * Size> pixels{};
    for (int y = 0; y < Size; ++y)
        for (int x = 0; x < Size; ++x)
            pixels[y * Size + x] = IconPixel(Size, x, y);
    return pixels;
}

constexpr auto kLarge = DrawIcon<32>();
constexpr auto kSmall = DrawIcon<16>();

constexpr win::ui::IconImage kImages[] = {
    {32, 32, 32, kLarge},
    {16, 16, 32, kSmall},
};

constexpr win::ui::IconResource kIcons[] = {
    {IDR_MAINFRAME, kImages},
};

}  // namespace

std::span<const win::ui::IconResource> Icons()
{
    return kIcons;
}

}  // namespace res
