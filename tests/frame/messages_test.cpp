#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library/entry.h"
#include "frame/messages.h"

namespace {

struct Expected {
    std::int32_t id;
    const char* text;
};

// Every text byte for byte.
const Expected kAll[] = {
    {201, "%s file import failure."},
    {202, "%s file export failure."},
    {400, "Car/Mdf File Writer: errors in writing the file."},
    {401, "Car/Mdf File Writer Error: no  PBC cell in the system."},
    {402, "Car/Mdf File Writer Error: only one symmetry system could be exported into one car/mdf file."},
    {403, "Car/Mdf File Writer Error: only three and two dimensional periodic systems could be exported."},
    {404, "Car/Mdf File Writer Error: failed in writing out the CAR file title."},
    {405, "Car/Mdf File Writer Error: failed in retrieving and writing the PBC cell information."},
    {406, "Car/Mdf File Writer Error: there is no molecule in the system."},
    {407, "Car/Mdf File Writer Error: failed in writing out CAR file atom information."},
    {408, "Car/Mdf File Writer Error: can't create the corresponding .mdf file name using input .car name."},
    {409, "Car/Mdf File Writer Error: failed in writing out the MDF file title and date."},
    {410, "Car/Mdf File Writer Error: failed in writing out the @column."},
    {411, "Car/Mdf File Writer Error: failed in writing atom information into the MDF file."},
    {412, "Car/Mdf File Writer Error: failed in writing symmetry information into the MDF file."},
    {413, "Car/Mdf File Writer Error: failed in writing out the AtomSet information into the MDF file."},
    {450, "Car/Mdf File Loader Errors."},
    {451, "Car/Mdf File Loader Error: the file name is in-correct, need to end with .car."},
    {452, "Car/Mdf File Loader Error: Car file is not in archive format 2 or 3."},
    {453, "Car/Mdf File Loader Error: not a MDF type 3 or 4 file."},
    {454, "Car/Mdf File Loader Error: failed in reading MDF Topology Section."},
    {455, "Car/Mdf File Loader Error: failed in reading the MDF Symmetry section."},
    {456, "Car/Mdf File Loader Error: failed in reading the MDF AtomSet setction."},
    {457, "Car/Mdf File Loader Error: could not open the MDF file, please make sure the file exists."},
    {458, "Car/Mdf File Loader Error: failed to build the symmetry system with PBC."},
    {459, "Car/Mdf File Loader Error: failed in reading the @COLUMN section."},
    {460, "Car/Mdf File Loader Error: failed in reading the atoms in MDF file, please check the format of this section."},
    {461, "Car/Mdf File Loader Error: blank or comment line in MDF atom records. "},
    {462, "Car/Mdf File Loader Warning: no blank line after the @molecule."},
    {463, "Car/Mdf File Loader Error: failed in reading the atom records in MDF file."},
    {464, "Car/Mdf File Loader Error: cannot load this format through a URL."},
    {465, "Car/Mdf File Loader Error: car and mdf files have different number of atoms."},
    {466, "The selected CAR file is empty"},
    {467, "Car/Mdf File Loader Error: Residue names in MDF file do not match those in CAR file."},
    {501, "QOR File Loader Error: Encountered unexpected end of file."},
    {502, "QOR File Loader Error: Can not import version 1 qor files. \nPlease re-create using a newer version of Dravik4."},
    {503, "QOR File Loader Error: No valid header found in specified input file."},
    {504, "QOR Dile Loader Error: Problem constructing 3D symmetry system"},
    {505, "QOR File Loader Error: Problem constructing 2D symmetry system"},
    {506, "QOR File Loader Error: Problem replicating symmetry atoms"},
    {507, "QOR File Loader Error: Problem replicating translational atoms"},
    {508, "QOR File Loader Error: Problem replicating symmetry bonds"},
    {509, "QOR File Loader Error: Unexpected end of file reading Atom Attributes"},
    {510, "QOR File Loader Error: Unexpected end of file reading Bond Attributes"},
    {511, "QOR File Loader Error: Unexpected end of file reading Model Attributes"},
    {512, "QOR File Loader Error: Unexpected end of file reading Linkage Attributes"},
    {513, "QOR File Loader Error: Unexpected object encountered inside Surface object."},
    {514, "QOR File Loader Error: Verticies not in triplets or have bad format inside Surface object."},
    {515, "QOR File Loader Error: Too few normals  inside Surface object."},
    {516, "QOR File Loader Error: Normals not in triplets or have bad format inside Surface object."},
    {517, "QOR File Loader Error: Triangle index not in triplets or have bad format inside Surface object."},
    {518, "QOR File Loader Error: Triangle Index value does not relate to Triangle Vertex (out of bounds), error inside Surface object."},
    {519, "QOR File Loader Error: Too few Color items in color-list, error inside Surface object."},
    {520, "QOR File Loader Error: Color item in color-list bad format, error inside Surface object."},
    {521, "QOR File Loader Error: Plane-Normals not in triplets or have bad format inside Surface object."},
    {522, "QOR File Loader Error: Unexpected end of file reading Subunit Attributes."},
    {523, "QOR File Loader Error: Unexpected end of file reading Symmetry Attributes."},
    {524, "QOR File Loader Error: Unexpected end of file reading Symmetry Operator Attributes."},
    {525, "QOR File Loader Error: Unexpected end of file reading Dummay Atom Attributes."},
    {527, "QOR File Loader Error: Unexpected end of file reading Isosurface Attributes"},
    {528, "The selected QOR file is empty"},
    {599, "Check your input file or contact technical support."},
    {600, "Unknown format encountered while trying to read date & time stamp from ARC file"},
    {615, "DPDXyz File Loader Error: Cannot import file. Probably due to read errors or file format errors."},
};

TEST(MessageTable, EveryIdentifierGivesItsExactText) {
    for (const Expected& e : kAll) {
        const char* text = ID2MessageString(e.id);
        ASSERT_NE(text, nullptr) << e.id;
        EXPECT_STREQ(text, e.text) << e.id;
    }
}

TEST(MessageTable, IdentifiersOutsideTheTableGiveNull) {
    for (std::int32_t id : {0, -1, 200, 203, 399, 414, 449, 468, 500, 526, 529, 598, 601, 614, 616, 2147483647})
        EXPECT_EQ(ID2MessageString(id), nullptr) << id;
}

TEST(MessageTable, TextsKeepTheirOddities) {
    EXPECT_EQ(std::string(ID2MessageString(461)).back(), ' ');
    EXPECT_NE(std::strstr(ID2MessageString(401), "no  PBC"), nullptr);
    EXPECT_NE(std::strstr(ID2MessageString(515), "normals  inside"), nullptr);
    EXPECT_NE(std::strstr(ID2MessageString(201), "%s"), nullptr);
    EXPECT_NE(std::strstr(ID2MessageString(202), "%s"), nullptr);
    std::string twoLines = ID2MessageString(502);
    auto lf = twoLines.find('\n');
    ASSERT_NE(lf, std::string::npos);
    EXPECT_EQ(twoLines.substr(lf - 11, 11), "qor files. ");
    EXPECT_EQ(twoLines.compare(lf + 1, 16, "Please re-create"), 0);
    for (auto [id, word] : {std::pair{504, "Dile"}, {456, "setction"}, {451, "in-correct"}, {514, "Verticies"}, {525, "Dummay"}})
        EXPECT_NE(std::strstr(ID2MessageString(id), word), nullptr) << id;
}

TEST(MessageTable, SameIdentifierGivesSamePointer) {
    EXPECT_EQ(ID2MessageString(cartovane::msg::CARLOAD_MDF_FILEOPEN), ID2MessageString(457));
    EXPECT_EQ(ID2MessageString(615), ID2MessageString(615));
}

}  // namespace
