// cartovane: a command-line host for libCartovane.so.
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <iostream>

#include "base/text.h"
#include "com/registry.h"
#include "library/formats.h"
#include "tools/cartovane/host.h"
#include "tools/cartovane/session.h"
#include "tools/cartovane/commands.h"

namespace {

// The usage text, with the file types of the library's format list.
std::string Usage() {
    std::string text =
        "usage: cartovane [--library PATH] COMMAND [ARGS]\n"
        "\n"
        "Loads libCartovane.so as the host application does (process attach, registration)\n"
        "and runs one command.\n"
        "\n"
        "commands:\n"
        "  components   list the registered components: CLSID, ProgID, description and\n"
        "               whether the component can be created yet\n"
        "  show FILE [--frame K] [--json] [--arg NAME=VALUE]... [--importer PROGID]\n"
        "               [--document PROGID]\n"
        "               import FILE into a new document and print its data-model tree\n"
        "               (indented text, or one JSON document with --json); with --frame,\n"
        "               the model after frame K (1 ... the frame count) of its trajectory\n"
        "  frames FILE [--json] [--arg NAME=VALUE]...\n"
        "               import FILE and play every frame of its trajectory in order: a line\n"
        "               per frame with what it gave (time, step, energy, the model's\n"
        "               energies, the cell), or one JSON document with --json\n"
        "  convert INPUT OUTPUT [--arg NAME=VALUE]... [--importer PROGID]\n"
        "               [--exporter PROGID] [--document PROGID]\n"
        "               import INPUT and export the document to OUTPUT, each through the\n"
        "               component for its file type\n"
        "  --help       this text\n"
        "\n"
        "file types (extension, document class, component); .arc, .his, .trj and .xtl are\n"
        "read only, the others read and written:\n";
    std::size_t documentWidth = 0;
    for (const cartovane::FormatRow& row : cartovane::kFormats) documentWidth = std::max(documentWidth, row.document.size());
    for (const cartovane::FormatRow& row : cartovane::kFormats) {
        std::string type = "." + std::string(row.extension);
        if (!row.companion.empty()) type += " with ." + std::string(row.companion);
        type.resize(std::max<std::size_t>(type.size(), 14), ' ');
        std::string document(row.document);
        document.resize(documentWidth, ' ');
        text += "  " + type + "  " + document + "  " + std::string(row.component) + "\n";
    }
    text +=
        "\n"
        "--importer and --exporter name the component (by ProgID, such as\n"
        "SDCartovane.BinaryImportExport) that reads the input or writes the output instead of\n"
        "the one its extension gives; --document names the class of the new document when the\n"
        "input's extension gives none (default Pendrake.Atomistic3dDocument).\n"
        "\n"
        "--arg values go into the import and export argument collection: true/false as\n"
        "booleans, integers as integers, anything else as text. Posted warnings go to\n"
        "standard error; a failure prints its description, with the text of its message\n"
        "identifier, and exits with status 1.\n"
        "\n"
        "The library is found through --library, CARTOVANE_LIBRARY, or beside the tool.\n";
    return text;
}

int ListComponents() {
    std::vector<com::ClassRegistration> classes = com::RegisteredClasses();
    std::printf("%-38s  %-40s  %-9s  %s\n", "CLSID", "ProgID", "creatable", "description");
    for (const com::ClassRegistration& entry : classes) {
        IUnknown* object = nullptr;
        HRESULT hr = CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(&object));
        if (object) object->Release();
        const char* creatable = SUCCEEDED(hr) ? "yes" : hr == E_NOTIMPL ? "not yet" : "no";
        std::printf("%-38s  %-40s  %-9s  %s\n", com::FormatGuid(entry.clsid).c_str(), entry.progId.c_str(),
                    creatable, entry.description.c_str());
    }
    return 0;
}

int Convert(cartovane::tool::Session& session, const cartovane::tool::Options& o) {
    if (o.positional.size() != 2) throw std::runtime_error("convert takes INPUT and OUTPUT");
    if (o.frame) throw std::runtime_error("convert takes no --frame");
    session.EchoDiagnostics();
    CfxComPtr<host::Model3dDocument> document;
    cartovane::tool::Outcome in = session.Import(o.positional[0], *o.arguments.Get(), document, o.choice);
    if (FAILED(in.hr)) {
        std::fprintf(stderr, "cartovane: cannot import %s: %s [0x%08X]\n", o.positional[0].c_str(), in.error.c_str(),
                     static_cast<unsigned>(in.hr));
        return 1;
    }
    cartovane::tool::Outcome out = session.Export(*document.Get(), o.positional[1], *o.arguments.Get(), o.choice);
    if (FAILED(out.hr)) {
        std::fprintf(stderr, "cartovane: cannot export %s: %s [0x%08X]\n", o.positional[1].c_str(),
                     out.error.c_str(), static_cast<unsigned>(out.hr));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string library;
    if (args.size() >= 2 && args[0] == "--library") {
        library = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(Usage().c_str(), args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    try {
        cartovane::tool::LoadedLibrary lib(library.empty() ? cartovane::tool::DefaultLibraryPath(argv[0]) : library);
        if (args[0] == "components") return ListComponents();
        if (args[0] == "show" || args[0] == "frames" || args[0] == "convert") {
            const cartovane::tool::Options options = cartovane::tool::ParseOptions(args);
            cartovane::tool::Session session;
            session.messageText = lib.MessageTextFunction();
            if (args[0] == "show") return cartovane::tool::Show(session, options, std::cout);
            if (args[0] == "frames") return cartovane::tool::Frames(session, options, std::cout);
            return Convert(session, options);
        }
        std::fprintf(stderr, "cartovane: unknown command '%s'\n\n%s", args[0].c_str(), Usage().c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cartovane: %s\n", e.what());
        return 1;
    }
}
