// A CAR/MDF model saved as XSD and read back is the same model: the CAR/MDF written from it
// has the same bytes as the one written from the model first read.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "datamodel/atomistic.h"
#include "documents/xsd_file.h"
#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_writer.h"
#include "support/temp_dir.h"

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteCar(xxObject& model, const std::string& path) {
    std::ofstream car(path, std::ios::binary);
    xxBool allSets = false;
    xxSaveCAR writer;
    writer.SetClock([] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mday = 1;
        return t;
    });
    ASSERT_TRUE(writer.WriteCarAndMdf(car, model, path, nullptr, allSets, true));
}

class XsdCarRoundTrip : public testing::TestWithParam<const char*> {};

TEST_P(XsdCarRoundTrip, CarThroughXsdWritesTheSameCar) {
    const std::string carPath = std::string(CARTOVANE_TEST_DATA) + "/carmdf/" + GetParam();
    xxAtomisticTreeRoot model;
    std::ifstream in(carPath, std::ios::binary);
    ASSERT_EQ(xxLoadCAR().LoadCarMdfFile(in, model, carPath, nullptr, false), S_OK);

    std::ostringstream xsd;
    ASSERT_TRUE(xxSaveXSD().SaveObjectToStream(xsd, &model, ""));
    xxAtomisticTreeRoot back;
    std::istringstream xsdIn(xsd.str());
    ASSERT_EQ(xxLoadXSD().LoadObjectFromStreamHR(xsdIn, &back, ""), S_OK);
    std::ostringstream again;
    xxSaveXSD().SaveObjectToStream(again, &back, "");
    EXPECT_EQ(again.str(), xsd.str());

    cvtest::TempDir dir;
    WriteCar(model, dir.File("first.car"));
    WriteCar(back, dir.File("second.car"));
    EXPECT_FALSE(Slurp(dir.File("first.car")).empty());
    EXPECT_EQ(Slurp(dir.File("second.car")), Slurp(dir.File("first.car")));
    EXPECT_EQ(Slurp(dir.File("second.mdf")), Slurp(dir.File("first.mdf")));
}

// A molecular model, and a periodic one with symmetry images.
INSTANTIATE_TEST_SUITE_P(Models, XsdCarRoundTrip, testing::Values("ethanol_water.car", "chain_crystal.car"));

}  // namespace
