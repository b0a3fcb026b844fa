// ARC trajectories on any bytes: the ARC component imports them (as "fuzz.arc", the model from a
// fixed small CAR file beside it or, chosen by the input, from the bytes themselves), then the
// frame loader goes to frames 0, 1, the last and the count itself. The first byte chooses: bit 0
// set, a companion CAR file; bits 1-2 its periodicity (none, 3-D, 2-D). The rest is the file.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

#include "datamodel/atomistic.h"
#include "datamodel/iterator.h"
#include "formats/carmdf/arc_component.h"
#include "formats/carmdf/arc_loader.h"
#include "host/documents.h"
#include "fuzz/fuzz_importer.h"
#include "host/streams.h"
#include "utilities/trajectory.h"

namespace {

const std::filesystem::path& Directory() {
    static const std::filesystem::path path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-arc-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        return std::filesystem::path(pattern);
    }();
    return path;
}

void Write(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::abort();
}

std::string Companion(int periodicity) {
    static const char* const kLines[] = {"PBC=OFF\n", "PBC=ON\n", "PBC=2D\n"};
    static const char* const kCells[] = {"", "PBC   10.0000   11.0000   12.0000   90.0000   90.0000   90.0000 (P1)\n",
                                         "PBC    10.0000   11.0000   90.0000(p1)\n"};
    return std::string("!KORVEN archive 3\n") + kLines[periodicity] + "model\n!DATE Wed Dec 10 08:28:00 2025\n" +
           kCells[periodicity] +
           "C1       1.000000000    2.000000000    3.000000000 MOL  1      c3      C   0.000\n"
           "C2       2.000000000    2.000000000    3.000000000 MOL  1      c3      C   0.000\n"
           "end\n"
           "O1       3.000000000    2.000000000    3.000000000 MOL  2      o       O   0.000\n"
           "end\nend\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CfxComPtr<host::ContainerRoot> root = [] {
        host::RegisterHostClasses();
        return host::ContainerRoot::Create();
    }();
    if (size == 0) return 0;
    const std::filesystem::path arc = Directory() / "fuzz.arc", car = Directory() / "fuzz.car";
    Write(arc, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    std::filesystem::remove(car);
    if (data[0] & 1) Write(car, Companion((data[0] >> 1) % 3));

    CfxComPtr<ISBImporter> importer = ConnectedImporter<cartovane::CARCImportExport>(*root.Get());

    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    document->SetURL(arc.string());
    CfxComPtr<ISBStream> stream;
    if (FAILED(host::CreateFileStream(arc.string(), host::FileMode::Read, stream.Out()))) std::abort();
    if (FAILED(importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get())))
        return 0;
    std::vector<xxTrajectory*> trajectories = document->Tree().ChildrenOf<xxTrajectory>();
    if (trajectories.size() != 1) std::abort();
    auto* loader = dynamic_cast<xxLoadArc*>(trajectories.front()->GetFrameLoader());
    if (!loader) return 0;

    const int count = loader->GetNumFrames();
    if (count <= 0) std::abort();  // a loader that plays has a frame
    xxModelIterator objects(document->Tree(), {xxBondable::classType});
    for (int frame : {0, 1, count - 1, count}) {
        const int before = loader->GetNumFrames();
        double energy = 0, time = 0, third = 0, step = 0;
        const bool loaded = loader->LoadFrame(frame, objects, &energy, &time, &third, &step, nullptr);
        if (frame >= before && loaded) std::abort();  // a frame beyond the count never loads
        if (loader->GetNumFrames() > before) std::abort();  // the count only shrinks
        if (!loaded && loader->GetNumFrames() < before && loader->GetNumFrames() != frame) std::abort();
    }
    return 0;
}
