// File names: the stem that names what a file holds, and finding a file by a name whose letter
// case may differ from the name on disk (files written on systems that ignore case, "RUN.ARC"
// beside "run.car", are opened by the name their partner implies).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "base/text.h"

namespace cartovane {

// The file name of path without its directory and its last extension ("/d/run.1.qor" gives
// "run.1"; a name that only begins with a dot keeps it); empty for an empty path.
inline std::string FileStem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

// The file to open for path: path itself when it names a regular file, else the one regular file
// of its directory whose name equals path's without regard to ASCII case; nullopt when there is
// no such file or more than one (then any choice would be a guess).
inline std::optional<std::string> FindFileIgnoringCase(const std::string& path) {
    namespace fs = std::filesystem;
    if (path.empty()) return std::nullopt;
    std::error_code ec;
    const fs::path p(path);
    if (fs::is_regular_file(p, ec)) return path;
    const std::string wanted = p.filename().string();
    if (wanted.empty()) return std::nullopt;
    const fs::path dir = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    std::optional<std::string> found;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!text::EqualsNoCase(name, wanted)) continue;
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc)) continue;
        if (found) return std::nullopt;
        found = p.parent_path().empty() ? name : it->path().string();
    }
    return found;
}

}  // namespace cartovane
