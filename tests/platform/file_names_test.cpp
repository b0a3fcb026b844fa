#include "base/file_names.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using cartovane::FileStem;
using cartovane::FindFileIgnoringCase;

TEST(FileNames, StemLosesDirectoryAndLastExtension) {
    struct Case {
        const char* path;
        const char* stem;
    } cases[] = {
        {"/data/run.qor", "run"},          {"/data/v1.2/run", "run"},  // a "." in a directory is no extension
        {"/data/run.two.qor", "run.two"},  {"relative.xsd", "relative"},
        {"/data/.hidden", ".hidden"},      {"/data/dir/", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(FileStem(c.path), c.stem) << c.path;
}

TEST(FileNames, FoundWithoutRegardToCase) {
    cvtest::TempDir dir;
    EXPECT_EQ(FindFileIgnoringCase(dir.File("a.mdf")), std::nullopt);
    const std::string upper = dir.Put("A.MDF", "x");
    EXPECT_EQ(FindFileIgnoringCase(dir.File("a.mdf")), upper);
    const std::string exact = dir.Put("a.mdf", "x");
    EXPECT_EQ(FindFileIgnoringCase(exact), exact);
    // Two candidates and no exact name: either would be a guess.
    dir.Put("b.MDF", "x");
    dir.Put("B.mdf", "x");
    EXPECT_EQ(FindFileIgnoringCase(dir.File("b.mdf")), std::nullopt);
    EXPECT_EQ(FindFileIgnoringCase(""), std::nullopt);
    EXPECT_EQ(FindFileIgnoringCase(dir.File("")), std::nullopt);
}

}  // namespace
