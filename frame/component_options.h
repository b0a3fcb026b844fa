// Reading components' named options from the host's argument collection.
#pragma once

#include <string_view>

#include "host/documents.h"

namespace cartovane {

// The collection an import receives: an interface value (VT_UNKNOWN or VT_DISPATCH) that
// answers ISBIOArguments; null otherwise.
CfxComPtr<ISBIOArguments> ImportArguments(const VARIANT& args);
// The collection an export receives: element 0 of an array of variants. An empty array or a
// non-array gives null; an element that is an interface but refuses ISBIOArguments throws the
// query failure. The array is never left locked.
CfxComPtr<ISBIOArguments> ExportArguments(const VARIANT& args);
// A boolean option: counts only when the value is found and is a boolean or an integer.
bool BoolOption(ISBIOArguments* arguments, std::string_view name, bool fallback);

}  // namespace cartovane
