// The undo/redo component: the host saves a whole document into a stream of its own with Export
// and restores it with Import, in the binary document stream (binary_format.h). It has no file
// extension; the host creates it by its ProgID.
#pragma once

#include "frame/clsids.h"
#include "frame/component_frame.h"

namespace cartovane {

inline constexpr char kBinaryImportPrefix[] = "Unable to process content";

class CBinaryImportExport final : public ImporterExporterFrame {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<CBinaryImportExport>(out); }

    // Restores the stream below the document's tree root (after what it holds); a failure
    // leaves the root without descendants. Every failure reads "Unable to process content - ...".
    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
    HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

}  // namespace cartovane
