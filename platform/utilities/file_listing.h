// The host's file-listing service: the names of the files that match a pattern with "*".
#pragma once

#include "com/types.h"
#include "com/unknown.h"

inline constexpr IID IID_ISBEnumFileNames = com::MakeGuid("{A2FC238F-B1A8-439A-82FF-3957166D4BF5}");
inline constexpr IID IID_ISBFileListing = com::MakeGuid("{B690C719-9B7A-458B-87F0-7292D815D1FE}");

struct ISBEnumFileNames : IUnknown {
    // Up to count names, each a CoTaskMemAlloc'd string the caller frees; S_FALSE when fewer
    // than count were left (none once the listing is exhausted).
    virtual HRESULT Next(ULONG count, LPOLESTR* names, ULONG* fetched) = 0;

protected:
    ~ISBEnumFileNames() = default;
};
CV_DECLARE_IID(ISBEnumFileNames, IID_ISBEnumFileNames);

struct ISBFileListing : IUnknown {
    // Full paths of the files matching pattern; "*" stands for any run of characters.
    virtual HRESULT ListFiles(BSTR pattern, ISBEnumFileNames** names) = 0;

protected:
    ~ISBFileListing() = default;
};
CV_DECLARE_IID(ISBFileListing, IID_ISBFileListing);
