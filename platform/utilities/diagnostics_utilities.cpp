#include "utilities/diagnostics_utilities.h"

namespace DiagnosticsUtilities {

CfxComPtr<ISBDiagnosticsConnection> GetDiagnosticsConnection(ISBContainerRoot* root, std::string_view name) {
    Cfx::CheckNullDereference(root);
    CfxComPtr<ISBDiagnosticsManager> manager;
    HRESULT hr = root->GetDiagnosticsManager(manager.Out());
    if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
    CfxComPtr<ISBDiagnosticsConnection> connection;
    CfxBSTR text(name);
    hr = manager->GetConnection(text.Get(), connection.Out());
    if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
    return connection;
}

}  // namespace DiagnosticsUtilities
