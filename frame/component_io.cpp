#include "frame/component_io.h"

#include "utilities/diagnostics_utilities.h"

namespace cartovane {

void ThrowHostFailure(HRESULT hr) {
    if (Cfx::GetLastError().hr == hr) Cfx::CfxResult::LastError();
    throw Cfx::CfxResult::WithStandardDescription(hr);
}

HRESULT FilePathOf(ISBStream* stream, std::string& path, const Cfx::CfxResult& noPath) {
    Cfx::CheckNullDereference(stream);
    CfxComPtr<ISBFileStream> file;
    HRESULT hr = stream->QueryInterface(IID_ISBFileStream, file.OutVoid());
    if (FAILED(hr)) return hr;
    CfxBSTR text;
    if (FAILED(file->GetFilePath(text.Out()))) throw noPath;
    path = text.ToString();
    return S_OK;
}

HRESULT FilePathOf(ISBStream* stream, std::string& path) {
    return FilePathOf(stream, path, Cfx::CfxResult(E_UNEXPECTED, "Failed to obtain the stream name"));
}

CfxComPtr<ISBDiagnosticsConnection> DiagnosticsFor(const CSBContainerRootConsumerImpl& component,
                                                    std::string_view name, DiagnosticsNeed need) {
    if (need == DiagnosticsNeed::Required)
        return DiagnosticsUtilities::GetDiagnosticsConnection(component.ContainerRoot(true), name);
    CfxComPtr<ISBDiagnosticsConnection> connection;
    if (!component.HasContainerRoot()) return connection;
    // Without the connection only the warnings go unposted.
    CfxComPtr<ISBDiagnosticsManager> manager = component.ObtainDiagnosticsManager();
    CfxBSTR text(name);
    if (FAILED(manager->GetConnection(text.Get(), connection.Out()))) connection.Reset();
    return connection;
}

}  // namespace cartovane
