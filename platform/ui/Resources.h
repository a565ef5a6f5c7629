// Resources as data: string table, dialog templates and icons of the running program.
// The program installs its resource module once at start-up; the dialog framework finds
// templates, strings and icons in it by id. Texts are code page 936 bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace win::ui {

// One control of a dialog template; positions and sizes in dialog units.
struct DialogItem {
    std::uint16_t id;
    const char* windowClass;  // "STATIC" or "BUTTON"
    std::uint32_t style;
    std::int16_t x, y, cx, cy;
    const char* text;          // for an SS_ICON static: unused, see iconId
    std::uint16_t iconId = 0;  // icon resource shown by an SS_ICON static
};

struct DialogTemplate {
    std::uint16_t id;
    std::uint32_t style;
    std::uint32_t exStyle;
    std::int16_t x, y, cx, cy;
    const char* caption;
    const char* fontFace;
    std::uint16_t pointSize;
    std::span<const DialogItem> items;
};

// One image of an icon: width x height pixels, 0xAARRGGBB, rows from the top.
struct IconImage {
    int width;
    int height;
    int bitsPerPixel;
    std::span<const std::uint32_t> pixels;
};

struct IconResource {
    std::uint16_t id;
    std::span<const IconImage> images;
};

struct StringResource {
    std::uint16_t id;
    const char* text;
};

struct ResourceModule {
    std::span<const StringResource> strings;
    std::span<const DialogTemplate> dialogs;
    std::span<const IconResource> icons;
};

// Makes `module` the place where resources are looked up (null: none).
void AfxSetResourceModule(const ResourceModule* module);

// Null when the resource does not exist.
const DialogTemplate* FindDialogTemplate(int id);
const IconResource* FindIconResource(int id);

// The string-table entry `id` (code page 936), empty when there is none.
std::string AfxLoadString(unsigned id);

}  // namespace win::ui
