// The components that read and write process-wide data of the data model in the XML document
// layout instead of a document: the periodic table (row 12) and the bead types (row 13). The
// document root and the arguments are never read.
#pragma once

#include "frame/clsids.h"
#include "frame/component_frame.h"

namespace cartovane {

inline constexpr char kPeriodicTableParsePrefix[] = "Unable to parse periodic table data as valid XML";

class PeriodicTableImportExport final : public ImporterExporterFrame {
public:
    // No ladder of its own: a null slot is E_POINTER.
    static HRESULT CreateInstance(CCfxUnknown** out) {
        if (!out) return E_POINTER;
        return CreateOnHeap<PeriodicTableImportExport>(out);
    }

    // Merges the elements the data lists into the process's table (a failure changes nothing);
    // a parse failure reads "Unable to parse periodic table data as valid XML - ...".
    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
    // The table as a document whose element is "PTData".
    HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

class BeadTypesImportExport final : public ImporterExporterFrame {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) {
        return CreateChecked<kNoPointerSupplied>(out, [](CCfxUnknown** slot) { return CreateOnHeap<BeadTypesImportExport>(slot); });
    }

    // The import's list replaces the manager's; a failed import leaves it as it was, and data
    // whose object is not a "BeadTypeManager" is refused.
    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
    // The manager as a document whose element is "BeadTypeData".
    HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

}  // namespace cartovane
