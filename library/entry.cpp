#include "library/entry.h"

#include "cfx/ccfx.h"
#include "frame/messages.h"
#include "library/component_table.h"

namespace {
bool enabled = false;

void EnableOnce() {
    if (enabled) return;
    enabled = true;
    CCfxFactoryData::EnableFactoryComponents(nullptr, cartovane::ComponentFactoryTable,
                                             cartovane::kComponentCount);
}
}  // namespace

BOOL DllMain(void* module, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        enabled = true;
        CCfxFactoryData::EnableFactoryComponents(module, cartovane::ComponentFactoryTable,
                                                 cartovane::kComponentCount);
    }
    return TRUE;
}

HRESULT DllCanUnloadNow() {
    EnableOnce();
    return CCfxFactoryData::CanUnloadNow();
}

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    EnableOnce();
    return CCfxFactoryData::GetClassObject(clsid, iid, out);
}

HRESULT DllRegisterServer() {
    EnableOnce();
    return CCfxFactoryData::RegisterAll();
}

HRESULT DllUnregisterServer() {
    EnableOnce();
    return CCfxFactoryData::UnregisterAll();
}

const char* ID2MessageString(std::int32_t id) { return cartovane::MessageText(id); }
