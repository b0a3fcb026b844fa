// Records every CfxReportError of the test process, then passes the call on to the framework's
// own (the definition here takes precedence over the shared library's for the code linked into
// the test).
#include <dlfcn.h>

#include <cstring>

#include "cfx/cfx.h"
#include "car_load_support.h"

namespace cvtest::carmdf {
namespace {
std::vector<std::int32_t>& Recorded() {
    static std::vector<std::int32_t> reports;
    return reports;
}
}  // namespace
const std::vector<std::int32_t>& Reports() { return Recorded(); }
void ClearReports() { Recorded().clear(); }
}  // namespace cvtest::carmdf

HRESULT CfxReportError(HRESULT hr, REFCLSID clsid, std::int32_t messageId) {
    cvtest::carmdf::Recorded().push_back(messageId);
    using Real = HRESULT (*)(HRESULT, REFCLSID, std::int32_t);
    static const Real real = [] {
        Real f = nullptr;
        void* symbol = dlsym(RTLD_NEXT, "_Z14CfxReportErroriRK4GUIDi");
        std::memcpy(&f, &symbol, sizeof f);
        return f;
    }();
    return real ? real(hr, clsid, messageId) : hr;
}
