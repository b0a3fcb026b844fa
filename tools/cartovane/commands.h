// The tool's commands that import a file and print what it holds: show (the model, after a
// frame of its trajectory with --frame) and frames (what every frame of its trajectory gives).
// Frames are numbered from 1, as the host numbers them.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/documents.h"
#include "tools/cartovane/session.h"

namespace cartovane::tool {

struct Options {
    std::vector<std::string> positional;
    bool json = false;
    std::optional<std::string> frame;  // --frame K as given
    Choice choice;                     // --importer, --exporter, --document
    CfxComPtr<host::Arguments> arguments = host::Arguments::Create();
};

// The options after the command name (args[0]); throws std::runtime_error for malformed ones.
Options ParseOptions(const std::vector<std::string>& args);

// Each prints to out, prints failures (and, without --json, posted messages) to standard error,
// and returns the exit status.
int Show(Session& session, const Options& options, std::ostream& out);
int Frames(Session& session, const Options& options, std::ostream& out);

}  // namespace cartovane::tool
