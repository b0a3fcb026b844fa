// The tool's show --frame and frames commands, run in the test process as the tool runs them, on
// a trajectory document whose trajectory the test's "PLAYLoader" plays (any fault on request).
#include <gtest/gtest.h>

#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "datamodel/atomistic.h"
#include "datamodel/iterator.h"
#include "formats/carmdf/his_support.h"
#include "support/his_file.h"
#include "support/library_components.h"
#include "support/play_loader.h"
#include "support/temp_dir.h"
#include "tools/cartovane/commands.h"
#include "utilities/import_utilities.h"

namespace {

using cvtest::PlayLoader;
using nlohmann::ordered_json;

std::string ExamplePath() { return std::string(CARTOVANE_TEST_DATA) + "/../../examples/water_ethanol.car"; }

struct Printed {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

class ToolCommands : public ::testing::Test {
protected:
    void SetUp() override {
        PlayLoader::Controls() = {};
        cvtest::RegisterLibraryComponents();
        xtd = MakeDocument();
    }

    // "run.xtd": the example model (periodic) with TotalEnergy on its root and a "play"
    // trajectory; "run.play" beside it with three frames: frame 2 gives no result, frame 3
    // only its energy; frame k puts object i at (k + i / 10, 0, 0).
    std::string MakeDocument() {
        cartovane::tool::Session session;
        CfxComPtr<host::Model3dDocument> document;
        CfxComPtr<host::Arguments> none = host::Arguments::Create();
        EXPECT_EQ(session.Import(ExamplePath(), *none.Get(), document).hr, S_OK);
        xxTreeRoot& tree = document->Tree();
        xxClassicalEnergyHolder::m_pptTotalEnergy.SetValue(tree, -12.5);
        ImportUtilities::CreateDefaultedTrajectory(&session.Root(), tree, "play", xxBondable::classType);
        const std::string path = dir.File("run.xtd");
        EXPECT_EQ(session.Export(*document.Get(), path, *none.Get()).hr, S_OK);

        xxModelIterator objects(tree, {xxBondable::classType});
        while (objects.GetNext()) ++objectCount;
        const char* results[] = {"-1.5 0.1 7 0.05", "- - - -", "-3.5 - - -"};
        std::string frames;
        for (int k = 1; k <= 3; ++k) {
            frames += results[k - 1];
            for (int i = 0; i < objectCount; ++i) frames += " " + std::to_string(k + i / 10.0) + " 0 0";
            frames += "\n";
        }
        dir.Put("run.play", frames);
        return path;
    }

    static Printed Command(int (*command)(cartovane::tool::Session&, const cartovane::tool::Options&, std::ostream&),
                       std::vector<std::string> args) {
        cartovane::tool::Session session;
        std::ostringstream out;
        Printed run;
        ::testing::internal::CaptureStderr();
        run.status = command(session, cartovane::tool::ParseOptions(args), out);
        run.err = ::testing::internal::GetCapturedStderr();
        run.out = out.str();
        return run;
    }
    static Printed Frames(std::vector<std::string> args) {
        args.insert(args.begin(), "frames");
        return Command(&cartovane::tool::Frames, std::move(args));
    }
    static Printed Show(std::vector<std::string> args) {
        args.insert(args.begin(), "show");
        return Command(&cartovane::tool::Show, std::move(args));
    }
    static ordered_json Parsed(const Printed& run) {
        ordered_json parsed = ordered_json::parse(run.out);  // throws when not JSON
        EXPECT_EQ(parsed.dump(2) + "\n", run.out) << "not laid out as the JSON library lays it out";
        return parsed;
    }

    // The first object with a position in tree order: the first the trajectory moves.
    static const ordered_json& FirstAtom(const ordered_json& object) {
        static const ordered_json none;
        if (object.contains("xyz")) return object;
        if (!object.contains("children")) return none;
        for (const ordered_json& child : object["children"])
            if (const ordered_json& atom = FirstAtom(child); !atom.is_null()) return atom;
        return none;
    }

    cvtest::TempDir dir;
    int objectCount = 0;
    std::string xtd;
};

TEST_F(ToolCommands, FramesPrintsALinePerFrameWithWhatItGave) {
    Printed run = Frames({xtd});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string cell = " cell 12.0000 12.0000 12.0000 90.0000 90.0000 90.0000\n";
    EXPECT_EQ(run.out, xtd + " trajectory \"play\" frames 3\n"
                             "frame 1 time 0.1000 step 0.0500 energy -1.5000 TotalEnergy -12.5000" + cell +
                             "frame 2 TotalEnergy -12.5000" + cell + "frame 3 energy -3.5000 TotalEnergy -12.5000" + cell);
    EXPECT_EQ(PlayLoader::Controls().framesLoaded, (std::vector<int>{0, 1, 2}));
}

TEST_F(ToolCommands, FramesJsonHasEveryFrameWithNullsForWhatItDidNotGive) {
    Printed run = Frames({xtd, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    ordered_json doc = Parsed(run);
    EXPECT_EQ(doc["result"], "0x00000000");
    EXPECT_TRUE(doc["error"].is_null());
    EXPECT_TRUE(doc["diagnostics"].is_array());
    EXPECT_EQ(doc["trajectory"], (ordered_json{{"type", "play"}, {"frames", 3}}));
    ASSERT_EQ(doc["frames"].size(), 3u);
    struct Expected {
        ordered_json energy, time, third, timeStep;
    } expected[] = {{-1.5, 0.1, 7.0, 0.05}, {nullptr, nullptr, nullptr, nullptr}, {-3.5, nullptr, nullptr, nullptr}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const ordered_json& frame = doc["frames"][i];
        EXPECT_EQ(frame["frame"], i + 1);
        EXPECT_EQ(frame["energy"], expected[i].energy);
        EXPECT_EQ(frame["time"], expected[i].time);
        EXPECT_EQ(frame["third"], expected[i].third);
        EXPECT_EQ(frame["timeStep"], expected[i].timeStep);
        EXPECT_EQ(frame["energies"], (ordered_json{{"TotalEnergy", -12.5}}));
        EXPECT_EQ(frame["cell"], (ordered_json{{"a", 12.0}, {"b", 12.0}, {"c", 12.0}, {"alpha", 90.0}, {"beta", 90.0},
                                               {"gamma", 90.0}}));
    }
    EXPECT_TRUE(doc["failed"].is_null());
}

// A frame that cannot be loaded ends the play: the frames before it stay, the failure names it
// with the last error's text.
TEST_F(ToolCommands, AFrameThatCannotBeLoadedKeepsTheFramesBeforeIt) {
    struct Case {
        const char* what;
        int failFrame, throwAtFrame;  // the loader's frames, from 0
        std::string why;
    } cases[] = {
        {"the loader answers false", 1, -1, ""},
        {"the loader throws", -1, 1, ": Trajectory reader is operating on an unexpected kind of document."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool json : {false, true}) {
            SCOPED_TRACE(json);
            PlayLoader::Controls() = {};
            PlayLoader::Controls().failFrame = c.failFrame;
            PlayLoader::Controls().throwAtFrame = c.throwAtFrame;
            Printed run = json ? Frames({xtd, "--json"}) : Frames({xtd});
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find(xtd + ": frame 2 cannot be loaded" + c.why + "\n"), std::string::npos) << run.err;
            EXPECT_EQ(PlayLoader::Controls().framesLoaded, (std::vector<int>{0, 1})) << "played on after the failure";
            if (!json) {
                EXPECT_EQ(run.out.find("frame 2"), std::string::npos) << run.out;
                EXPECT_NE(run.out.find("\nframe 1 time 0.1000"), std::string::npos) << run.out;
                continue;
            }
            ordered_json doc = Parsed(run);
            ASSERT_EQ(doc["frames"].size(), 1u);
            EXPECT_EQ(doc["frames"][0]["frame"], 1);
            EXPECT_EQ(doc["failed"]["frame"], 2);
            EXPECT_EQ(doc["failed"]["error"], c.why.empty() ? "" : c.why.substr(2));
        }
    }
}

TEST_F(ToolCommands, ShowFrameShowsTheModelAfterThatFrame) {
    struct Case {
        const char* frame;
        double x;  // the first object's x
        ordered_json energy, time;
    } cases[] = {{"1", 1.0, -1.5, 0.1}, {"2", 2.0, nullptr, nullptr}, {"3", 3.0, -3.5, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        Printed text = Show({xtd, "--frame", c.frame});
        ASSERT_EQ(text.status, 0) << text.err;
        const auto at = text.out.find("\n  Trajectory ");
        ASSERT_NE(at, std::string::npos) << text.out;
        const std::string line = text.out.substr(at + 1, text.out.find('\n', at + 1) - at - 1);
        EXPECT_TRUE(line.ends_with(" type \"play\" frame " + std::string(c.frame) + " of 3")) << line;

        Printed run = Show({xtd, "--frame", c.frame, "--json"});
        ASSERT_EQ(run.status, 0) << run.err;
        ordered_json doc = Parsed(run);
        const ordered_json& t = doc["trajectory"];
        EXPECT_EQ(t["type"], "play");
        EXPECT_EQ(t["frames"], 3);
        EXPECT_EQ(t["frame"], std::stoi(c.frame));
        EXPECT_EQ(t["energy"], c.energy);
        EXPECT_EQ(t["time"], c.time);
        ASSERT_TRUE(doc["document"].is_object());
        EXPECT_EQ(FirstAtom(doc["document"])["xyz"][0], c.x);
    }
}

// A frame outside 1 ... the count is refused: nothing on standard output (in JSON the document
// is null), the loader not asked.
TEST_F(ToolCommands, ShowFrameOutsideTheFramesIsRefused) {
    for (const char* frame : {"4", "0", "-1", "x", "", "1.5"}) {
        SCOPED_TRACE(frame);
        PlayLoader::Controls().framesLoaded.clear();
        const std::string message = xtd + " has 3 frames; frame " + frame + " does not exist";
        Printed text = Show({xtd, "--frame", frame});
        EXPECT_EQ(text.status, 1);
        EXPECT_EQ(text.out, "");
        EXPECT_NE(text.err.find("cartovane: " + message + "\n"), std::string::npos) << text.err;
        EXPECT_TRUE(PlayLoader::Controls().framesLoaded.empty());

        Printed run = Show({xtd, "--json", "--frame", frame});
        EXPECT_EQ(run.status, 1);
        ordered_json doc = Parsed(run);
        EXPECT_EQ(doc["result"], "0x80070057");
        EXPECT_EQ(doc["error"], message);
        EXPECT_EQ(doc["trajectory"]["frames"], 3);
        EXPECT_TRUE(doc["trajectory"]["frame"].is_null());
        EXPECT_TRUE(doc["document"].is_null());
    }
}

TEST_F(ToolCommands, AFileWithoutATrajectoryThatPlaysSaysSo) {
    struct Case {
        const char* what;
        std::string file;
        bool refuse;  // the loader refuses the trajectory
    } cases[] = {{"no trajectory", ExamplePath(), false}, {"a trajectory no loader serves", xtd, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlayLoader::Controls() = {};
        if (c.refuse) PlayLoader::Controls().refuseInit = "no";
        const std::string message = c.file + " has no trajectory";
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"frames", c.file}, {"show", c.file, "--frame", "1"}}) {
            SCOPED_TRACE(args[0]);
            Printed run = Command(args[0] == "frames" ? &cartovane::tool::Frames : &cartovane::tool::Show, args);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_NE(run.err.find("cartovane: " + message + "\n"), std::string::npos) << run.err;
        }
        Printed json = Frames({c.file, "--json"});
        EXPECT_EQ(json.status, 1);
        ordered_json doc = Parsed(json);
        EXPECT_EQ(doc["error"], message);
        EXPECT_TRUE(doc["trajectory"].is_null());
        EXPECT_TRUE(doc["frames"].empty());
        EXPECT_TRUE(doc["failed"].is_null());
    }
}

// A HIS trajectory through its component: each frame's time, step, energies and cell.
TEST_F(ToolCommands, FramesPlaysAHisTrajectoryWithItsEnergies) {
    cvtest::HisParameters params;
    params.frames = 3;
    const std::string his = dir.Put("md.his", cvtest::MakeHis(params).writer.Bytes());
    dir.Put("md.car", cvtest::carmdf::HisModelCar(params));

    Printed run = Frames({his, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    ordered_json doc = Parsed(run);
    EXPECT_EQ(doc["trajectory"], (ordered_json{{"type", "his"}, {"frames", 3}}));
    ASSERT_EQ(doc["frames"].size(), 3u);
    // The stored time step 1000 reads as 1; 10 steps between frames, from step 1.
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const ordered_json& frame = doc["frames"][static_cast<std::size_t>(i)];
        const auto energies = cvtest::HisParameters::Energies(i);  // total, potential, kinetic
        EXPECT_EQ(frame["frame"], i + 1);
        EXPECT_EQ(frame["energy"], energies[0]);
        EXPECT_EQ(frame["time"], 10.0 * (i + 1));
        EXPECT_EQ(frame["third"], 1.0);
        EXPECT_EQ(frame["timeStep"], 10.0);
        EXPECT_EQ(frame["energies"], (ordered_json{{"TotalEnergy", energies[0]},
                                                   {"KineticEnergy", energies[2]},
                                                   {"PotentialEnergy", energies[1]}}));
        EXPECT_DOUBLE_EQ(frame["cell"]["a"].get<double>(), params.Cell(i)[0]);
        EXPECT_DOUBLE_EQ(frame["cell"]["alpha"].get<double>(), params.Cell(i)[3] * 180 / std::numbers::pi);
    }
    EXPECT_TRUE(doc["failed"].is_null());

    Printed text = Frames({his});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("\nframe 2 time 20.0000 step 10.0000 energy -101.0000 TotalEnergy -101.0000 "
                            "KineticEnergy -39.0000 PotentialEnergy -61.0000 cell 10.1000 11.1000 12.1000 "),
              std::string::npos)
        << text.out;
}

}  // namespace
