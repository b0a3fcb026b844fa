// The ChemistryXML writer: a document's molecules, or its content flat, written element by
// element as XML.
#pragma once

#include <array>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "base/address_table.h"
#include "base/text.h"
#include "datamodel/atomistic.h"
#include "xml/xml.h"

namespace cartovane::chemxml {

class DMToChemistryXML {
public:
    // Throws CfxResult E_POINTER for a null document and xmlException for a periodic one, before
    // anything is written; the document is not changed.
    explicit DMToChemistryXML(const xxTreeRoot* document);

    // Writes the document element by element, each freed once written, so that a large model
    // costs no tree of its whole text. True when the stream took it all; throws xmlException
    // when it fails on the way (as the saver does).
    bool Write(std::ostream& out, int encoding, int header);

private:
    struct Lists {
        std::string atoms, bonds, piSystems, piBonds;
    };
    // What a molecule (or the document) holds of each kind, depth first.
    struct Content {
        std::vector<const xxAtom*> atoms;
        std::vector<const xxBond*> bonds;  // every bond; those between atoms are written
        std::vector<const xxPiSystem*> piSystems;
        // Given in the first pass, so that writing looks nothing up: the number of each atom,
        // and of each bond between atoms with its two ends.
        std::vector<int> atomNumbers;
        std::vector<std::array<int, 3>> bondNumbers;
        std::vector<std::string> piSystemBonds;  // the "bonds" list of each pi system
    };
    static Content Gather(const xxTreeNode& parent);
    // Gives the ids in the order the elements are written and makes the lists; the element's
    // list of a pi system needs the same pass.
    void GiveIds(Content& content, Lists& lists);
    void WriteContent(const Content& content);
    void WriteAtom(const xxAtom& atom, int number);
    void WriteBond(const xxBond& bond, const std::array<int, 3>& numbers);
    void WritePiSystem(const xxPiSystem& piSystem, const std::string& bonds);
    void WritePiBond(const xxBond& bond);
    // The bonds among the pi system's members, in the order of the pairs (i, j).
    std::string PiSystemBonds(const xxPiSystem& piSystem);
    // A new child of the document element; Written() sends it and frees it.
    xmlElement& NewElement(const xmlElementClass& cls);
    void Written(xmlElement& element);
    // "ID" and the object's number, given on first use.
    class IdText {
    public:
        explicit IdText(int number);
        operator std::string_view() const { return {text_.data(), size_}; }

    private:
        std::array<char, 2 + text::kNumberTextSize> text_;
        std::size_t size_;
    };
    // The object's number, given on first use.
    int NumberOf(const xxObject& object);
    IdText Id(const xxObject& object) { return IdText(NumberOf(object)); }
    static void Append(std::string& list, int number);
    void Append(std::string& list, const xxObject& object) { Append(list, NumberOf(object)); }

    // The element and attribute names, interned once.
    struct Names {
        const xmlElementClass *molecule, *atom, *formalCharge, *bond, *piSystem, *piBond;
        const xmlAttributeClass *id, *atoms, *bonds, *piSystems, *piBonds, *coord3DX, *coord3DY, *coord3DZ,
            *atomicNumber, *numerator, *denominator, *bondType, *atomOfPiBond, *piSystemOfPiBond;
    };

    const xxTreeRoot& document_;
    std::vector<const xxMolecule*> molecules_;  // written by molecules when not empty
    xmlTree tree_;
    Names names_{};
    xmlElement* root_ = nullptr;
    xmlSaver* saver_ = nullptr;  // while writing
    int next_ = 1;
    // By address: objects met one after the other mostly lie one after the other.
    AddressTable<xxObject, int> numbers_;
    std::string text_;  // a reused buffer
};

}  // namespace cartovane::chemxml
