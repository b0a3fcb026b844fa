#include "utilities/insert_physical_system.h"

#include <memory>
#include <vector>

HRESULT InsertPhysicalSystemImport::DelegatedQueryInterface(REFIID iid, void** out) {
    IUnknown* part = nullptr;
    if (iid == IID_ISBImporter) part = static_cast<ISBImporter*>(this);
    else if (iid == IID_ISBContainerRootConsumer) part = static_cast<ISBContainerRootConsumer*>(this);
    else if (iid == IID_ISupportErrorInfo) part = static_cast<ISupportErrorInfo*>(this);
    if (!part) return CCfxUnknown::DelegatedQueryInterface(iid, out);
    if (!out) return E_POINTER;
    return FinishQI(part, out);
}

HRESULT InsertPhysicalSystemImport::InterfaceSupportsErrorInfo(REFIID iid) {
    return (iid == IID_ISBImporter || iid == IID_ISBContainerRootConsumer || iid == IID_ISupportErrorInfo) ? S_OK
                                                                                                            : S_FALSE;
}

HRESULT InsertPhysicalSystemImport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) {
    return Cfx::Guarded(reportingClass_, IID_ISBImporter, [&]() -> HRESULT {
        if (!root) throw Cfx::CfxResult(E_INVALIDARG, "No document to insert into");
        xxTreeRoot& target = host::TreeRootOf(root);

        // A scratch document of the target's own class.
        CfxBSTR progId;
        HRESULT hr = root->GetProgID(progId.Out());
        if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        CfxComPtr<ISBDocumentRoot> scratch;
        Cfx::CfxCreateImpl(progId.ToString(), nullptr, CLSCTX_INPROC_SERVER, IID_ISBDocumentRoot, scratch.OutVoid(), true);
        // Named after the target, so that what the reader says names the document the user sees.
        if (CfxComPtr<ISBDocumentInfo> info = host::GetDocumentInfo(root)) {
            CfxBSTR name;
            if (SUCCEEDED(info->GetName(name.Out())))
                if (host::Model3dDocument* document = dynamic_cast<host::Model3dDocument*>(scratch.Get()))
                    document->SetName(name.ToString());
        }

        CfxComPtr<ISBImporter> importer;
        Cfx::CfxCreateImpl(GetImporterProgID(), nullptr, CLSCTX_INPROC_SERVER, IID_ISBImporter, importer.OutVoid(), true);
        if (HasContainerRoot()) {
            CfxComPtr<ISBContainerRootConsumer> consumer;
            if (SUCCEEDED(importer->QueryInterface(IID_ISBContainerRootConsumer, consumer.OutVoid()))) {
                CfxComPtr<ISBContainerRootConsumed> consumed;
                if (SUCCEEDED(ContainerRoot(true)->QueryInterface(IID_ISBContainerRootConsumed, consumed.OutVoid())))
                    consumer->OnConnect(consumed.Get());
            }
        }
        hr = importer->Import(stream, scratch.Get(), args);
        if (FAILED(hr)) return hr;

        // Move what was read, in its order, below the target's root: all of it out first, then
        // all of it in. Moving one object at a time would leave a bond between a moved and an
        // unmoved atom spanning two trees for a moment, and such a bond cannot stand.
        xxTreeRoot& source = host::TreeRootOf(scratch.Get());
        std::vector<std::unique_ptr<xxObject>> content;
        content.reserve(source.NumChildren());
        while (source.NumChildren() > 0)
            content.push_back(source.DetachChild(source.GetChild(source.NumChildren() - 1)));
        for (auto it = content.rbegin(); it != content.rend(); ++it) target.AdoptChild(std::move(*it));
        return hr;
    });
}
