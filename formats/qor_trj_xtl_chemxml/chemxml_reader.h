// The ChemistryXML reader: atoms, bonds, pi systems, pi bonds and molecules of an XML tree,
// built apart and put into the document whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/name_index.h"
#include "datamodel/atomistic.h"
#include "xml/xml.h"

namespace cartovane::chemxml {

// The bond type a "bondType" keyword names (case-sensitive, whole text); single for any other.
xxBondType BondTypeOf(std::string_view keyword);
// The keyword of a bond type; "single" for a code the format has no word for.
std::string_view BondTypeKeyword(xxBondType type);
// The name suffix of an id: the id without its leading "I" and "D" characters.
std::string_view NameSuffix(std::string_view id);

class ChemistryXMLToDM;

// The processors of the elements, one per element read.
namespace ChemistryXMLToDMImpl {

class ChemistryXMLNodeProcessor {
public:
    explicit ChemistryXMLNodeProcessor(ChemistryXMLToDM& builder) : builder_(builder) {}
    virtual ~ChemistryXMLNodeProcessor() = default;
    ChemistryXMLNodeProcessor(const ChemistryXMLNodeProcessor&) = delete;
    ChemistryXMLNodeProcessor& operator=(const ChemistryXMLNodeProcessor&) = delete;

    // Reads "id" and hands every child node to CollectElement.
    virtual void Process(const xmlElement* element);
    virtual void CollectElement(const xmlNode* node) = 0;

protected:
    ChemistryXMLToDM& builder_;
    std::string_view id_;  // the element's text, which lives as long as the tree
};

// Files the root's child elements by name, in document order.
class ChemistryXMLRootNodeProcessor final : public ChemistryXMLNodeProcessor {
public:
    using ChemistryXMLNodeProcessor::ChemistryXMLNodeProcessor;
    void CollectElement(const xmlNode* node) override;
    // The children of that name, in document order.
    const std::vector<const xmlElement*>& Elements(std::string_view name) const;

private:
    std::map<std::string, std::vector<const xmlElement*>, std::less<>> elements_;
};

class ChemistryXMLAtomNodeProcessor final : public ChemistryXMLNodeProcessor {
public:
    using ChemistryXMLNodeProcessor::ChemistryXMLNodeProcessor;
    void Process(const xmlElement* element) override;
    void CollectElement(const xmlNode*) override {}
};

class ChemistryXMLBondNodeProcessor final : public ChemistryXMLNodeProcessor {
public:
    using ChemistryXMLNodeProcessor::ChemistryXMLNodeProcessor;
    void Process(const xmlElement* element) override;
    void CollectElement(const xmlNode*) override {}
};

class ChemistryXMLPiSystemNodeProcessor final : public ChemistryXMLNodeProcessor {
public:
    using ChemistryXMLNodeProcessor::ChemistryXMLNodeProcessor;
    void Process(const xmlElement* element) override;
    void CollectElement(const xmlNode*) override {}
};

class ChemistryXMLPiBondNodeProcessor final : public ChemistryXMLNodeProcessor {
public:
    using ChemistryXMLNodeProcessor::ChemistryXMLNodeProcessor;
    void Process(const xmlElement* element) override;
    void CollectElement(const xmlNode*) override {}
};

class ChemistryXMLMoleculeNodeProcessor final : public ChemistryXMLNodeProcessor {
public:
    using ChemistryXMLNodeProcessor::ChemistryXMLNodeProcessor;
    void Process(const xmlElement* element) override;
    void CollectElement(const xmlNode*) override {}
};

}  // namespace ChemistryXMLToDMImpl

// Builds the tree's content below a scratch root of the target's class, then moves all of it
// under the target: a failure leaves the target as it was.
class ChemistryXMLToDM {
public:
    explicit ChemistryXMLToDM(xxTreeRoot& target);
    ~ChemistryXMLToDM();
    ChemistryXMLToDM(const ChemistryXMLToDM&) = delete;
    ChemistryXMLToDM& operator=(const ChemistryXMLToDM&) = delete;

    // Throws CfxResult (and the data model's refusals) on failure.
    void Build(const xmlTree* tree);

    // ---- for the node processors
    // The attributes the processors read, looked up in the tree once rather than by name on
    // every element.
    enum class Key : std::uint8_t {
        Id, Coord3DX, Coord3DY, Coord3DZ, AtomicNumber, Numerator, Denominator, Atoms, BondType, Bonds, Atom,
        PiSystem, PiSystems, Count
    };
    std::optional<std::string_view> Attribute(const xmlElement& element, Key key) const;
    xxTreeRoot& Scratch() { return *scratch_; }
    // The first object registered under the id wins; a later one is kept apart and placed
    // after the others. The id's text must live until Build returns (the tree's does).
    void Register(std::string_view id, xxObject* object);
    void KeepUnregistered(xxObject& object) { unregistered_.push_back(&object); }
    // The object of an id, if it is of that class; null otherwise.
    xxObject* Find(std::string_view id, unsigned classType) const;
    // A listed atom or pi system goes under the molecule.
    void List(xxMultiScaleMolecule& molecule, xxBondable& member);
    void AddMolecule(xxMultiScaleMolecule& molecule) { molecules_.push_back(&molecule); }

private:
    void Place();

    struct Registered {
        std::string_view id;
        xxObject* object;
    };
    // An index entry keeps the head of its id, so that a probe compares without reaching the
    // tree's text unless the id is longer.
    struct Indexed {
        static constexpr std::size_t kHead = 16;
        std::array<char, kHead> head{};
        std::uint32_t size = 0;
        std::uint32_t registered = 0;  // in registered_
        xxObject* object = nullptr;
    };
    struct IndexedMatch {
        const std::vector<Registered>* registered;
        bool operator()(const Indexed& entry, std::string_view id) const;
    };

    xxTreeRoot& target_;
    std::unique_ptr<xxTreeRoot> scratch_;
    std::array<const xmlAttributeClass*, static_cast<std::size_t>(Key::Count)> keys_{};
    // In the order registered; sorted by id text once, when the objects are placed.
    std::vector<Registered> registered_;
    NameIndex<Indexed, IndexedMatch> ids_{IndexedMatch{&registered_}};
    // Ids of the form the writer gives, "ID" and a number without leading zeros, below a bound
    // that follows the file's size, are kept by that number: no hashing, and neighbours in the
    // file stay neighbours here. The others are in ids_.
    std::optional<std::uint32_t> NumberOf(std::string_view id) const;
    std::vector<xxObject*> byNumber_;
    std::size_t numberLimit_ = 0;
    std::vector<xxObject*> unregistered_;
    std::vector<xxMultiScaleMolecule*> molecules_;
    // Members as listed: the molecule of the last listing wins.
    std::vector<std::pair<xxMultiScaleMolecule*, xxBondable*>> listings_;
};

}  // namespace cartovane::chemxml
