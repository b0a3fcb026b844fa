// The XTL crystal component (import only) and the XTL insertion component.
#pragma once

#include <string>

#include "frame/component_frame.h"
#include "utilities/insert_physical_system.h"

namespace cartovane {

class CXTLImportExport final : public ImportOnlyFrame {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<CXTLImportExport>(out); }

    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

class XTLToXODImport final : public InsertPhysicalSystemImport {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<XTLToXODImport>(out); }
    XTLToXODImport();
    std::string GetImporterProgID() const override { return "SDCartovane.XTLImportExport"; }
};

}  // namespace cartovane
