// Loading QOR text in the tests: the result, the message identifier reported and the warnings.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"

namespace qortest {

inline const std::string kHeader = "# QOR DRAVIK4 DataModel File Version 4 0\n";

struct Loaded {
    HRESULT hr = S_OK;
    std::int32_t messageId = 0;
    std::string warnings;
    xxAtomisticTreeRoot root;
};

inline void Load(const std::string& text, Loaded& out, std::string name = "doc") {
    Cfx::ClearLastError();
    std::istringstream in(text);
    xxLoadQOR reader;
    out.hr = reader.LoadObjectFromStreamHR(in, &out.root, std::move(name));
    out.messageId = Cfx::GetLastError().messageId;
    out.warnings = reader.GetWarningMessage();
}

}  // namespace qortest
