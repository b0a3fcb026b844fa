// Running the CAR/MDF writer in tests: into strings, or through the host's file stream.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "carmdf_models.h"
#include "cfx/cfx.h"
#include "frame/stream_buf.h"
#include "host/diagnostics.h"
#include "host/streams.h"
#include "support/temp_dir.h"

namespace cvtest::carmdf {

struct Written {
    bool ok = false;
    bool allSets = true;
    std::int32_t messageId = 0;  // the last one reported, 0 for none
    std::string car;
    std::string mdf;
    std::vector<std::string> warnings;
};

// Writes model to name.car (and its MDF) in dir, with LF line ends, the CAR through a string;
// by a fresh writer on the tests' clock unless one is given.
inline Written WriteModel(xxObject& model, const TempDir& dir, const std::string& name = "model.car",
                          bool unixFormat = true, xxSaveCAR* given = nullptr) {
    Cfx::ClearLastError();
    auto manager = host::DiagnosticsManager::Create();
    CfxComPtr<ISBDiagnosticsConnection> connection;
    CfxBSTR source(std::string_view("Car/Mdf Export"));
    manager->GetConnection(source.Get(), connection.Out());

    Written w;
    std::ostringstream car;
    xxSaveCAR fresh;
    fresh.SetClock(FixedTime);
    xxSaveCAR& writer = given ? *given : fresh;
    const std::string path = name.empty() ? std::string() : dir.File(name);
    w.ok = writer.WriteCarAndMdf(car, model, path, connection.Get(), w.allSets, unixFormat);
    w.messageId = Cfx::GetLastError().messageId;
    w.car = car.str();
    std::string mdfPath;
    xxSaveCAR::DeriveMdfPath(path, mdfPath);
    if (!path.empty() && std::filesystem::exists(mdfPath)) w.mdf = TempDir::Slurp(mdfPath);
    for (const auto& m : manager->Messages()) w.warnings.push_back(m.text);
    return w;
}

// The lines of a text (LF ends, the last line's end dropped).
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

inline bool HasLine(const std::string& text, const std::string& line) {
    for (const std::string& l : Lines(text))
        if (l == line) return true;
    return false;
}

}  // namespace cvtest::carmdf
