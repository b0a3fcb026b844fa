// What the trajectory imports (ARC, HIS, TRJ) do once the model is read: give the document a
// trajectory of the file's type and show its first frame.
#pragma once

#include <fstream>
#include <string>
#include <string_view>

#include "host/diagnostics.h"

class xxTrajectory;
class xxTreeRoot;

namespace cartovane {

// What a trajectory import works on: the document's tree and the path of the trajectory file
// behind the stream.
struct TrajectoryImportTarget {
    xxTreeRoot& tree;
    std::string path;
};
// A null stream or root is E_INVALIDARG; a document that gives no tree E_UNEXPECTED "Failed To
// Import Into Document:\n" (or its query failure); a stream with no file behind it its refusal
// of ISBFileStream, and a failed path query E_UNEXPECTED "Failed To Determine <kind> File\n".
TrajectoryImportTarget TrajectoryFileOf(ISBStream* stream, ISBDocumentRoot* root, std::string_view kind);

// The model file beside a trajectory file: the path's last three characters replaced by
// extension (three lower-case letters), or the one file there whose name differs from that only
// in case. Throws std::out_of_range for a path shorter than three characters.
std::string CompanionModelPath(const std::string& trajectoryPath, std::string_view extension);

// What a trajectory import fails with when its model file cannot be opened (or is empty).
inline constexpr HRESULT kModelOpenFailed = static_cast<HRESULT>(0x8007006E);

// The model file at path, open for reading; one that cannot be opened throws kModelOpenFailed
// with message, whose %1 is the path.
std::ifstream OpenModelFile(const std::string& path, const char* message);

// A trajectory of type over the tree's objects of classType, showing its first frame. It stays
// whether or not it plays; when it cannot be played, or its first frame cannot be loaded, the
// import's connection (when there is one) is told once, severity 2: "The trajectory file
// <trajectoryPath> cannot be played; only the model was imported.", then a line end and the
// loader's reason when it gave one. What the loader throws reaches the caller.
xxTrajectory* StartTrajectory(ISBContainerRoot* containerRoot, xxTreeRoot& tree, const std::string& type,
                              unsigned classType, const std::string& trajectoryPath,
                              ISBDiagnosticsConnection* connection);

}  // namespace cartovane
