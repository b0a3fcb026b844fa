#include "host/diagnostics.h"

namespace host {

namespace {
class Connection final : public com::ComObject<ISBDiagnosticsConnection> {
public:
    Connection(CfxComPtr<DiagnosticsManager> manager, std::string source)
        : manager_(std::move(manager)), source_(std::move(source)) {}
    HRESULT PostMessage(LONG severity, BSTR text) override {
        return Cfx::Guarded(GUID_NULL, IID_ISBDiagnosticsConnection, [&]() -> HRESULT {
            manager_->Post({source_, severity, com::BstrToUtf8(text)});
            return S_OK;
        });
    }
    HRESULT GetSource(BSTR* source) override {
        if (!source) return E_POINTER;
        *source = com::AllocBstrFromUtf8(source_);
        return S_OK;
    }

private:
    CfxComPtr<DiagnosticsManager> manager_;
    std::string source_;
};
}  // namespace

CfxComPtr<DiagnosticsManager> DiagnosticsManager::Create() {
    return CfxComPtr<DiagnosticsManager>::Adopt(new DiagnosticsManager());
}

HRESULT DiagnosticsManager::GetConnection(BSTR source, ISBDiagnosticsConnection** connection) {
    if (!connection) return E_POINTER;
    *connection = nullptr;
    return Cfx::Guarded(GUID_NULL, IID_ISBDiagnosticsManager, [&]() -> HRESULT {
        *connection = new Connection(CfxComPtr<DiagnosticsManager>(this), com::BstrToUtf8(source));
        return S_OK;
    });
}

void DiagnosticsManager::Post(DiagnosticMessage message) {
    messages_.push_back(std::move(message));
    if (listener_) listener_(messages_.back());
}

}  // namespace host
