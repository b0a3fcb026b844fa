// Finding a diagnostics connection through the container root.
#pragma once

#include <string_view>

#include "host/diagnostics.h"

namespace DiagnosticsUtilities {

// The connection of that name from the root's diagnostics manager. Throws Cfx::CfxResult
// E_POINTER without a root and the manager's failure otherwise.
CfxComPtr<ISBDiagnosticsConnection> GetDiagnosticsConnection(ISBContainerRoot* root, std::string_view name);

}  // namespace DiagnosticsUtilities
