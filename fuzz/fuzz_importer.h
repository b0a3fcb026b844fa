// A component (an importer, by default) for a fuzz target, made by its creator as the class factory makes it and
// connected to the container root, whose diagnostics start empty.
#pragma once

#include <cstdlib>

#include "host/documents.h"

// The fuzz target's container root, with the host's classes registered.
inline host::ContainerRoot& FuzzContainerRoot() {
    static CfxComPtr<host::ContainerRoot> root = [] {
        host::RegisterHostClasses();
        return host::ContainerRoot::Create();
    }();
    return *root.Get();
}

template <class Component, class Interface>
CfxComPtr<Interface> ConnectedComponent(host::ContainerRoot& root, REFIID iid) {
    CCfxUnknown* created = nullptr;
    if (FAILED(Component::CreateInstance(&created))) std::abort();
    CfxComPtr<Interface> component;
    created->DelegatedQueryInterface(iid, component.OutVoid());
    created->DelegatedRelease();
    if (!component) std::abort();
    root.Connect(component.Get());
    root.Diagnostics().Clear();
    return component;
}

template <class Component>
CfxComPtr<ISBImporter> ConnectedImporter(host::ContainerRoot& root) {
    return ConnectedComponent<Component, ISBImporter>(root, IID_ISBImporter);
}
