#include "tools/cartovane/session.h"

#include <algorithm>
#include <cstdio>

#include "base/text.h"
#include "host/streams.h"
#include "library/formats.h"

namespace cartovane::tool {

namespace {
std::string Extension(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return cartovane::text::ToLower(std::string_view(path).substr(dot + 1));
}

const FormatRow* FindExtension(const std::string& path) { return FindFormat(Extension(path)); }
}  // namespace

Session::Session() : root_(host::ContainerRoot::Create()) { host::RegisterHostClasses(); }

std::string Session::DocumentProgIdFor(const std::string& path, const std::string& fallback) {
    if (const FormatRow* row = FindExtension(path)) return std::string(row->document);
    return fallback.empty() ? std::string(kAtomisticDocument) : fallback;
}

std::string Session::ComponentProgIdFor(const std::string& path) {
    const FormatRow* row = FindExtension(path);
    return row ? std::string(row->component) : std::string();
}

void Session::EchoDiagnostics() {
    root_->Diagnostics().SetListener([](const host::DiagnosticMessage& m) {
        const char* kind = m.severity >= SB_DIAG_ERROR ? "error" : m.severity == SB_DIAG_WARNING ? "warning" : "note";
        std::fprintf(stderr, "%s: %s: %s\n", kind, m.source.c_str(), m.text.c_str());
    });
}

std::string Session::LastErrorText() const {
    const Cfx::LastErrorRecord& last = Cfx::GetLastError();
    if (!FAILED(last.hr)) return {};
    std::string text = last.description.empty() ? Cfx::CfxResult::StandardDescription(last.hr) : last.description;
    if (last.messageId != 0 && messageText) {
        if (const char* message = messageText(last.messageId)) text += std::string(" (") + message + ")";
    }
    return text;
}

Outcome Session::Failure(HRESULT hr) const {
    if (Cfx::GetLastError().hr == hr) return {hr, LastErrorText()};
    return {hr, Cfx::CfxResult::StandardDescription(hr)};
}

Outcome Session::Import(const std::string& path, host::Arguments& arguments, CfxComPtr<host::Model3dDocument>& document,
                        const Choice& choice) {
    std::string component = choice.importer.empty() ? ComponentProgIdFor(path) : choice.importer;
    if (component.empty()) return {E_INVALIDARG, "No component reads files like " + path};
    document = host::Model3dDocument::Create(DocumentProgIdFor(path, choice.document));
    document->SetContainerRoot(root_.Get());
    document->SetURL(path);
    CfxComPtr<ISBImporter> importer;
    Cfx::ClearLastError();
    HRESULT hr = Cfx::CfxCreateImpl(component, nullptr, CLSCTX_INPROC_SERVER, IID_ISBImporter, importer.OutVoid(), false);
    if (FAILED(hr)) return Failure(hr);
    root_->Connect(importer.Get());
    CfxComPtr<ISBStream> stream;
    hr = host::CreateFileStream(path, host::FileMode::Read, stream.Out());
    if (FAILED(hr)) return Failure(hr);
    CfxVariant args = arguments.AsImportArgument();
    hr = importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), args.Get());
    return FAILED(hr) ? Failure(hr) : Outcome{hr, {}};
}

Outcome Session::Export(host::Model3dDocument& document, const std::string& path, host::Arguments& arguments,
                        const Choice& choice) {
    std::string component = choice.exporter.empty() ? ComponentProgIdFor(path) : choice.exporter;
    if (component.empty()) return {E_INVALIDARG, "No component writes files like " + path};
    CfxComPtr<ISBExporter> exporter;
    Cfx::ClearLastError();
    HRESULT hr = Cfx::CfxCreateImpl(component, nullptr, CLSCTX_INPROC_SERVER, IID_ISBExporter, exporter.OutVoid(), false);
    if (FAILED(hr)) return Failure(hr);
    root_->Connect(exporter.Get());
    CfxComPtr<ISBStream> stream;
    hr = host::CreateFileStream(path, host::FileMode::Write, stream.Out());
    if (FAILED(hr)) return Failure(hr);
    CfxVariant args = arguments.AsExportArgument();
    hr = exporter->Export(stream.Get(), static_cast<ISBDocumentRoot*>(&document), args.Get());
    if (FAILED(hr)) return Failure(hr);
    // Only a complete export replaces the file; released uncommitted, the stream leaves it be.
    if (HRESULT committed = host::CommitFileStream(stream.Get()); FAILED(committed)) return Failure(committed);
    return Outcome{hr, {}};
}

}  // namespace cartovane::tool
