#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "library/formats.h"
#include "support/temp_dir.h"
#include "support/trj_file.h"
#include "support/unwritable_file.h"

namespace {

struct ToolRun {
    int status;
    std::string output;
};

// Runs the tool with args, after shell (commands for the shell that runs it) when given.
ToolRun Tool(const std::string& args, const std::string& shell = "") {
    std::string command =
        shell + std::string(CARTOVANE_TOOL_PATH) + " --library " + CARTOVANE_LIBRARY_PATH + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun run{-1, {}};
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) run.output.append(buffer.data(), n);
    run.status = pclose(pipe);
    return run;
}

// QOR input converted to direct (line feeds only), direct to an XSD document, and that to back.
void ConvertQorThroughXsd(const std::string& input, const std::string& direct, const std::string& xsd,
                          const std::string& back) {
    ToolRun a = Tool("convert " + input + " " + direct + " --arg UnixFormat=true");
    ASSERT_EQ(a.status, 0) << a.output;
    ToolRun b = Tool("convert " + direct + " " + xsd);
    ASSERT_EQ(b.status, 0) << b.output;
    ToolRun c = Tool("convert " + xsd + " " + back + " --arg UnixFormat=true");
    ASSERT_EQ(c.status, 0) << c.output;
}

TEST(CartovaneTool, ComponentsListsEveryRegisteredRow) {
    ToolRun run = Tool("components");
    ASSERT_EQ(run.status, 0) << run.output;
    std::istringstream lines(run.output);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("{", 0) == 0) rows.push_back(line);
    ASSERT_EQ(rows.size(), 31u) << run.output;
    struct Expect {
        const char* clsid;
        const char* progId;
        const char* description;
    } samples[] = {
        {"{9245E388-3F5E-67B0-7741-95B15E6E14E4}", "SDCartovane.QORImportExport", "Kelvarin: QORImportExport component"},
        {"{79921210-6978-11D6-9603-00D0B72E0719}", "SDCartovane.ChemistryXMLImportExport",
         "Kelvarin: Vintrell Chemistry XML ImportExport component"},
        {"{DAB0898A-A76D-4155-BF34-828C46FD8174}", "SDCartovane.XSDToMSDExport",
         "Kelvarin: Coarse-grained to mesoscale export"},
    };
    for (const Expect& e : samples) {
        bool found = false;
        for (const std::string& row : rows) {
            if (row.rfind(e.clsid, 0) != 0) continue;
            found = true;
            EXPECT_NE(row.find(std::string(" ") + e.progId + " "), std::string::npos) << row;
            EXPECT_EQ(row.substr(row.size() - std::string(e.description).size()), e.description) << row;
        }
        EXPECT_TRUE(found) << e.clsid;
    }
}

TEST(CartovaneTool, HelpAndBadUsage) {
    ToolRun help = Tool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("components"), std::string::npos);
    // Every file type of the format list, with the component that handles it.
    for (const cartovane::FormatRow& row : cartovane::kFormats) {
        std::string line = "  ." + std::string(row.extension);
        auto at = help.output.find(line);
        ASSERT_NE(at, std::string::npos) << row.extension << "\n" << help.output;
        std::string rest = help.output.substr(at, help.output.find('\n', at) - at);
        EXPECT_NE(rest.find(std::string(row.component)), std::string::npos) << rest;
        EXPECT_NE(rest.find(std::string(row.document)), std::string::npos) << rest;
    }
    ToolRun bad = Tool("no-such-command");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.output.find("unknown command"), std::string::npos);
}

TEST(CartovaneTool, MissingLibraryIsAClearError) {
    std::string command = std::string(CARTOVANE_TOOL_PATH) + " --library /nonexistent/libCartovane.so components 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::array<char, 1024> buffer{};
    std::string output;
    for (std::size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) output.append(buffer.data(), n);
    EXPECT_NE(pclose(pipe), 0);
    EXPECT_NE(output.find("cannot load"), std::string::npos) << output;
}

}  // namespace

namespace {

std::string ExamplePath() { return std::string(CARTOVANE_TEST_DATA) + "/../../examples/water_ethanol.car"; }

TEST(CartovaneTool, ShowJsonDescribesTheExampleModel) {
    ToolRun run = Tool("show --json " + ExamplePath());
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char* expected :
         {"\"result\": \"0x00000000\"", "\"error\": null", "\"class\": \"AtomisticTreeRoot\"",
          "\"class\": \"MultiScaleSymmetrySystem\"", "\"group\": \"P1\"", "\"a\": 12.0", "\"name\": \"ethanol\"",
          "\"element\": \"O\"", "\"charge\": -0.81999", "\"order\": 1.0", "\"class\": \"Bond\""})
        EXPECT_NE(run.output.find(expected), std::string::npos) << expected;
}

TEST(CartovaneTool, ShowPlainPrintsOneLinePerObject) {
    ToolRun run = Tool("show " + ExamplePath());
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.rfind("AtomisticTreeRoot \"water_ethanol\"", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("  MultiScaleSymmetrySystem"), std::string::npos);
    EXPECT_NE(run.output.find("Atom3d \"H6\" #12 H"), std::string::npos);
}

TEST(CartovaneTool, ShowOfAFileThatIsNotCarFailsWithTheMessageText) {
    std::string path = std::string(::testing::TempDir()) + "/not_a_model.car";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("hello\n", f);
    fclose(f);
    ToolRun run = Tool("show " + path);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("Car file is not in archive format 2 or 3."), std::string::npos) << run.output;
}

std::string PutFile(const std::string& name, const std::string& text) {
    std::string path = std::string(::testing::TempDir()) + "/" + name;
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return path;
    fputs(text.c_str(), f);
    fclose(f);
    return path;
}

// A failed export prints what the writer reported, not only the bare HRESULT's text.
TEST(CartovaneTool, ExportFailuresPrintTheWritersMessageText) {
    std::string dir = ::testing::TempDir();
    std::filesystem::create_directories(dir + "/blocked_out.mdf");  // no MDF can be written there
    struct Case {
        const char* what;
        std::string shell;  // run before the tool
        std::string output;
    } cases[] = {
        {"the MDF cannot be written", "", dir + "/blocked_out.car"},
        // A file-size limit stands in for a full disk: the CAR text is longer than 1 KiB.
        {"the CAR file cannot be written whole", "trap '' XFSZ; ulimit -f 1; ", dir + "/limited_out.car"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ToolRun run = Tool("convert " + ExamplePath() + " " + c.output, c.shell);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.output.find("cannot export"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("(Car/Mdf File Writer"), std::string::npos) << run.output;
    }
}

// Failed imports print the component's description; problems it reads past are warnings.
TEST(CartovaneTool, ImportProblemsPrintTheComponentsText) {
    std::string car = PutFile("bad_mdf.car", "");
    std::filesystem::copy_file(ExamplePath(), car, std::filesystem::copy_options::overwrite_existing);
    PutFile("bad_mdf.mdf", "not an mdf\n");
    struct Case {
        std::string path;
        bool fails;
        const char* text;
    } cases[] = {
        {PutFile("unclosed.xsd", "<XSD><unclosed"), true,
         "unclosed.xsd: Unable to process XSD content - Unable to parse XSD as valid XML - "},
        {PutFile("empty.xsd", ""), true, "empty.xsd: Unable to process XSD content - Empty Document"},
        {car, false, "warning: CAR/MDF importer: Problems were encountered reading the Mdf file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ToolRun run = Tool("show " + c.path);
        EXPECT_EQ(run.status != 0, c.fails) << run.output;
        EXPECT_NE(run.output.find(c.text), std::string::npos) << run.output;
    }
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    auto at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// show --json writes its document as it goes; what it writes is one JSON document, laid out
// as the JSON library lays out the same values, whatever the texts and numbers hold.
TEST(CartovaneTool, ShowJsonIsOneDocumentLaidOutAsTheJsonLibraryDoes) {
    std::string xsd = std::string(::testing::TempDir()) + "/awkward_base.xsd";
    ASSERT_EQ(Tool("convert " + ExamplePath() + " " + xsd).status, 0);
    std::string text = Slurp(xsd);
    text = Replaced(text, "Name=\"water\"", "Name=\"wa&quot;t\\er&#9;x&#127;\xC3\xA9\"");
    text = Replaced(text, "XYZ=\"2,2,2\"", "XYZ=\"nan,-inf,-0\"");
    text = Replaced(text, "Charge=\"-0.8199999928474426\"", "Charge=\"1e300\"");
    text = Replaced(text, "<MultiScaleSymmetrySystem ", "<MultiScaleSymmetrySystem PotentialStress=\"1,2,3,2,5.5,6,3,6,9\" ");
    std::string awkward = PutFile("awkward.xsd", text);
    std::string latin = PutFile("latin.car", "!KORVEN archive 3\nPBC=OFF\nt\n!DATE x\n"
                                             "O\xE9" "1      2.000000000    2.000000000    2.000000000 HOH  1      o*      O  -0.820\n"
                                             "end\nend\n");
    for (const std::string& path : {ExamplePath(), awkward, latin}) {
        SCOPED_TRACE(path);
        ToolRun run = Tool("show --json " + path);
        ASSERT_EQ(run.status, 0) << run.output;
        nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(run.output);  // throws when not JSON
        EXPECT_EQ(parsed.dump(2) + "\n", run.output);
    }

    nlohmann::ordered_json model = nlohmann::ordered_json::parse(Tool("show --json " + awkward).output);
    const nlohmann::ordered_json& molecule = model["document"]["children"][0]["children"][0];
    EXPECT_EQ(molecule["name"], "wa\"t\\er\tx\x7F\xC3\xA9");
    const nlohmann::ordered_json& atom = molecule["children"][0]["children"][0];
    EXPECT_TRUE(atom["xyz"][0].is_null());  // JSON has no NaN or infinity
    EXPECT_TRUE(atom["xyz"][1].is_null());
    EXPECT_TRUE(std::signbit(atom["xyz"][2].get<double>()));
    EXPECT_EQ(atom["charge"], 1e300);
    EXPECT_EQ(model["document"]["children"][0]["properties"]["PotentialStress"][4], 5.5);
    // A byte that begins no UTF-8 sequence stands as U+FFFD.
    EXPECT_NE(Tool("show --json " + latin).output.find("\"name\": \"O\xEF\xBF\xBD" "1\""), std::string::npos);

    // The text form writes long numbers whole.
    ToolRun plain = Tool("show " + awkward);
    ASSERT_EQ(plain.status, 0) << plain.output;
    auto at = plain.output.find("Atom3d \"O1\" #1 O (nan, -inf, -0.0000) charge 1");
    ASSERT_NE(at, std::string::npos) << plain.output;
    std::string line = plain.output.substr(at, plain.output.find('\n', at) - at);
    EXPECT_EQ(line.substr(line.size() - 5), ".0000") << line;
}

TEST(CartovaneTool, ConvertRoundTripKeepsTheModel) {
    std::string dir = ::testing::TempDir();
    std::string first = dir + "/round_trip_1.car", second = dir + "/round_trip_2.car";
    ToolRun a = Tool("convert " + ExamplePath() + " " + first);
    ASSERT_EQ(a.status, 0) << a.output;
    ToolRun b = Tool("convert " + first + " " + second + " --arg UnixFormat=true");
    ASSERT_EQ(b.status, 0) << b.output;
    ToolRun original = Tool("show --json " + ExamplePath());
    ToolRun copy = Tool("show --json " + second);
    auto body = [](std::string text, const std::string& name) {
        // The tree root takes the file's name.
        auto at = text.find("\"" + name + "\"");
        while (at != std::string::npos) {
            text.replace(at, name.size() + 2, "\"NAME\"");
            at = text.find("\"" + name + "\"");
        }
        return text;
    };
    EXPECT_EQ(body(copy.output, "round_trip_2"), body(original.output, "water_ethanol"));
}

TEST(CartovaneTool, QorFilesConvertThroughXsdToTheSameFile) {
    const std::string dir = ::testing::TempDir();
    const std::string input = dir + "/tool_in.qor", direct = dir + "/tool_direct.qor", xsd = dir + "/tool_mid.xsd",
                      back = dir + "/tool_back.qor";
    std::ofstream(input) << "# QOR DRAVIK4 DataModel File Version 4 0\n"
                            "(1 Model\n  (A C Label \"pair\")\n"
                            "  (2 Subunit\n    (A C Label \"RES\")\n    (A I Id 5)\n"
                            "    (3 Atom\n      (A C ACL \"8 O\")\n      (A C Label \"O1\")\n      (A D XYZ (0 0 0.125))\n"
                            "      (A F Charge -0.75)\n      (A C FFType \"o*\")\n      (A I Moveable 0)\n      (A O Switch 3)\n    )\n"
                            "    (4 Atom\n      (A C ACL \"1 H\")\n      (A D XYZ (0 0.75 -0.5))\n      (A O Switch 3)\n    )\n"
                            "    (5 Bond\n      (A O Atom1 3)\n      (A O Atom2 4)\n      (A I Type 8)\n    )\n  )\n"
                            "  (6 Atom\n    (A C ACL \"116 **\")\n  )\n)\n";
    ConvertQorThroughXsd(input, direct, xsd, back);
    const std::string written = Slurp(direct);
    EXPECT_NE(written.find("(A C ACL \"0 H\")"), std::string::npos) << written;
    EXPECT_NE(written.find("(A F Mass 2.014101743698)"), std::string::npos) << written;  // deuterium
    EXPECT_EQ(written.find('\r'), std::string::npos);
    EXPECT_EQ(Slurp(back), written);

    ToolRun show = Tool("show --json " + direct);
    ASSERT_EQ(show.status, 0) << show.output;
    const auto json = nlohmann::json::parse(show.output);
    EXPECT_EQ(json["document"]["name"], "pair") << show.output;  // the model's label
}

// The bundled polymer: its cell and group, repeat units with their head and tail atoms, the charge
// group with its members and centre, the surface with its mesh, the symmetry child, in both forms
// of show.
TEST(CartovaneTool, ShowPrintsRepeatUnitsChargeGroupsAndSurfaces) {
    const std::string example = std::string(CARTOVANE_TEST_DATA) + "/../../examples/polymer_chain.qor";
    ToolRun text = Tool("show " + example);
    ASSERT_EQ(text.status, 0) << text.output;
    for (const char* line : {"    MultiScaleRepeatUnit \"EO1\" #1 head #2 tail #3\n",
                             "      ChargeGroup #0 members #2 #3 center #3\n",
                             "    LegacySurfaceObject \"patch\" #19 mesh 4 vertices 2 triangles color (0 0 255 128)\n"})
        EXPECT_NE(text.output.find(line), std::string::npos) << line << text.output;
    ToolRun json = Tool("show --json " + example);
    ASSERT_EQ(json.status, 0) << json.output;
    const nlohmann::json parsed = nlohmann::json::parse(json.output);
    const nlohmann::json& cell = parsed["document"]["children"][0];
    EXPECT_EQ(cell["group"], "P-1");
    const nlohmann::json& unit = cell["children"][0];
    EXPECT_EQ(unit["class"], "MultiScaleRepeatUnit");
    EXPECT_EQ(unit["head"], 2);
    EXPECT_EQ(unit["tail"], 3);
    const nlohmann::json& group = unit["children"][2];
    EXPECT_EQ(group["class"], "ChargeGroup");
    EXPECT_EQ(group["members"], nlohmann::json::array({2, 3}));
    EXPECT_EQ(group["center"], 3);
    const nlohmann::json& surface = cell["children"][2];
    EXPECT_EQ(surface["class"], "LegacySurfaceObject");
    EXPECT_EQ(surface["mesh"]["vertices"], 4);
    EXPECT_EQ(surface["mesh"]["triangles"], 2);
    EXPECT_EQ(surface["mesh"]["color"], nlohmann::json::array({0, 0, 255, 128}));
    const nlohmann::json& image = cell["children"][4];
    EXPECT_EQ(image["class"], "Atom3d");
    EXPECT_EQ(image["xyz"], nlohmann::json::array({-4.4, 0, 0})) << image;
}

TEST(CartovaneTool, XmlDocumentsConvertBothWaysWithoutLoss) {
    std::string dir = ::testing::TempDir();
    std::string xsd = dir + "/xml_model.xsd";
    ToolRun toXsd = Tool("convert " + ExamplePath() + " " + xsd);
    ASSERT_EQ(toXsd.status, 0) << toXsd.output;
    ToolRun reference = Tool("show --json " + xsd);
    ASSERT_EQ(reference.status, 0) << reference.output;

    // CAR -> XSD -> CAR: the CAR file names the model after itself.
    std::string car = dir + "/xml_back.car";
    ToolRun toCar = Tool("convert " + xsd + " " + car);
    ASSERT_EQ(toCar.status, 0) << toCar.output;
    ToolRun original = Tool("show --json " + ExamplePath());
    ToolRun back = Tool("show --json " + car);
    auto named = [](std::string text, const std::string& from) {
        for (auto at = text.find("\"" + from + "\""); at != std::string::npos; at = text.find("\"" + from + "\""))
            text.replace(at, from.size() + 2, "\"NAME\"");
        return text;
    };
    EXPECT_EQ(named(back.output, "xml_back"), named(original.output, "water_ethanol"));

    // XSD -> each document type -> XSD: the XML documents keep the model's own name.
    for (const char* extension : {"xod", "msd", "gsd", "xtd", "mtd"}) {
        SCOPED_TRACE(extension);
        std::string other = dir + "/xml_model." + extension, again = dir + "/xml_again_" + extension + ".xsd";
        ToolRun there = Tool("convert " + xsd + " " + other);
        ASSERT_EQ(there.status, 0) << there.output;
        ToolRun home = Tool("convert " + other + " " + again);
        ASSERT_EQ(home.status, 0) << home.output;
        EXPECT_EQ(Tool("show --json " + again).output, reference.output);
    }
}

// The binary stream has no extension: the tool names its component, and a stream restored into
// a new document saves the same XSD file as the document it came from.
TEST(CartovaneTool, BinaryStreamRoundTripsThroughTheNamedComponents) {
    std::string dir = ::testing::TempDir();
    std::string xsd = dir + "/binary_model.xsd", bin = dir + "/binary_model.bin", back = dir + "/binary_model.xsd2";
    ASSERT_EQ(Tool("convert " + ExamplePath() + " " + xsd).status, 0);
    ToolRun save = Tool("convert " + xsd + " " + bin + " --exporter SDCartovane.BinaryImportExport");
    ASSERT_EQ(save.status, 0) << save.output;
    ToolRun restore = Tool("convert " + bin + " " + back + " --importer SDCartovane.BinaryImportExport"
                           " --exporter SDCartovane.XSDImportExport --document Pendrake.Atomistic3dDocument");
    ASSERT_EQ(restore.status, 0) << restore.output;
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(back), read(xsd));
    // The components the host names for undo, the periodic table and the bead types are built.
    ToolRun components = Tool("components");
    for (const char* progId : {"SDCartovane.BinaryImportExport", "SDCartovane.PeriodicTableImportExport",
                               "SDCartovane.BeadTypesImportExport"}) {
        const auto at = components.output.find(std::string(" ") + progId + " ");
        ASSERT_NE(at, std::string::npos) << progId;
        const std::string line = components.output.substr(at, components.output.find('\n', at) - at);
        EXPECT_NE(line.find(" yes "), std::string::npos) << line;
    }
    ToolRun shown = Tool("show --json " + bin + " --importer SDCartovane.BinaryImportExport");
    ASSERT_EQ(shown.status, 0) << shown.output;
    EXPECT_EQ(shown.output, Tool("show --json " + xsd).output);

    struct Case {
        const char* args;
        const char* says;
    } refused[] = {
        {"show %BIN", "No component reads files like"},
        {"show %BIN --importer", "--importer needs a PROGID"},
        {"show %BIN --importer SDCartovane.NoSuchImportExport", "cannot import"},
        {"show %XSD --importer SDCartovane.BinaryImportExport", "Unable to process content - "},
    };
    for (const Case& c : refused) {
        std::string args = c.args;
        if (auto at = args.find("%BIN"); at != std::string::npos) args.replace(at, 4, bin);
        if (auto at = args.find("%XSD"); at != std::string::npos) args.replace(at, 4, xsd);
        SCOPED_TRACE(args);
        ToolRun run = Tool(args);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    }
}

// A frame's energies on the root and stresses on the symmetry system show as their properties
// and survive the document copy an XSD export makes.
TEST(CartovaneTool, FrameValuesShowAsPropertiesAndCopyWithTheDocument) {
    std::string dir = ::testing::TempDir();
    std::string plain = dir + "/frame_values_plain.xsd";
    ASSERT_EQ(Tool("convert " + ExamplePath() + " " + plain).status, 0);
    std::ifstream in(plain, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto [element, values] : {std::pair<std::string, std::string>{"<AtomisticTreeRoot ", "TotalEnergy=\"-12.5\" Temperature=\"300\" "},
                                   {"<MultiScaleSymmetrySystem ", "PotentialStress=\"1,2,3,2,5,6,3,6,9\" "}}) {
        auto at = text.find(element);
        ASSERT_NE(at, std::string::npos) << element;
        text.insert(at + element.size(), values);
    }
    std::string energies = dir + "/frame_values.xsd", copy = dir + "/frame_values_copy.xsd";
    std::ofstream(energies, std::ios::binary) << text;

    ToolRun shown = Tool("show --json " + energies);
    ASSERT_EQ(shown.status, 0) << shown.output;
    for (const char* expected : {"\"TotalEnergy\": -12.5", "\"Temperature\": 300.0",
                                 "\"PotentialStress\": [\n"})
        EXPECT_NE(shown.output.find(expected), std::string::npos) << expected << "\n" << shown.output;
    EXPECT_EQ(shown.output.find("KineticEnergy"), std::string::npos) << "unassigned energies show";

    ASSERT_EQ(Tool("convert " + energies + " " + copy).status, 0);
    EXPECT_EQ(Tool("show --json " + copy).output, shown.output);
}

// An export that fails replaces nothing: with the MDF beside the output unwritable, the old CAR
// stays and no temporary file is left.
TEST(CartovaneTool, AFailedConvertLeavesTheOldFiles) {
    cvtest::TempDir dir;
    const std::string car = dir.Put("out.car", "old car\n");
    const std::string mdf = dir.Put("out.mdf", "old mdf\n");
    cvtest::UnwritableFile unwritable(mdf);
    if (!unwritable.Possible()) GTEST_SKIP() << "no way to make a file unwritable here";
    ToolRun run = Tool("convert " + ExamplePath() + " " + car);
    EXPECT_NE(run.status, 0) << run.output;
    EXPECT_EQ(cvtest::TempDir::Slurp(car), "old car\n");
    EXPECT_EQ(cvtest::TempDir::Slurp(mdf), "old mdf\n");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"out.car", "out.mdf"}));
}

TEST(CartovaneTool, BadArgumentsAreRefused) {
    for (const char* args : {"show", "show a.car b.car", "convert a.car", "show --arg x a.car", "show --bogus a.car"}) {
        ToolRun run = Tool(args);
        EXPECT_NE(run.status, 0) << args;
    }
}

// What the CAR reader finds wrong reaches the user: a failure with the line it stands on and the
// message text, a warning on standard error.
TEST(CartovaneTool, CarProblemsNameTheirLine) {
    const std::string header = "!KORVEN archive 3\nPBC=OFF\ntitle\n!DATE\n";
    const std::string atom = "C1       1.000000000    2.000000000    3.000000000 R    1      c       C   0.000\n";
    struct Case {
        const char* name;
        std::string text;
        int status;  // 0 or not 0
        std::string shown;
    };
    const Case cases[] = {
        {"bad_coordinate.car", header + atom + "C2             nan    2.0    3.0 R    1      c       C   0.000\nend\nend\n", 1,
         "cannot import " + std::string(::testing::TempDir()) +
             "/bad_coordinate.car: Line 6: the x coordinate \"nan\" is not a finite number. "
             "(Car/Mdf File Loader Errors.)"},
        {"cut.car", header + atom, 0, "warning: CAR/MDF importer: Problems were encountered reading the Car file "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = std::string(::testing::TempDir()) + "/" + c.name;
        FILE* f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(c.text.c_str(), f);
        fclose(f);
        ToolRun run = Tool("show " + path);
        EXPECT_EQ(run.status != 0, c.status != 0) << run.output;
        EXPECT_NE(run.output.find(c.shown), std::string::npos) << run.output;
        if (c.status == 0) {
            EXPECT_NE(run.output.find("Line 5: the text ends inside molecule 1"), std::string::npos) << run.output;
        }
    }
}

// A periodic QOR file: show gives the cell's group and the image the file names; converting it
// through an XSD document writes the same file.
TEST(CartovaneTool, PeriodicQorFilesShowTheirCellAndConvertThroughXsd) {
    const std::string dir = ::testing::TempDir();
    const std::string input = dir + "/tool_cell.qor", direct = dir + "/tool_cell_direct.qor",
                      xsd = dir + "/tool_cell.xsd", back = dir + "/tool_cell_back.qor";
    std::ofstream(input) << "# QOR DRAVIK4 DataModel File Version 4 0\n"
                            "(1 Model\n  (A C Label \"cell\")\n  (A I PeriodicType 100)\n  (A C SpaceGroup \"2 1\")\n"
                            "  (A D A3 (5 0 0))\n  (A D B3 (0 6 0))\n  (A D C3 (0 0 7))\n"
                            "  (2 Atom\n    (A C ACL \"6 C\")\n    (A D XYZ (1 1 1))\n    (A O SymChildren ( 3))\n  )\n"
                            "  (3 Atom\n    (A C SymType \"Symmetry\")\n  )\n"
                            "  (4 Bond\n    (A O Atom1 2)\n    (A O Atom2 3)\n  )\n)\n";
    ToolRun show = Tool("show " + input);
    ASSERT_EQ(show.status, 0) << show.output;
    EXPECT_NE(show.output.find(" group P-1\n"), std::string::npos) << show.output;
    ConvertQorThroughXsd(input, direct, xsd, back);
    EXPECT_NE(Slurp(direct).find("    (A O SymChildren ( 3))\n"), std::string::npos) << Slurp(direct);
    EXPECT_EQ(Slurp(back), Slurp(direct));

    // A file whose translation images cannot be resolved fails with its message.
    const std::string broken = dir + "/tool_cell_broken.qor";
    std::ofstream(broken) << "# QOR DRAVIK4 DataModel File Version 4 0\n(1 Model\n  (A I PeriodicType 100)\n"
                             "  (2 Atom\n    (A C SymType \"Periodic\")\n    (A O PerParent 9)\n  )\n)\n";
    ToolRun failed = Tool("show " + broken);
    EXPECT_NE(failed.status, 0) << failed.output;
    EXPECT_NE(failed.output.find("Problem replicating translational atoms"), std::string::npos) << failed.output;
}

// A crystal file: the rows and their symmetry images, the group with the setting the file chose;
// the crystal component reads only, so writing one fails cleanly.
TEST(CartovaneTool, XtlCrystalsShowWholeAndCannotBeWritten) {
    const std::string example = std::string(CARTOVANE_TEST_DATA) + "/../../examples/rock_salt.xtl";
    ToolRun run = Tool("show " + example);
    ASSERT_EQ(run.status, 0) << run.output;
    std::size_t atoms = 0;
    for (std::size_t at = run.output.find("Atom3d \""); at != std::string::npos; at = run.output.find("Atom3d \"", at + 1))
        ++atoms;
    EXPECT_EQ(atoms, 8u) << run.output;
    EXPECT_NE(run.output.find(" group Fm-3m\n"), std::string::npos) << run.output;

    const std::string diamond = PutFile("diamond.xtl",
                                        "CELL 5.431 5.431 5.431 90 90 90\nSYMMETRY LABEL Fd-3m QUALIFIER ORIGIN_2\n"
                                        "ATOMS\nNAME X Y Z\nSi 0.125 0.125 0.125\n");
    ToolRun text = Tool("show " + diamond);
    ASSERT_EQ(text.status, 0) << text.output;
    EXPECT_NE(text.output.find(" group Fd-3m [Origin-2]\n"), std::string::npos) << text.output;
    ToolRun json = Tool("show --json " + diamond);
    ASSERT_EQ(json.status, 0) << json.output;
    const nlohmann::json document = nlohmann::json::parse(json.output);
    const nlohmann::json& system = document["document"]["children"][0];
    EXPECT_EQ(system["group"], "Fd-3m");
    EXPECT_EQ(system["qualifier"], "Origin-2");

    const std::string target = std::string(::testing::TempDir()) + "/written.xtl";
    std::filesystem::remove(target);
    ToolRun convert = Tool("convert " + ExamplePath() + " " + target);
    EXPECT_NE(convert.status, 0) << convert.output;
    EXPECT_NE(convert.output.find("cannot export"), std::string::npos) << convert.output;
}

// ChemistryXML both ways: the bundled molecule written, read and written again gives the same
// bytes; a periodic model is refused.
TEST(CartovaneTool, ChemistryXmlConvertsBothWays) {
    const std::string glycine = std::string(CARTOVANE_TEST_DATA) + "/../../examples/glycine.chemxml";
    ToolRun shown = Tool("show " + glycine);
    ASSERT_EQ(shown.status, 0) << shown.output;
    EXPECT_NE(shown.output.find("  MultiScaleMolecule"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("Atom3d \"N2\""), std::string::npos) << shown.output;

    const std::string dir = ::testing::TempDir();
    ToolRun out = Tool("convert " + glycine + " " + dir + "/glycine_out.chemxml");
    ASSERT_EQ(out.status, 0) << out.output;
    ToolRun back = Tool("convert " + dir + "/glycine_out.chemxml " + dir + "/again.chemxml");
    ASSERT_EQ(back.status, 0) << back.output;
    std::ifstream first(dir + "/glycine_out.chemxml"), second(dir + "/again.chemxml");
    const std::string a{std::istreambuf_iterator<char>(first), {}}, b{std::istreambuf_iterator<char>(second), {}};
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, b);

    ToolRun periodic = Tool("convert " + ExamplePath() + " " + dir + "/periodic.chemxml");
    EXPECT_NE(periodic.status, 0);
    EXPECT_NE(periodic.output.find("Unable to save periodic systems using this file format."), std::string::npos)
        << periodic.output;
}

}  // namespace

namespace {

std::string ExampleArc() { return std::string(CARTOVANE_TEST_DATA) + "/../../examples/water_ethanol.arc"; }

// "<name>.arc" (the example's frames, changed by edit) with the example's model beside it as
// "<name>.car" and "<name>.mdf", in a directory of its own.
std::string ArcBesideItsModel(const std::string& name, const std::function<std::string(std::string)>& edit = {}) {
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / ("arc_" + name);
    std::filesystem::create_directories(dir);
    const std::filesystem::path example = std::filesystem::path(ExampleArc()).parent_path();
    for (const char* extension : {".car", ".mdf"})
        std::filesystem::copy_file(example / (std::string("water_ethanol") + extension), dir / (name + extension),
                                   std::filesystem::copy_options::overwrite_existing);
    std::string frames = Slurp(ExampleArc());
    std::ofstream(dir / (name + ".arc"), std::ios::binary | std::ios::trunc) << (edit ? edit(frames) : frames);
    return (dir / (name + ".arc")).string();
}

// The lines of text that begin with prefix.
std::vector<std::string> LinesFrom(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
}

// The example's four frames: energy and cell edge as its lines give them.
constexpr std::pair<double, double> kExampleFrames[] = {
    {-152.3817, 12.0}, {-151.9042, 12.1}, {-152.6675, 12.2}, {-152.1208, 12.15}};

TEST(CartovaneTool, FramesPlaysTheExampleArcTrajectory) {
    ToolRun text = Tool("frames " + ExampleArc());
    ASSERT_EQ(text.status, 0) << text.output;
    EXPECT_EQ(text.output.rfind(ExampleArc() + " trajectory \"arc\" frames 4\n", 0), 0u) << text.output;
    EXPECT_EQ(LinesFrom(text.output, "frame ").size(), 4u) << text.output;
    EXPECT_NE(text.output.find("\nframe 3 step 0.0000 energy -152.6675 cell 12.2000 12.2000 12.2000 90.0000 90.0000 "
                               "90.0000\n"),
              std::string::npos)
        << text.output;

    // Standard output alone: the JSON document.
    ToolRun json = Tool("frames --json " + ExampleArc() + " 2>/dev/null; : ");
    ASSERT_EQ(json.status, 0) << json.output;
    nlohmann::ordered_json doc = nlohmann::ordered_json::parse(json.output);
    EXPECT_EQ(doc["trajectory"], (nlohmann::ordered_json{{"type", "arc"}, {"frames", 4}}));
    ASSERT_EQ(doc["frames"].size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const nlohmann::ordered_json& frame = doc["frames"][i];
        EXPECT_EQ(frame["frame"], i + 1);
        EXPECT_EQ(frame["energy"], kExampleFrames[i].first);
        EXPECT_TRUE(frame["time"].is_null()) << "an ARC frame gives no time";
        EXPECT_EQ(frame["third"], 0.0);
        EXPECT_EQ(frame["timeStep"], 0.0);
        EXPECT_TRUE(frame["energies"].empty());
        EXPECT_EQ(frame["cell"]["a"], kExampleFrames[i].second);
        EXPECT_EQ(frame["cell"]["gamma"], 90.0);
    }
    EXPECT_TRUE(doc["failed"].is_null());

    ToolRun shown = Tool("show " + ExampleArc() + " --frame 3");
    ASSERT_EQ(shown.status, 0) << shown.output;
    EXPECT_NE(shown.output.find("cell 12.2000 12.2000 12.2000 90.0000 90.0000 90.0000 group P1\n"), std::string::npos);
    EXPECT_EQ(LinesFrom(shown.output, "  Trajectory ").at(0), "  Trajectory \"Trajectory\" #0 type \"arc\" frame 3 of 4");
    nlohmann::ordered_json model = nlohmann::ordered_json::parse(Tool("show --json --frame 4 " + ExampleArc()).output);
    EXPECT_EQ(model["trajectory"], (nlohmann::ordered_json{{"type", "arc"},
                                                           {"frames", 4},
                                                           {"frame", 4},
                                                           {"energy", kExampleFrames[3].first},
                                                           {"time", nullptr},
                                                           {"third", 0.0},
                                                           {"timeStep", 0.0}}));
    EXPECT_EQ(model["document"]["children"][0]["cell"]["a"], 12.15);
}

// A damaged frame ends the play with the loader's text; the frames before it stay.
TEST(CartovaneTool, AnArcFrameThatCannotBeReadKeepsTheFramesBeforeIt) {
    // The third frame's "!DATE" line spelt otherwise: the frames keep their length, so only
    // reading that frame finds it.
    const std::string arc = ArcBesideItsModel("damaged", [](std::string text) {
        std::size_t at = 0;
        for (int k = 0; k < 3; ++k) at = text.find("\n!DATE", at + 1);
        return text.replace(at + 1, 5, "!DATX");
    });
    const std::string why = "Unexpected error reading frame 2.\nWill attempt to display frames read in so far.";
    ToolRun text = Tool("frames " + arc);
    EXPECT_NE(text.status, 0);
    EXPECT_EQ(LinesFrom(text.output, "frame ").size(), 2u) << text.output;
    EXPECT_NE(text.output.find("cartovane: " + arc + ": frame 3 cannot be loaded: " + why), std::string::npos)
        << text.output;

    ToolRun json = Tool("frames --json " + arc + " 2>/dev/null; : ");
    nlohmann::ordered_json doc = nlohmann::ordered_json::parse(json.output);
    EXPECT_EQ(doc["frames"].size(), 2u);
    EXPECT_EQ(doc["failed"], (nlohmann::ordered_json{{"frame", 3}, {"error", why}}));

    ToolRun shown = Tool("show " + arc + " --frame 3 2>/dev/null; : ");
    EXPECT_EQ(shown.output, "");
}

// An ARC import converts like any model: a trajectory document takes its trajectory file along
// and plays the same frames; a CAR file gets the model as the import left it (frame 1); there is
// no ARC exporter.
TEST(CartovaneTool, ArcImportsConvert) {
    // The companion's first atom stands elsewhere than in frame 1.
    const std::string arc = ArcBesideItsModel("converted");
    std::filesystem::path car = std::filesystem::path(arc).replace_extension(".car");
    const std::string model = Slurp(car.string());
    std::ofstream(car, std::ios::binary | std::ios::trunc) << Replaced(model, "O1       2.000000000", "O1       5.000000000");
    const std::filesystem::path dir = std::filesystem::path(arc).parent_path();
    auto played = [](const std::string& path) {
        std::vector<std::string> lines = LinesFrom(Tool("frames " + path).output, "frame ");
        EXPECT_EQ(lines.size(), 4u) << path;
        return lines;
    };

    const std::string xtd = (dir / "run.xtd").string(), again = (dir / "again.xtd").string();
    ToolRun toXtd = Tool("convert " + arc + " " + xtd);
    ASSERT_EQ(toXtd.status, 0) << toXtd.output;
    EXPECT_EQ(Slurp((dir / "run.arc").string()), Slurp(arc));
    EXPECT_EQ(played(xtd), played(arc));
    ToolRun toAgain = Tool("convert " + xtd + " " + again);
    ASSERT_EQ(toAgain.status, 0) << toAgain.output;
    EXPECT_EQ(Slurp((dir / "again.arc").string()), Slurp(arc));
    EXPECT_EQ(played(again), played(arc));

    const std::string out = (dir / "first_frame.car").string();
    ToolRun toCar = Tool("convert " + arc + " " + out);
    ASSERT_EQ(toCar.status, 0) << toCar.output;
    std::vector<std::string> atoms = LinesFrom(Tool("show " + out).output, "        Atom3d ");
    ASSERT_FALSE(atoms.empty());
    EXPECT_EQ(atoms, LinesFrom(Tool("show " + arc + " --frame 1").output, "        Atom3d "));
    EXPECT_NE(atoms, LinesFrom(Tool("show " + car.string()).output, "        Atom3d "));

    const std::string arcOut = (dir / "exported.arc").string();
    ToolRun toArc = Tool("convert " + arc + " " + arcOut);
    EXPECT_NE(toArc.status, 0);
    EXPECT_NE(toArc.output.find("cannot export " + arcOut + ": No such interface supported"), std::string::npos)
        << toArc.output;
    EXPECT_FALSE(std::filesystem::exists(arcOut));
}

// A TRJ file with its QOR model beside it: every frame's time, step, energies and temperature;
// the model after a frame; a trajectory document that takes the TRJ file along and plays the
// same frames; no TRJ exporter.
TEST(CartovaneTool, TrjTrajectoriesPlayAndConvert) {
    cvtest::TempDir dir;
    cvtest::TrjParameters params;
    params.movingIds = {3, 2};
    const std::string trj = dir.Put("run.trj", cvtest::MakeTrj(params).Bytes());
    dir.Put("run.qor", Slurp(std::string(CARTOVANE_TEST_DATA) + "/qor_trj_xtl_chemxml/pair.qor"));

    ToolRun frames = Tool("frames " + trj);
    ASSERT_EQ(frames.status, 0) << frames.output;
    const std::vector<std::string> lines = LinesFrom(frames.output, "frame ");
    ASSERT_EQ(lines.size(), 3u) << frames.output;
    EXPECT_EQ(lines[1].rfind("frame 2 time 10.0000 step 10.0000 energy -101.0000 TotalEnergy -101.0000 "
                             "KineticEnergy 51.0000 PotentialEnergy 1.2500 ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(" Temperature 301.0000"), std::string::npos) << lines[1];
    EXPECT_NE(frames.output.find(trj + " trajectory \"trj\" frames 3"), std::string::npos) << frames.output;

    ToolRun shown = Tool("show " + trj + " --frame 3 --json");
    ASSERT_EQ(shown.status, 0) << shown.output;
    const nlohmann::json doc = nlohmann::json::parse(shown.output);
    EXPECT_EQ(doc["trajectory"]["frame"], 3);
    EXPECT_EQ(doc["trajectory"]["time"], 20.0);

    const std::string xtd = dir.File("copy.xtd");
    ToolRun toXtd = Tool("convert " + trj + " " + xtd);
    ASSERT_EQ(toXtd.status, 0) << toXtd.output;
    EXPECT_EQ(Slurp(dir.File("copy.trj")), Slurp(trj));
    ToolRun again = Tool("frames " + xtd);
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(LinesFrom(again.output, "frame "), lines);

    const std::string out = dir.File("exported.trj");
    ToolRun toTrj = Tool("convert " + trj + " " + out);
    EXPECT_NE(toTrj.status, 0);
    EXPECT_NE(toTrj.output.find("cannot export " + out + ": No such interface supported"), std::string::npos)
        << toTrj.output;
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
