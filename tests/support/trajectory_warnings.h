// The warnings a trajectory import posted because its trajectory cannot be played.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "host/documents.h"

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

}  // namespace cvtest
