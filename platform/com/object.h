// A reference-counted object implementing a set of interfaces: QueryInterface answers
// IUnknown (as the first interface) and each listed interface; the last Release deletes.
#pragma once

#include <tuple>

#include "com/unknown.h"

namespace com {

template <class... Interfaces>
class ComObject : public Interfaces... {
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        IUnknown* found = iid == IID_IUnknown ? static_cast<First*>(this) : nullptr;
        ((found = (!found && iid == InterfaceId<Interfaces>::value) ? static_cast<Interfaces*>(this) : found), ...);
        if (!found) return E_NOINTERFACE;
        found->AddRef();
        *out = found;
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

private:
    ULONG refs_ = 1;  // created holding the creator's reference
};

}  // namespace com
