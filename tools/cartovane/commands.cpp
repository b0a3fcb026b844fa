#include "tools/cartovane/commands.h"

#include <cstdio>
#include <stdexcept>

#include "base/text.h"
#include "datamodel/describe.h"
#include "datamodel/energy_holder.h"
#include "datamodel/symmetry/system.h"
#include "tools/cartovane/output.h"
#include "tools/cartovane/show.h"
#include "utilities/load.h"
#include "utilities/trajectory.h"

namespace cartovane::tool {

namespace {

// "true"/"false" -> bool, an integer -> int, else text.
CfxVariant ArgumentValue(const std::string& text) {
    if (text == "true") return CfxVariant(true);
    if (text == "false") return CfxVariant(false);
    std::int32_t number = 0;
    if (cartovane::text::ParseExact(text, number) == std::errc{}) return CfxVariant(number);
    return CfxVariant(std::string_view(text));
}

void PrintFailure(const std::string& file, const Outcome& outcome, bool imported) {
    if (imported) std::fprintf(stderr, "cartovane: %s\n", outcome.error.c_str());
    else
        std::fprintf(stderr, "cartovane: cannot import %s: %s [0x%08X]\n", file.c_str(), outcome.error.c_str(),
                     static_cast<unsigned>(outcome.hr));
}

// The document's trajectory whose frames can be played; null when it has none.
xxTrajectory* PlayableTrajectory(xxTreeRoot& tree) {
    for (xxTrajectory* trajectory : tree.ChildrenOf<xxTrajectory>())
        if (trajectory->IsTrajectoryValid()) return trajectory;
    return nullptr;
}

Outcome NoTrajectory(const std::string& file) { return {E_INVALIDARG, file + " has no trajectory"}; }

// Loads frame (from 1). A failure carries the text of the last error, or of the loader's
// error message when nothing was recorded; what the loader throws is such a failure too.
Outcome PlayFrame(Session& session, xxTrajectory& trajectory, int frame) {
    Cfx::ClearLastError();
    try {
        if (trajectory.SetCurrentFrame(frame)) return {};
    } catch (...) {
        Cfx::SetLastError(Cfx::ClassifyCaughtException().result);
    }
    Outcome failed{FAILED(Cfx::GetLastError().hr) ? Cfx::GetLastError().hr : E_FAIL, session.LastErrorText()};
    if (failed.error.empty())
        if (const auto* loader = dynamic_cast<const xxLoad*>(trajectory.GetFrameLoader()))
            failed.error = loader->GetErrorMessage();
    return failed;
}

std::string FrameFailure(const std::string& file, int frame, const std::string& why) {
    std::string text = file + ": frame " + std::to_string(frame) + " cannot be loaded";
    return why.empty() ? text : text + ": " + why;
}

// show --frame K: plays frame K of the document's trajectory into shown.
Outcome ShowFrame(Session& session, const std::string& file, xxTreeRoot& tree, const std::string& frameText,
                  ShownFrame& shown) {
    xxTrajectory* trajectory = PlayableTrajectory(tree);
    if (!trajectory) return NoTrajectory(file);
    shown.trajectory = trajectory;
    shown.type = trajectory->GetTrajectoryType();
    shown.frames = trajectory->GetNumFrames();
    int frame = 0;
    if (text::ParseExact(frameText, frame) != std::errc{} || frame < 1 || frame > shown.frames)
        return {E_INVALIDARG,
                file + " has " + std::to_string(shown.frames) + " frames; frame " + frameText + " does not exist"};
    Outcome played = PlayFrame(session, *trajectory, frame);
    shown.frames = trajectory->GetNumFrames();
    if (FAILED(played.hr)) return {played.hr, FrameFailure(file, frame, played.error)};
    shown.frame = frame;
    shown.results = trajectory->GetFrameResults();
    return {};
}

// The values of the frame shown that the frames command prints, beside the trajectory's
// results: the tree root's assigned energies and the cell of its symmetry system.
struct FrameValues {
    std::vector<std::pair<const char*, double>> energies;
    std::optional<xxCellParameters> cell;
};

FrameValues ValuesOf(const xxTreeRoot& tree) {
    FrameValues values;
    if (tree.As<xxClassicalEnergyHolder>())
        for (const xxPropertyTemplate<double>* energy : xxClassicalEnergyHolder::EnergyTemplates())
            if (energy->IsAssigned(tree)) values.energies.emplace_back(energy->Name(), energy->GetValue(tree));
    for (const xxMatterSymmetrySystem* system : tree.ChildrenOf<xxMatterSymmetrySystem>()) {
        values.cell = DescribeObject(*system).cell;
        break;
    }
    return values;
}

// Writes the frames command's output as the frames play, as text or as one JSON document.
class FramesOutput {
public:
    FramesOutput(std::ostream& out, bool json) : writer_(out), json_(writer_), asJson_(json) {}

    void Begin(const std::string& file, const Outcome& outcome, const std::vector<host::DiagnosticMessage>& diagnostics,
               const xxTrajectory* trajectory, int frames) {
        if (!asJson_) {
            if (!trajectory) return;
            writer_.Put(file);
            writer_.Put(" trajectory \"");
            writer_.Put(trajectory->GetTrajectoryType());
            writer_.Put("\" frames ");
            writer_.Integer(frames);
            writer_.Put('\n');
            return;
        }
        json_.BeginObject();
        OutcomeMembers(json_, outcome, diagnostics);
        json_.Key("trajectory");
        if (trajectory) {
            json_.BeginObject();
            TrajectoryMembers(json_, trajectory->GetTrajectoryType(), frames);
            json_.EndObject();
        } else {
            json_.Null();
        }
        json_.Key("frames");
        json_.BeginArray();
    }

    void Frame(int frame, const xxTrajectory::FrameResults& results, const FrameValues& values) {
        if (asJson_) {
            json_.BeginObject();
            json_.Key("frame");
            json_.Integer(frame);
            ResultMembers(json_, results);
            json_.Key("energies");
            json_.BeginObject();
            for (const auto& [name, value] : values.energies) {
                json_.Key(name);
                json_.Number(value);
            }
            json_.EndObject();
            json_.Key("cell");
            if (values.cell) CellObject(json_, *values.cell);
            else json_.Null();
            json_.EndObject();
            return;
        }
        writer_.Put("frame ");
        writer_.Integer(frame);
        const std::pair<const char*, const std::optional<double>*> given[] = {
            {" time ", &results.time}, {" step ", &results.timeStep}, {" energy ", &results.energy}};
        for (const auto& [key, value] : given) {
            if (!*value) continue;
            writer_.Put(key);
            writer_.Fixed4(**value);
        }
        for (const auto& [name, value] : values.energies) {
            writer_.Put(' ');
            writer_.Put(name);
            writer_.Put(' ');
            writer_.Fixed4(value);
        }
        if (values.cell) CellText(writer_, *values.cell);
        writer_.Put('\n');
    }

    // Ends the output; failed is the frame that could not be loaded and why, when one could not.
    void End(const std::optional<std::pair<int, std::string>>& failed) {
        if (!asJson_) return writer_.Flush();
        json_.EndArray();
        json_.Key("failed");
        if (failed) {
            json_.BeginObject();
            json_.Key("frame");
            json_.Integer(failed->first);
            json_.Key("error");
            json_.String(failed->second);
            json_.EndObject();
        } else {
            json_.Null();
        }
        json_.EndObject();
        writer_.Put('\n');
        writer_.Flush();
    }

private:
    BlockWriter writer_;
    JsonWriter json_;
    bool asJson_;
};

std::string OnlyFile(const Options& o, const char* command) {
    if (o.positional.size() != 1) throw std::runtime_error(std::string(command) + " takes one FILE");
    return o.positional[0];
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json") {
            o.json = true;
        } else if (args[i] == "--arg") {
            if (i + 1 >= args.size()) throw std::runtime_error("--arg needs NAME=VALUE");
            const std::string& pair = args[++i];
            auto eq = pair.find('=');
            if (eq == std::string::npos || eq == 0) throw std::runtime_error("--arg needs NAME=VALUE, got '" + pair + "'");
            o.arguments->SetValue(pair.substr(0, eq), ArgumentValue(pair.substr(eq + 1)));
        } else if (args[i] == "--frame") {
            if (i + 1 >= args.size()) throw std::runtime_error("--frame needs a frame number");
            o.frame = args[++i];  // any text: a frame that does not exist is the command's failure
        } else if (std::string* named = args[i] == "--importer"   ? &o.choice.importer
                                        : args[i] == "--exporter" ? &o.choice.exporter
                                        : args[i] == "--document" ? &o.choice.document
                                                                  : nullptr) {
            if (i + 1 >= args.size() || args[i + 1].empty()) throw std::runtime_error(args[i] + " needs a PROGID");
            *named = args[++i];
        } else if (args[i].rfind("--", 0) == 0) {
            throw std::runtime_error("unknown option '" + args[i] + "'");
        } else {
            o.positional.push_back(args[i]);
        }
    }
    return o;
}

int Show(Session& session, const Options& o, std::ostream& out) {
    const std::string file = OnlyFile(o, "show");
    if (!o.json) session.EchoDiagnostics();
    CfxComPtr<host::Model3dDocument> document;
    Outcome outcome = session.Import(file, *o.arguments.Get(), document, o.choice);
    const bool imported = SUCCEEDED(outcome.hr);
    std::optional<ShownFrame> shown;
    if (o.frame) {
        shown.emplace();
        if (imported) outcome = ShowFrame(session, file, document->Tree(), *o.frame, *shown);
    }
    const xxObject* tree = SUCCEEDED(outcome.hr) && document ? &document->Tree() : nullptr;
    const ShownFrame* frame = shown ? &*shown : nullptr;
    if (o.json) PrintJson(out, outcome, session.Diagnostics(), tree, frame);
    else if (tree) PrintTree(out, *tree, frame);
    if (FAILED(outcome.hr)) {
        out.flush();
        PrintFailure(file, outcome, imported);
        return 1;
    }
    return 0;
}

int Frames(Session& session, const Options& o, std::ostream& out) {
    const std::string file = OnlyFile(o, "frames");
    if (o.frame) throw std::runtime_error("frames plays every frame and takes no --frame");
    if (!o.json) session.EchoDiagnostics();
    CfxComPtr<host::Model3dDocument> document;
    Outcome outcome = session.Import(file, *o.arguments.Get(), document, o.choice);
    const bool imported = SUCCEEDED(outcome.hr);
    xxTrajectory* trajectory = imported ? PlayableTrajectory(document->Tree()) : nullptr;
    if (imported && !trajectory) outcome = NoTrajectory(file);

    FramesOutput output(out, o.json);
    output.Begin(file, outcome, session.Diagnostics(), trajectory, trajectory ? trajectory->GetNumFrames() : 0);
    if (o.json) session.EchoDiagnostics();  // what is posted from here on is in no document member
    std::optional<std::pair<int, std::string>> failed;
    // The count is asked before every frame, as a loader may cut it on a damaged frame.
    for (int frame = 1; trajectory && frame <= trajectory->GetNumFrames(); ++frame) {
        Outcome played = PlayFrame(session, *trajectory, frame);
        if (FAILED(played.hr)) {
            failed.emplace(frame, played.error);
            outcome = {played.hr, FrameFailure(file, frame, played.error)};
            break;
        }
        output.Frame(frame, trajectory->GetFrameResults(), ValuesOf(document->Tree()));
    }
    output.End(failed);
    if (FAILED(outcome.hr)) {
        out.flush();
        PrintFailure(file, outcome, imported);
        return 1;
    }
    return 0;
}

}  // namespace cartovane::tool
