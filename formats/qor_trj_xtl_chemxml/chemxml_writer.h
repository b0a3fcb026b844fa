// The ChemistryXML writer: a document's molecules, or its content flat, written element by
// element as XML.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "base/address_table.h"
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
        std::vector<std::string> piSystemBonds;  // the "bonds" list of each pi system
    };
    static Content Gather(const xxTreeNode& parent);
    // Gives the ids in the order the elements are written and makes the lists; the element's
    // list of a pi system needs the same pass.
    void Number(Content& content, Lists& lists);
    void WriteContent(const Content& content);
    void WriteAtom(const xxAtom& atom);
    void WriteBond(const xxBond& bond);
    void WritePiSystem(const xxPiSystem& piSystem, const std::string& bonds);
    void WritePiBond(const xxBond& bond);
    // The bonds among the pi system's members, in the order of the pairs (i, j).
    std::string PiSystemBonds(const xxPiSystem& piSystem);
    // A new child of the document element; Written() sends it and frees it.
    xmlElement& NewElement(const xmlElementClass& cls);
    void Written(xmlElement& element);
    // "ID" and the object's number, given on first use.
    const std::string& Id(const xxObject& object);
    void Append(std::string& list, const xxObject& object);

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
    AddressTable<xxObject, std::string> ids_;
    std::string text_;  // a reused buffer
};

}  // namespace cartovane::chemxml
