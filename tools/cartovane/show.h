// Printing a document's data-model tree: indented text, or one JSON document.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "datamodel/object.h"
#include "host/diagnostics.h"
#include "tools/cartovane/session.h"

namespace cartovane::tool {

void PrintTree(std::ostream& out, const xxObject& root);
void PrintJson(std::ostream& out, const Outcome& outcome, const std::vector<host::DiagnosticMessage>& diagnostics,
               const xxObject* root);

}  // namespace cartovane::tool
