// The updater's resource module: string table, dialog templates 100 and 102, icon 128.
#pragma once

#include "platform/ui/Resources.h"
#include "res/resource.h"

namespace res {

const win::ui::ResourceModule& UpdaterResources();

}  // namespace res
