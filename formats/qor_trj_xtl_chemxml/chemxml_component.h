// The ChemistryXML component (import and export) and the ChemistryXML insertion component.
#pragma once

#include <string>

#include "frame/component_frame.h"
#include "utilities/insert_physical_system.h"

namespace cartovane {

class ChemistryXMLImportExport final : public ImporterExporterFrame {
public:
    // Checks its out slot: null gives E_POINTER "Invalid pointer passed to CreateInstance()".
    static HRESULT CreateInstance(CCfxUnknown** out) {
        return CreateChecked<kInvalidCreatePointer>(out, [](CCfxUnknown** slot) {
            return CreateOnHeap<ChemistryXMLImportExport>(slot);
        });
    }

    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
    HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

class ChemistryXMLToXODImport final : public InsertPhysicalSystemImport {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<ChemistryXMLToXODImport>(out); }
    ChemistryXMLToXODImport();
    std::string GetImporterProgID() const override { return "SDCartovane.ChemistryXMLImportExport"; }
};

}  // namespace cartovane
