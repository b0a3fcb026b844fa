// The TRJ trajectory component: imports the model of a TRJ file from the QOR file beside it and
// gives the document a trajectory that plays the file's frames.
#pragma once

#include "frame/component_frame.h"

namespace cartovane {

class CTRJImportExport final : public ImportOnlyFrame {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<CTRJImportExport>(out); }

    // The arguments are not read. The model comes from the file's path with its last three
    // characters replaced by "qor" (or the one file there whose name differs from that only in
    // case), read by the QOR reader; what it built stays when it fails. A trajectory that cannot
    // be played leaves the model imported and is reported on the "TRJ file importer" connection.
    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

}  // namespace cartovane
