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
    CfxComPtr<ISBStream> stream;
    if (FAILED(host::CreateFileStream(input, host::FileMode::Read, stream.Out()))) return false;
    return Import(progId, stream.Get(), document, args);
}

bool ComponentHost::Export(const char* progId, host::Model3dDocument& document, const std::string& output,
                           const CfxVariant& args) const {
    CfxComPtr<ISBStream> stream;
    if (FAILED(host::CreateFileStream(output, host::FileMode::Write, stream.Out()))) return false;
    return Export(progId, document, stream.Get(), args);
}

bool ComponentHost::Import(const char* progId, ISBStream* stream, host::Model3dDocument& document,
                           const CfxVariant& args) const {
    CfxComPtr<ISBImporter> importer;
    if (!registered_ ||
        FAILED(Cfx::CfxCreateImpl(progId, nullptr, CLSCTX_INPROC_SERVER, IID_ISBImporter, importer.OutVoid(), false)) ||
        FAILED(root_->Connect(importer.Get())))
        return false;
    return SUCCEEDED(importer->Import(stream, static_cast<ISBDocumentRoot*>(&document), args.Get()));
}

bool ComponentHost::Export(const char* progId, host::Model3dDocument& document, ISBStream* stream,
                           const CfxVariant& args) const {
    CfxComPtr<ISBExporter> exporter;
    if (!registered_ ||
        FAILED(Cfx::CfxCreateImpl(progId, nullptr, CLSCTX_INPROC_SERVER, IID_ISBExporter, exporter.OutVoid(), false)) ||
        FAILED(root_->Connect(exporter.Get())))
        return false;
    // As the tool does: a complete export replaces the file (a memory stream has nothing to commit).
    return SUCCEEDED(exporter->Export(stream, static_cast<ISBDocumentRoot*>(&document), args.Get())) &&
           SUCCEEDED(host::CommitFileStream(stream));
}

const ComponentHost& TheHost() {
    static const ComponentHost host;
    return host;
}

}  // namespace cvbench
