// Printing a document's data-model tree: indented text, or one JSON document.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "datamodel/object.h"
#include "host/diagnostics.h"
#include "tools/cartovane/session.h"
#include "utilities/trajectory.h"

namespace cartovane::tool {

// A trajectory as the tool shows it after playing one of its frames.
struct ShownFrame {
    const xxTrajectory* trajectory = nullptr;  // none: the document has no trajectory that plays
    std::string type;
    int frames = 0;  // its frame count
    int frame = 0;   // the frame shown, 0 when none is
    xxTrajectory::FrameResults results;
};

// With shown, the shown trajectory's line gives its type, the frame shown and the frame count.
void PrintTree(std::ostream& out, const xxObject& root, const ShownFrame* shown = nullptr);
// With shown, the document gains a "trajectory" member before "document" (null without a
// trajectory): type, frame count, the frame shown and what it gave, null for what it did not.
void PrintJson(std::ostream& out, const Outcome& outcome, const std::vector<host::DiagnosticMessage>& diagnostics,
               const xxObject* root, const ShownFrame* shown = nullptr);

}  // namespace cartovane::tool
