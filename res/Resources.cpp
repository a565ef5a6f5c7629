#include "res/Resources.h"

#include "res/ResourceParts.h"

namespace res {

const win::ui::ResourceModule& UpdaterResources()
{
    static const win::ui::ResourceModule module{StringTable(), DialogTemplates(), Icons()};
    return module;
}

}  // namespace res
