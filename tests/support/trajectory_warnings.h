// Trajectory imports as the host runs them, and the warnings they post when their trajectory
// cannot be played.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "host/documents.h"
#include "host/streams.h"
#include "support/library_components.h"

namespace cvtest {

inline constexpr char kCannotPlay[] = " cannot be played; only the model was imported.";

// Every message posted must come from source; those that say the trajectory cannot be played
// are warnings (severity 2) and are returned.
inline std::vector<std::string> PlayWarnings(host::ContainerRoot& root, std::string_view source) {
    std::vector<std::string> out;
    for (const host::DiagnosticMessage& m : root.Diagnostics().Messages()) {
        EXPECT_EQ(m.source, source);
        if (m.text.find(kCannotPlay) != std::string::npos) {
            EXPECT_EQ(m.severity, SB_DIAG_WARNING);
            out.push_back(m.text);
        }
    }
    return out;
}

// Imports the file at path through the component progId, connected to root, into a new document
// of documentClass whose file it is, as the host opens a file.
inline HRESULT ImportAsTheHostOpens(const char* progId, host::ContainerRoot& root, const std::string& path,
                                    CfxComPtr<host::Model3dDocument>& document,
                                    const char* documentClass = kAtomistic3dDocumentProgID) {
    document = host::Model3dDocument::Create(documentClass);
    document->SetURL(path);
    CfxComPtr<ISBStream> stream;
    EXPECT_EQ(host::CreateFileStream(path, host::FileMode::Read, stream.Out()), S_OK);
    return CreateConnected<ISBImporter>(progId, root)
        ->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), VARIANT{});
}

}  // namespace cvtest
