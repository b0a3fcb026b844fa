#include "host/diagnostics.h"
#include "host/interfaces.h"

HRESULT CSBContainerRootConsumerImpl::OnConnect(ISBContainerRootConsumed* root) {
    if (!root) return E_POINTER;
    CfxComPtr<ISBContainerRoot> container;
    HRESULT hr = root->GetContainerRoot(container.Out());
    if (FAILED(hr)) return hr;
    return OnConnect(container.Get());
}

HRESULT CSBContainerRootConsumerImpl::OnDisconnect(ISBContainerRootConsumed* root) {
    if (!root) return E_POINTER;
    CfxComPtr<ISBContainerRoot> container;
    HRESULT hr = root->GetContainerRoot(container.Out());
    if (FAILED(hr)) return hr;
    return OnDisconnect(container.Get());
}

HRESULT CSBContainerRootConsumerImpl::OnConnect(ISBContainerRoot* root) {
    if (!root) return E_POINTER;
    root_ = CfxComPtr<ISBContainerRoot>(root);
    return S_OK;
}

HRESULT CSBContainerRootConsumerImpl::OnDisconnect(ISBContainerRoot* root) {
    if (root_ && root && root_.Get() != root) return E_INVALIDARG;
    root_.Reset();
    return S_OK;
}

ISBContainerRoot* CSBContainerRootConsumerImpl::ContainerRoot(bool required) const {
    if (!root_ && required) throw Cfx::CfxResult(E_UNEXPECTED, "No container root is connected");
    return root_.Get();
}

CfxComPtr<ISBDiagnosticsManager> CSBContainerRootConsumerImpl::ObtainDiagnosticsManager() const {
    CfxComPtr<ISBDiagnosticsManager> manager;
    HRESULT hr = ContainerRoot(true)->GetDiagnosticsManager(manager.Out());
    if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
    return manager;
}

CfxComPtr<ISBDocumentManager> CSBContainerRootConsumerImpl::ObtainDocumentManager() const {
    CfxComPtr<ISBDocumentManager> manager;
    HRESULT hr = ContainerRoot(true)->GetDocumentManager(manager.Out());
    if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
    return manager;
}

CfxComPtr<ISBScopeManager> CSBContainerRootConsumerImpl::ObtainScopeManager() const {
    CfxComPtr<ISBScopeManager> manager;
    HRESULT hr = ContainerRoot(true)->GetScopeManager(manager.Out());
    if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
    return manager;
}
