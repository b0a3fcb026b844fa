// A periodic QOR model saved as XSD and read back writes the same QOR file: the cell, the group,
// the images and the bonds to them survive the document.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "datamodel/atomistic.h"
#include "documents/xsd_file.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"

namespace {

std::string SaveQor(xxObject& root) {
    std::ostringstream out;
    xxSaveQOR writer;
    EXPECT_TRUE(writer.SaveObjectToStream(out, &root, "qor")) << writer.GetErrorMessage();
    return out.str();
}

const char* const kModels[] = {
    // P-1 with a symmetry child, a translate of it and a bond across the cell face.
    R"(# QOR DRAVIK4 DataModel File Version 4 0
(1 Model
  (A C Label "cell")
  (A I CRY/DISPLAY (64 512))
  (A I PeriodicType 100)
  (A C SpaceGroup "2 1")
  (A D A3 (5 0 0))
  (A D B3 (0 6 0))
  (A D C3 (0 0 7))
  (A I ARange3 (0 2))
  (2 Atom
    (A C ACL "6 C")
    (A D XYZ (1 1 1))
    (A O SymChildren ( 4))
  )
  (3 Atom
    (A C ACL "8 O")
    (A D XYZ (4.5 1 1))
  )
  (4 Atom
    (A C SymType "Symmetry")
  )
  (5 Atom
    (A C SymType "Periodic")
    (A O PerParent 2)
    (A I PerTrans (1 0 0))
  )
  (6 Bond
    (A O Atom1 3)
    (A O Atom2 5)
  )
)
)",
    // General positions with a screw axis, and a plane cell.
    R"(# QOR DRAVIK4 DataModel File Version 4 0
(1 Model
  (A I PeriodicType 100)
  (A C SymmetryMode "GeneralPositions")
  (5 Symmetry
    (A C CenteringType "Primitive")
    (6 SymOp
      (A D Matrix (-1 0 0 0 1 0 0 0 -1))
      (A D Translation (0 0.5 0))
    )
  )
  (2 Atom
    (A D XYZ (1 2 3))
  )
)
)",
    R"(# QOR DRAVIK4 DataModel File Version 4 0
(1 Model
  (A I PeriodicType 101)
  (A D A2 (4 0 0))
  (A D B2 (1 5 0))
  (2 Atom
    (A C ACL "14 Si")
  )
)
)",
};

TEST(XsdQorRoundTrip, PeriodicQorThroughXsdWritesTheSameQor) {
    for (const char* text : kModels) {
        xxAtomisticTreeRoot model;
        std::istringstream in(text);
        ASSERT_EQ(xxLoadQOR().LoadObjectFromStreamHR(in, &model, "doc"), S_OK) << text;
        const std::string qor = SaveQor(model);

        std::ostringstream xsd;
        ASSERT_TRUE(xxSaveXSD().SaveObjectToStream(xsd, &model, ""));
        xxAtomisticTreeRoot back;
        std::istringstream xsdIn(xsd.str());
        ASSERT_EQ(xxLoadXSD().LoadObjectFromStreamHR(xsdIn, &back, ""), S_OK);
        EXPECT_EQ(SaveQor(back), qor) << text;
    }
}

}  // namespace
