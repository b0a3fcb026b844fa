// The ARC trajectory component: imports the model of an ARC file (from the CAR file beside it,
// or from the ARC file's first frame) and gives the document a trajectory that plays its frames.
#pragma once

#include "frame/component_frame.h"

namespace cartovane {

class CARCImportExport final : public ImportOnlyFrame {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<CARCImportExport>(out); }

    // The arguments are not read. A trajectory that cannot be played leaves the model imported
    // and is reported on the "ARC file importer" connection.
    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

}  // namespace cartovane
