// The QOR component and the QOR insertion component.
#pragma once

#include <string>

#include "frame/component_frame.h"
#include "utilities/insert_physical_system.h"

namespace cartovane {

class CQORImportExport final : public ImporterExporterFrame {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<CQORImportExport>(out); }

    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
    HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

class QORToXODImport final : public InsertPhysicalSystemImport {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<QORToXODImport>(out); }
    QORToXODImport();
    std::string GetImporterProgID() const override { return "SDCartovane.QORImportExport"; }
};

}  // namespace cartovane
