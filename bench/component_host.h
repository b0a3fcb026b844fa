// The library's components in a benchmark's process, registered as the host's registration
// does, and imports and exports through them by ProgID over host file streams, as the tool runs
// them.
#pragma once

#include <string>

#include "cfx/cfx.h"
#include "host/documents.h"

namespace cvbench {

class ComponentHost {
public:
    ComponentHost();

    // A new atomistic document whose file is path.
    CfxComPtr<host::Model3dDocument> NewDocument(const std::string& path) const;
    // False when the component cannot be made or connected, the file cannot be opened, or the
    // import or export fails.
    bool Import(const char* progId, const std::string& input, host::Model3dDocument& document,
                const CfxVariant& args = CfxVariant()) const;
    bool Export(const char* progId, host::Model3dDocument& document, const std::string& output,
                const CfxVariant& args = CfxVariant()) const;
    // The same over a stream the caller made (a memory stream, say).
    bool Import(const char* progId, ISBStream* stream, host::Model3dDocument& document,
                const CfxVariant& args = CfxVariant()) const;
    bool Export(const char* progId, host::Model3dDocument& document, ISBStream* stream,
                const CfxVariant& args = CfxVariant()) const;

private:
    CfxComPtr<host::ContainerRoot> root_;
    bool registered_ = false;
};

// One host for the whole program.
const ComponentHost& TheHost();

}  // namespace cvbench
