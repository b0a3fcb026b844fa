// The library's components registered in the test process, as a host's registration would.
#pragma once

#include "cfx/ccfx.h"
#include "frame/component_table.h"
#include "host/documents.h"

namespace cvtest {

// Hands the component table to the framework and registers it, once per process; registers
// the host's document classes too.
inline void RegisterLibraryComponents() {
    host::RegisterHostClasses();
    static const bool registered = [] {
        CCfxFactoryData::EnableFactoryComponents(nullptr, cartovane::ComponentFactoryTable, cartovane::kComponentCount);
        return SUCCEEDED(CCfxFactoryData::RegisterAll());
    }();
    (void)registered;
}

}  // namespace cvtest
