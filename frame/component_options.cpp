#include "frame/component_options.h"

namespace cartovane {

namespace {
constexpr VARTYPE kDispatch = 9;  // VT_DISPATCH: an IUnknown as far as we are concerned

CfxComPtr<ISBIOArguments> FromInterface(const VARIANT& v, bool throwOnRefusal) {
    CfxComPtr<ISBIOArguments> arguments;
    if ((v.vt != VT_UNKNOWN && v.vt != kDispatch) || !v.punkVal) return arguments;
    HRESULT hr = v.punkVal->QueryInterface(IID_ISBIOArguments, arguments.OutVoid());
    if (FAILED(hr)) {
        arguments.Reset();
        if (throwOnRefusal) Cfx::QueryInterfaceFailure(hr, IID_ISBIOArguments);
    }
    return arguments;
}

// Access to an array's data for the lifetime of the guard.
class ArrayAccess {
public:
    explicit ArrayAccess(SAFEARRAY* array) : array_(array) {
        HRESULT hr = SafeArrayAccessData(array_, &data_);
        if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
    }
    ~ArrayAccess() { SafeArrayUnaccessData(array_); }
    ArrayAccess(const ArrayAccess&) = delete;
    ArrayAccess& operator=(const ArrayAccess&) = delete;
    void* Data() const { return data_; }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};
}  // namespace

CfxComPtr<ISBIOArguments> ImportArguments(const VARIANT& args) { return FromInterface(args, false); }

CfxComPtr<ISBIOArguments> ExportArguments(const VARIANT& args) {
    if (args.vt != (VT_ARRAY | VT_VARIANT) || !args.parray) return {};
    CfxVariant element;
    {
        ArrayAccess access(args.parray);
        if (args.parray->rgsabound[0].cElements == 0) return {};
        element = CfxVariant(*static_cast<const VARIANT*>(access.Data()));
    }
    return FromInterface(element.Get(), true);
}

bool BoolOption(ISBIOArguments* arguments, std::string_view name, bool fallback) {
    if (!arguments) return fallback;
    CfxBSTR key(name);
    CfxVariant value;
    if (FAILED(arguments->GetValue(key.Get(), value.Out())) || !value.IsBoolOrInteger()) return fallback;
    return value.Bool();
}

}  // namespace cartovane
