// One host session: a container root with its diagnostics, documents, and the components
// that read and write them, found by file extension.
#pragma once

#include <string>
#include <vector>

#include "host/documents.h"

namespace cartovane::tool {

struct Outcome {
    HRESULT hr = S_OK;
    std::string error;  // description and message text of a failure; empty on success
};

class Session {
public:
    Session();

    // The document class a file of this extension opens into.
    static std::string DocumentProgIdFor(const std::string& path);
    // The component that reads or writes files of this extension; empty when none.
    static std::string ComponentProgIdFor(const std::string& path);

    // Imports path into a new document. The document is kept even when the import fails.
    Outcome Import(const std::string& path, host::Arguments& arguments, CfxComPtr<host::Model3dDocument>& document);
    Outcome Export(host::Model3dDocument& document, const std::string& path, host::Arguments& arguments);

    host::ContainerRoot& Root() { return *root_.Get(); }
    const std::vector<host::DiagnosticMessage>& Diagnostics() { return root_->Diagnostics().Messages(); }
    // Prints every posted message to standard error as it arrives.
    void EchoDiagnostics();

    // Set by the tool from the loaded library: the text of a message identifier.
    const char* (*messageText)(std::int32_t) = nullptr;

    // The description of the last error, with the text of its message identifier; empty when
    // the last error is no failure.
    std::string LastErrorText() const;

private:
    Outcome Failure(HRESULT hr) const;
    CfxComPtr<host::ContainerRoot> root_;
};

}  // namespace cartovane::tool
