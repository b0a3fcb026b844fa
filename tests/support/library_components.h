// The library's components registered in the test process, as a host's registration would.
#pragma once

#include <gtest/gtest.h>

#include "cfx/ccfx.h"
#include "library/component_table.h"
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

// A component created by ProgID through the registry and connected to the container root.
template <class Interface, class Root>
CfxComPtr<Interface> CreateConnected(const char* progId, Root& root) {
    CfxComPtr<Interface> component;
    EXPECT_EQ(Cfx::CfxCreateImpl(progId, nullptr, CLSCTX_INPROC_SERVER, InterfaceId<Interface>::value,
                                 component.OutVoid(), false),
              S_OK);
    root.Connect(component.Get());
    return component;
}

}  // namespace cvtest
