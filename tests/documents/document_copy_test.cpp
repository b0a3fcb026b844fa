// The host's document copy: what its records must carry (every value type, references forward
// and backward, contained and inline objects, null children) and its contract on failure.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "documents/xsd_test_classes.h"
#include "host/document_copy.h"

// Its Load asks for a value its Save never wrote.
class CopyMismatch : public xxObject {
    XX_DECLARE_CLASS(CopyMismatch)
public:
    CopyMismatch() = default;
    void Save(xxOutput& out) const override { out.WriteValue("Written", 1); }
    void Load(xxInput& in) override {
        int value = 0;
        in.ReadValue("Asked", value);
    }
};
XX_IMPLEMENT_CLASS(CopyMismatch, "CopyMismatch", xxObject, 1)

namespace {

// A tree root holding the graph, and a leaf after it that refers into the graph.
std::unique_ptr<xxTreeRoot> Source() {
    auto root = std::make_unique<xxTreeRoot>();
    root->SetName("source");
    auto& graph = static_cast<TestRoot&>(root->AdoptChild(BuildGraph()));
    auto& after = root->CreateChild<TestLeaf>();
    after.SetName("after");
    after.withRef = true;
    after.ref.Reset(graph.slots.front().get());  // backward, into another subtree
    return root;
}

TEST(DocumentCopy, CarriesEveryKindOfContent) {
    auto source = Source();
    xxTreeRoot target;
    target.CreateChild<TestLeaf>().SetName("replaced");
    host::CopyTree(*source, target);

    EXPECT_EQ(target.GetName(), "source");
    ASSERT_EQ(target.NumChildren(), 2u);
    // Values of every type, references by position in each graph (one into the source would not
    // match), contained objects, the inline part and its child, null slots.
    EXPECT_EQ(CompareGraphs(*source->Children()[0], *target.Children()[0]), "");
    auto& graph = static_cast<TestRoot&>(*target.Children()[0]);
    auto& after = static_cast<TestLeaf&>(*target.Children()[1]);
    EXPECT_EQ(after.GetName(), "after");
    EXPECT_EQ(after.ref.Get(), graph.slots.front().get());
    auto& s1 = static_cast<TestSink&>(*graph.slots[2]);
    ASSERT_TRUE(s1.part.withChild);
    EXPECT_EQ(s1.part.child->GetName(), "partChild");
    EXPECT_EQ(s1.refs.back(), &graph);  // to the graph's root object, itself a child
    EXPECT_EQ(graph.slots[1], nullptr);
    EXPECT_EQ(s1.contained[1]->value, 11);

    // Copied again from the copy: the same graph.
    xxTreeRoot again;
    host::CopyTree(target, again);
    EXPECT_EQ(CompareGraphs(*source->Children()[0], *again.Children()[0]), "");
}

TEST(DocumentCopy, AtomsBondsAndTheirPropertiesCopyWithoutTheSource) {
    auto source = std::make_unique<xxAtomisticTreeRoot>();
    auto& molecule = source->CreateChild<xxMolecule>();
    auto& o = molecule.CreateChild<xxAtom3d>("O");
    o.SetName("O1");
    o.SetXYZ({0.1234567890123, -2, 1e-300});
    o.SetCharge(-0.8476);
    auto& h = molecule.CreateChild<xxAtom3d>("H");
    h.SetName("H1");
    xxBondable::MakeBond(o, h);
    xxAtomisticTreeRoot target;
    host::CopyTree(*source, target);
    source.reset();  // nothing of the copy may lead back into the source

    std::vector<xxAtom3d*> atoms = target.DescendentsOf<xxAtom3d>();
    ASSERT_EQ(atoms.size(), 2u);
    EXPECT_EQ(atoms[0]->GetName(), "O1");
    EXPECT_EQ(atoms[0]->GetXYZ().x, 0.1234567890123);
    EXPECT_EQ(atoms[0]->GetXYZ().z, 1e-300);
    EXPECT_EQ(atoms[0]->GetCharge(), -0.8476);
    std::vector<xxBond*> bonds = target.DescendentsOf<xxBond>();
    ASSERT_EQ(bonds.size(), 1u);
    EXPECT_EQ(bonds[0]->GetAtoms()[0], atoms[0]);
    EXPECT_EQ(bonds[0]->GetAtoms()[1], atoms[1]);
}

// Values are given from source to copy typed, not through a record: an unassigned value must stay
// unassigned (not become its default), an assigned one keep every bit.
TEST(DocumentCopy, EveryPropertyKeepsItsAssignedStateAndValue) {
    xxAtomisticTreeRoot source;
    auto& molecule = source.CreateChild<xxMolecule>();
    molecule.SetName("m");
    auto& o = molecule.CreateChild<xxAtom3d>("O");
    o.SetXYZ({0.1 + 0.2, -0.0, 5e-324});
    o.SetCharge(-0.8476);
    auto& h = molecule.CreateChild<xxAtom3d>("H");  // charge and the rest left unassigned
    xxBondable::MakeBond(o, h);
    xxAtomisticTreeRoot target;
    host::CopyTree(source, target);

    std::vector<xxObject*> from = source.DescendentsOf<xxObject>();
    std::vector<xxObject*> to = target.DescendentsOf<xxObject>();
    ASSERT_EQ(from.size(), to.size());
    for (std::size_t i = 0; i < from.size(); ++i) {
        ASSERT_EQ(&from[i]->GetClass(), &to[i]->GetClass());
        for (const xxPropertyBase* p : from[i]->PropertyTemplates()) {
            SCOPED_TRACE(from[i]->GetClass().GetName() + "." + p->Name());
            ASSERT_EQ(p->IsAssigned(*from[i]), p->IsAssigned(*to[i]));
            EXPECT_EQ(p->GetFromDifferentType(*from[i]), p->GetFromDifferentType(*to[i]));
        }
    }
    auto atoms = target.DescendentsOf<xxAtom3d>();
    ASSERT_EQ(atoms.size(), 2u);
    EXPECT_TRUE(std::signbit(atoms[0]->GetXYZ().y));
    EXPECT_EQ(atoms[0]->GetXYZ().z, 5e-324);
}

TEST(DocumentCopy, ObjectsToldOfTheEndFindNoAttributesLeft) {
    // Asking for an attribute after the load once read past the copy's frames.
    xxTreeRoot source;
    for (const char* name : {"a", "b"}) {
        auto& leaf = source.CreateChild<TestLeaf>();
        leaf.SetName(name);
        leaf.value = 1;
    }
    TestLeaf::NotifiedLog().clear();
    xxTreeRoot target;
    host::CopyTree(source, target);
    EXPECT_EQ(TestLeaf::NotifiedLog(), (std::vector<std::string>{"a", "b"}));
}

TEST(DocumentCopy, RefusedOrFailedCopies) {
    struct Case {
        const char* what;
        bool otherClass;  // a target of another class
        HRESULT expected;
        bool targetKept;  // else left empty
    };
    for (const Case& c : {
             Case{"another class", true, E_INVALIDARG, true},
             Case{"a load that asks for what was not saved", false, E_UNEXPECTED, false},
         }) {
        SCOPED_TRACE(c.what);
        xxTreeRoot source;
        source.CreateChild<TestLeaf>().SetName("first");
        source.CreateChild<CopyMismatch>();
        std::unique_ptr<xxTreeRoot> target =
            c.otherClass ? std::make_unique<xxAtomisticTreeRoot>() : std::make_unique<xxTreeRoot>();
        target->CreateChild<TestLeaf>().SetName("kept");
        try {
            host::CopyTree(source, *target);
            ADD_FAILURE() << "copied";
        } catch (const Cfx::CfxResult& r) {
            EXPECT_EQ(r.Hr(), c.expected);
        }
        EXPECT_EQ(target->NumChildren(), c.targetKept ? 1u : 0u);
    }
}

}  // namespace
