// The ChemistryXML writer: a document's molecules, or its content flat, as an XML tree.
#pragma once

#include <string>
#include <unordered_map>

#include "datamodel/atomistic.h"
#include "xml/xml.h"

namespace cartovane::chemxml {

class DMToChemistryXML {
public:
    explicit DMToChemistryXML(xmlTree& tree) : tree_(tree) {}

    // Throws CfxResult E_POINTER for a null document and xmlException for a periodic one; the
    // document is not changed.
    void Save(const xxTreeRoot* document);

private:
    struct Lists {
        std::string atoms, bonds, piSystems, piBonds;
    };
    void SaveContent(const xxTreeNode& parent, Lists& lists);
    void SaveAtom(const xxAtom& atom, Lists& lists);
    void SaveBond(const xxBond& bond, Lists& lists);
    void SavePiSystem(const xxPiSystem& piSystem, Lists& lists);
    void SavePiBond(const xxBond& bond, Lists& lists);
    xmlElement& AddElement(std::string_view name);
    // The element of a bond with its id; throws for a bond without two ends.
    xmlElement& AddBondElement(std::string_view name, const xxBond& bond);
    // "ID" and the object's number, given on first use.
    const std::string& Id(const xxObject& object);
    void Append(std::string& list, const xxObject& object);

    xmlTree& tree_;
    xmlElement* root_ = nullptr;
    int next_ = 1;
    std::unordered_map<const xxObject*, std::string> ids_;
};

}  // namespace cartovane::chemxml
