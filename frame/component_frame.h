// The object frame every component is built on: parts, interface map, forwarders, creators.
#pragma once

#include <new>
#include <type_traits>

#include "cfx/ccfx.h"
#include "host/interfaces.h"

namespace cartovane {

enum class MapMode { Query = 0, Test = 1 };

template <int N>
struct AbsentPart {};

// A component with the given interface parts after ISupportErrorInfo. Every part's
// QueryInterface/AddRef/Release goes to the controlling unknown: one identity, one count.
template <bool HasImporter, bool HasExporter, bool HasConsumer>
class ComponentFrame : public CCfxUnknown,
                       public ISupportErrorInfo,
                       public std::conditional_t<HasImporter, ISBImporter, AbsentPart<0>>,
                       public std::conditional_t<HasExporter, ISBExporter, AbsentPart<1>>,
                       public std::conditional_t<HasConsumer, CSBContainerRootConsumerImpl, AbsentPart<2>> {
public:
    HRESULT QueryInterface(REFIID iid, void** out) override {
        return ControllingUnknown()->QueryInterface(iid, out);
    }
    ULONG AddRef() override { return ControllingUnknown()->AddRef(); }
    ULONG Release() override { return ControllingUnknown()->Release(); }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
        return QueryComponentInterface(MapMode::Test, iid, nullptr);
    }
    HRESULT DelegatedQueryInterface(REFIID iid, void** out) override {
        return QueryComponentInterface(MapMode::Query, iid, out);
    }
    HRESULT FinalConstruct() override { return S_OK; }
    void FinalRelease() override {}

    // The interface map: importer, exporter, consumer, ISupportErrorInfo, in that order.
    HRESULT QueryComponentInterface(MapMode mode, REFIID iid, void** out) {
        return Cfx::Guarded(GUID_NULL, GUID_NULL, [&]() -> HRESULT {
            IUnknown* part = nullptr;
            if constexpr (HasImporter)
                if (iid == IID_ISBImporter) part = static_cast<ISBImporter*>(this);
            if constexpr (HasExporter)
                if (!part && iid == IID_ISBExporter) part = static_cast<ISBExporter*>(this);
            if constexpr (HasConsumer)
                if (!part && iid == IID_ISBContainerRootConsumer) part = static_cast<ISBContainerRootConsumer*>(this);
            if (!part && iid == IID_ISupportErrorInfo) part = static_cast<ISupportErrorInfo*>(this);
            if (mode == MapMode::Test) return part ? S_OK : S_FALSE;
            return part ? FinishQI(part, out) : CCfxUnknown::DelegatedQueryInterface(iid, out);
        });
    }

protected:
    ComponentFrame() = default;
};

// The frames by what a component serves; "connected" ones keep the container root the host
// connects. A component that is also an object loader adds the loader base beside its frame.
using ImporterExporterFrame = ComponentFrame<true, true, false>;
using ImportOnlyFrame = ComponentFrame<true, false, true>;               // import, with the host's root
using ConnectedImporterExporterFrame = ComponentFrame<true, true, true>;  // both, with the host's root
using ConversionFrame = ComponentFrame<false, true, true>;               // export only, with the host's root

// Components that are also object loaders live in the framework's pool.
template <class T>
struct PoolAllocated {
    static void operator delete(void* p, std::size_t size) {
        if (!qor::MemoryPool::GetPool(size).deallocate(p)) ::operator delete(p);
    }
};

// The creators. A failed allocation throws std::bad_alloc "bad allocation".
template <class T>
HRESULT CreateOnHeap(CCfxUnknown** out) {
    void* memory = ::operator new(sizeof(T), std::nothrow);
    if (!memory) throw Cfx::BadAlloc();
    T* object;
    try {
        object = ::new (memory) T();
    } catch (...) {
        ::operator delete(memory);
        throw;
    }
    *out = object;
    return S_OK;
}

template <class T>
HRESULT CreateInPool(CCfxUnknown** out) {
    qor::MemoryPool& pool = qor::MemoryPool::GetPool(sizeof(T));
    void* memory = pool.allocate();
    if (!memory) throw Cfx::BadAlloc();  // never success with nothing built
    T* object;
    try {
        object = ::new (memory) T();
    } catch (...) {
        pool.deallocate(memory);
        throw;
    }
    *out = object;
    return S_OK;
}

inline constexpr char kNoPointerSupplied[] = "No pointer supplied for output argument.";
inline constexpr char kInvalidCreatePointer[] = "Invalid pointer passed to CreateInstance()";

// A creator that checks its out slot, clears it, and reports through its own ladder.
template <const char* NullText, class Allocate>
HRESULT CreateChecked(CCfxUnknown** out, Allocate allocate) noexcept {
    return Cfx::Guarded(GUID_NULL, GUID_NULL, [&]() -> HRESULT {
        if (!out) throw Cfx::CfxResult(E_POINTER, NullText);
        *out = nullptr;
        return allocate(out);
    });
}

// The creator of a component that is not built yet: creates nothing.
inline HRESULT CreateNotBuilt(CCfxUnknown** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}
template <const char* NullText>
HRESULT CreateNotBuiltChecked(CCfxUnknown** out) {
    return CreateChecked<NullText>(out, [](CCfxUnknown** slot) { return CreateNotBuilt(slot); });
}

}  // namespace cartovane
