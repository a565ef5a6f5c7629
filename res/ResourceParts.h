// The pieces that make up the updater's resource module, one file each.
#pragma once

#include <span>

#include "platform/ui/Resources.h"

namespace res {

std::span<const win::ui::StringResource> StringTable();
std::span<const win::ui::DialogTemplate> DialogTemplates();
std::span<const win::ui::IconResource> Icons();

}  // namespace res
