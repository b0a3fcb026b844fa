#include "datamodel_extras/qor_atom_data.h"

#include <gtest/gtest.h>

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/builder.h"

namespace {

TEST(QorAtomData, NonSymmetricIdentifiers) {
    xxAtomisticTreeRoot root;
    auto& system = root.CreateChild<xxMultiScaleSymmetrySystem>();
    auto& atom = system.CreateChild<xxAtom3d>("C");
    atom.SetID(12);
    atom.SetXYZ({1, 2, 3});
    xxSymmetryChanger::Build(
        system, xxSymmetryCreator::CreateSymmetryDefinition(xxSpaceGroupFactory::Instantiate().GetSpaceGroupByName("P-1"), system),
        true, 0.05, false);
    xxObject* image = system.FindSymmetryImage(atom, system.GetSymmetryDefinition().GetOperatorElement(2));
    ASSERT_NE(image, nullptr);
    auto& bond = xxBondable::MakeBond(atom, *image->As<xxAtom3d>());
    bond.SetID(5);
    xxAtomisticTreeRoot elsewhere;
    auto& stranger = elsewhere.CreateChild<xxAtom3d>("O");
    stranger.SetID(3);

    xxQorAtomData data;
    EXPECT_EQ(data.GetNonSymmetricID(atom), 0) << "before Initialize";
    data.Initialize(&root, xxBondable::Class());
    EXPECT_EQ(data.GetNonSymmetricID(atom), 12);
    EXPECT_EQ(data.GetNonSymmetricID(*image), 12) << "an image made on demand carries its parent's";
    EXPECT_EQ(data.GetNonSymmetricID(bond), 0) << "not of the class";
    EXPECT_EQ(data.GetNonSymmetricID(stranger), 0) << "outside the document";
}

}  // namespace
