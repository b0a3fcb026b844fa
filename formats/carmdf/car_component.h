// The CAR/MDF component and the CAR insertion component.
#pragma once

#include <string>

#include "frame/component_frame.h"
#include "utilities/insert_physical_system.h"

namespace cartovane {

class CCARImportExport final : public ConnectedImporterExporterFrame {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<CCARImportExport>(out); }

    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
    HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

class CARToXODImport final : public InsertPhysicalSystemImport {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<CARToXODImport>(out); }
    CARToXODImport();
    std::string GetImporterProgID() const override { return "SDCartovane.CARImportExport"; }
};

}  // namespace cartovane
