// The HIS trajectory component: imports the model of a HIS file from the CAR file beside it and
// gives the document a trajectory that plays the file's frames.
#pragma once

#include "frame/component_frame.h"

namespace cartovane {

class CMHistImportExport final : public ImportOnlyFrame {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<CMHistImportExport>(out); }

    // The arguments are not read. The model comes from the file's path with its last three
    // characters replaced by "car" (or the one file there whose name differs from that only in
    // case). A trajectory that cannot be played leaves the model imported and is reported on
    // the "HIS file importer" connection.
    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
};

}  // namespace cartovane
