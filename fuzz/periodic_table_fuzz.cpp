// The periodic-table component's import on any bytes: whatever it refuses leaves the process's
// table exactly as it was, and a table it takes exports and imports again unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "datamodel/periodic_table.h"
#include "documents/singleton_components.h"
#include "fuzz/fuzz_importer.h"
#include "host/documents.h"
#include "host/streams.h"

namespace {

HRESULT Import(const std::vector<char>& bytes) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(bytes);
    return ConnectedImporter<cartovane::PeriodicTableImportExport>(FuzzContainerRoot())->Import(stream.Get(), nullptr, CfxVariant().Get());
}

std::vector<char> Export() {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    if (FAILED(ConnectedComponent<cartovane::PeriodicTableImportExport, ISBExporter>(FuzzContainerRoot(), IID_ISBExporter)
                   ->Export(stream.Get(), nullptr, CfxVariant().Get())))
        std::abort();
    return host::MemoryStreamBytes(stream.Get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzContainerRoot();
    xxPeriodicTable::Reset();
    const std::vector<char> before = Export();
    const std::vector<char> bytes(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    if (FAILED(Import(bytes))) {
        if (Export() != before) std::abort();
        return 0;
    }
    const std::vector<char> taken = Export();
    if (FAILED(Import(taken)) || Export() != taken) std::abort();
    xxPeriodicTable::Reset();
    return 0;
}
