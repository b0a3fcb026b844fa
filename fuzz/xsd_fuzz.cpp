// The XML document reader on hostile documents: malformed XML, bad identifiers and lists, deep
// nesting. A document that loads must save, and what it saves must load and save the same again.
//
// Input: byte 0 picks the target (odd: an atomistic tree root, even: the test classes' root);
// the rest is the document.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "documents/xsd_reader.h"
#include "documents/xsd_test_classes.h"
#include "documents/xsd_writer.h"
#include "xml/xml.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Load(const std::string& text, xxSerializable& target) {
    try {
        std::istringstream in(text);
        XSDToDM(target).Load(in);
        return true;
    } catch (const std::exception&) {
    } catch (const Cfx::CfxResult&) {
    }
    return false;
}

std::string Save(const xxSerializable& root) {
    xmlTree tree;
    std::ostringstream out;
    xmlTreeSaver saver(out, tree, false);
    DMToXSD(tree, &saver).WriteObjectTree(root, "XSD");
    return out.str();
}

template <class Root>
void RoundTrip(const std::string& text) {
    auto target = std::make_unique<Root>();
    if (!Load(text, *target)) return;
    std::string saved;
    try {
        saved = Save(*target);
    } catch (const std::exception&) {
        return;  // what a document may hold and a save refuses (a value it cannot write, say)
    } catch (const Cfx::CfxResult&) {
        return;
    }
    auto again = std::make_unique<Root>();
    Check(Load(saved, *again));
    Check(Save(*again) == saved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) RoundTrip<xxAtomisticTreeRoot>(text);
    else RoundTrip<TestRoot>(text);
    return 0;
}
