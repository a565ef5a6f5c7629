#include "platform/ui/Resources.h"

namespace win::ui {

namespace {
const ResourceModule* g_pModule = nullptr;

template <class Range>
auto FindById(const Range& range, int id) -> decltype(&*range.begin())
{
    for (const auto& entry : range)
        if (entry.id == id)
            return &entry;
    return nullptr;
}
}  // namespace

void AfxSetResourceModule(const ResourceModule* module)
{
    g_pModule = module;
}

const DialogTemplate* FindDialogTemplate(int id)
{
    return g_pModule ? FindById(g_pModule->dialogs, id) : nullptr;
}

const IconResource* FindIconResource(int id)
{
    return g_pModule ? FindById(g_pModule->icons, id) : nullptr;
}

std::string AfxLoadString(unsigned id)
{
    const StringResource* entry = g_pModule ? FindById(g_pModule->strings, int(id)) : nullptr;
    return entry ? std::string(entry->text) : std::string();
}

}  // namespace win::ui
