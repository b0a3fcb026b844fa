// IUnknown, the class-factory and error-info interfaces with their standard identifiers.
#pragma once

#include "com/types.h"

inline constexpr IID IID_IUnknown = com::MakeGuid("{00000000-0000-0000-C000-000000000046}");
inline constexpr IID IID_IClassFactory = com::MakeGuid("{00000001-0000-0000-C000-000000000046}");
inline constexpr IID IID_ISupportErrorInfo = com::MakeGuid("{DF0B3D60-548F-101B-8E65-08002B2BF9B8}");
inline constexpr IID IID_IErrorInfo = com::MakeGuid("{1CF2B120-547D-101B-8E65-08002B2BF9B8}");

template <class T> struct InterfaceId;  // InterfaceId<T>::value is T's IID
#define CV_DECLARE_IID(Interface, iidConstant) \
    template <> struct InterfaceId<Interface> { static constexpr const IID& value = iidConstant; }

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
CV_DECLARE_IID(IUnknown, IID_IUnknown);

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};
CV_DECLARE_IID(IClassFactory, IID_IClassFactory);

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};
CV_DECLARE_IID(ISupportErrorInfo, IID_ISupportErrorInfo);

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* iid) = 0;          // interface that raised the error
    virtual HRESULT GetSource(BSTR* source) = 0;     // ProgID (or CLSID text) of the class
    virtual HRESULT GetDescription(BSTR* text) = 0;

protected:
    ~IErrorInfo() = default;
};
CV_DECLARE_IID(IErrorInfo, IID_IErrorInfo);
