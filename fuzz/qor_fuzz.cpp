// The QOR reader on any bytes; every input that loads is written, read and written again, and
// the two written texts must be equal. Fuzz with the format's words: -dict=fuzz/qor_fuzz.dict.
//
// The first text is read and written once more before the comparison: an atom read from a
// record without a usable number has ID 0 and is written without "Id", and reading our file
// gives it its new record number as ID, as every atom read without "Id" gets.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"

namespace {

// Loads text into root; false when the load failed (a report or a refused value).
bool Load(const std::string& text, xxAtomisticTreeRoot& root) {
    std::istringstream in(text);
    try {
        return xxLoadQOR().LoadObjectFromStreamHR(in, &root, "fuzz") == S_OK;
    } catch (const Cfx::CfxResult&) {
        return false;
    }
}

std::string Save(xxAtomisticTreeRoot& root) {
    std::ostringstream out;
    if (!xxSaveQOR().SaveObjectToStream(out, &root, "qor")) std::abort();
    return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    xxAtomisticTreeRoot root;
    if (!Load(std::string(reinterpret_cast<const char*>(data), size), root)) return 0;
    xxAtomisticTreeRoot normalised;
    if (!Load(Save(root), normalised)) std::abort();  // our own file must read
    const std::string first = Save(normalised);
    xxAtomisticTreeRoot back;
    if (!Load(first, back)) std::abort();
    if (Save(back) != first) std::abort();
    return 0;
}
