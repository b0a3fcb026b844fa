#include "bench/component_host.h"

#include "cfx/ccfx.h"
#include "host/streams.h"
#include "library/component_table.h"

namespace cvbench {

ComponentHost::ComponentHost() : root_(host::ContainerRoot::Create()) {
    host::RegisterHostClasses();
    CCfxFactoryData::EnableFactoryComponents(nullptr, cartovane::ComponentFactoryTable, cartovane::kComponentCount);
    registered_ = SUCCEEDED(CCfxFactoryData::RegisterAll());
}

CfxComPtr<host::Model3dDocument> ComponentHost::NewDocument(const std::string& path) const {
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    document->SetContainerRoot(root_.Get());
    document->SetURL(path);
    return document;
}

bool ComponentHost::Import(const char* progId, const std::string& input, host::Model3dDocument& document,
                           const CfxVariant& args) const {
    CfxComPtr<ISBImporter> importer;
    CfxComPtr<ISBStream> stream;
    if (!registered_ ||
        FAILED(Cfx::CfxCreateImpl(progId, nullptr, CLSCTX_INPROC_SERVER, IID_ISBImporter, importer.OutVoid(), false)) ||
        FAILED(root_->Connect(importer.Get())) || FAILED(host::CreateFileStream(input, host::FileMode::Read, stream.Out())))
        return false;
    return SUCCEEDED(importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(&document), args.Get()));
}

bool ComponentHost::Export(const char* progId, host::Model3dDocument& document, const std::string& output,
                           const CfxVariant& args) const {
    CfxComPtr<ISBExporter> exporter;
    CfxComPtr<ISBStream> stream;
    if (!registered_ ||
        FAILED(Cfx::CfxCreateImpl(progId, nullptr, CLSCTX_INPROC_SERVER, IID_ISBExporter, exporter.OutVoid(), false)) ||
        FAILED(root_->Connect(exporter.Get())) ||
        FAILED(host::CreateFileStream(output, host::FileMode::Write, stream.Out())))
        return false;
    // As the tool does: a complete export replaces the file.
    return SUCCEEDED(exporter->Export(stream.Get(), static_cast<ISBDocumentRoot*>(&document), args.Get())) &&
           SUCCEEDED(host::CommitFileStream(stream.Get()));
}

const ComponentHost& TheHost() {
    static const ComponentHost host;
    return host;
}

}  // namespace cvbench
