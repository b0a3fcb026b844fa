// An import component for a fuzz target, made by its creator as the class factory makes it and
// connected to the container root, whose diagnostics start empty.
#pragma once

#include <cstdlib>

#include "host/documents.h"

template <class Component>
CfxComPtr<ISBImporter> ConnectedImporter(host::ContainerRoot& root) {
    CCfxUnknown* created = nullptr;
    if (FAILED(Component::CreateInstance(&created))) std::abort();
    CfxComPtr<ISBImporter> importer;
    created->DelegatedQueryInterface(IID_ISBImporter, importer.OutVoid());
    created->DelegatedRelease();
    root.Connect(importer.Get());
    root.Diagnostics().Clear();
    return importer;
}
