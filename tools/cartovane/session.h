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

// Components and the document class named by the user instead of the ones file extensions
// give; empty: by extension.
struct Choice {
    std::string importer;  // ProgID of the component that reads the input
    std::string exporter;  // ProgID of the component that writes the output
    std::string document;  // ProgID of the new document when the input's extension gives none
};

class Session {
public:
    Session();

    // The document class a file of this extension opens into; fallback (else the atomistic
    // document) when the extension gives none.
    static std::string DocumentProgIdFor(const std::string& path, const std::string& fallback = {});
    // The component that reads or writes files of this extension; empty when none.
    static std::string ComponentProgIdFor(const std::string& path);

    // Imports path into a new document. The document is kept even when the import fails.
    Outcome Import(const std::string& path, host::Arguments& arguments, CfxComPtr<host::Model3dDocument>& document,
                   const Choice& choice = {});
    Outcome Export(host::Model3dDocument& document, const std::string& path, host::Arguments& arguments,
                   const Choice& choice = {});

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
