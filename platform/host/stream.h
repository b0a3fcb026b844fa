// The host's byte streams as components see them.
#pragma once

#include "com/oleauto.h"
#include "com/unknown.h"

inline constexpr IID IID_ISBStream = com::MakeGuid("{16307EA5-AED8-62C0-8085-E227F363E8DF}");
inline constexpr IID IID_ISBFileStream = com::MakeGuid("{16307EA6-AED8-62C0-8085-E227F363E8DF}");

enum : DWORD { SB_SEEK_SET = 0, SB_SEEK_CUR = 1, SB_SEEK_END = 2 };

struct ISBStream : IUnknown {
    virtual HRESULT Read(void* buffer, ULONG count, ULONG* bytesRead) = 0;
    virtual HRESULT Write(const void* buffer, ULONG count, ULONG* bytesWritten) = 0;  // out may be null
    virtual HRESULT Seek(LONG offset, DWORD origin, ULONG* newPosition) = 0;          // out may be null
    virtual HRESULT GetBinaryMode(VARIANT_BOOL* binary) = 0;  // VARIANT_FALSE: text mode
    virtual HRESULT SetBinaryMode(VARIANT_BOOL binary) = 0;
    virtual HRESULT GetSize(ULONG* size) = 0;

protected:
    ~ISBStream() = default;
};
CV_DECLARE_IID(ISBStream, IID_ISBStream);

// Asked of a stream that has a file behind it.
struct ISBFileStream : IUnknown {
    virtual HRESULT GetFilePath(BSTR* path) = 0;
    // Sends what the stream still holds to its file, so that a failure to write it shows now;
    // S_OK for a stream that holds nothing back (the default).
    virtual HRESULT Flush() { return S_OK; }
    // Makes what was written the file's content. A stream opened to write a file writes to a
    // temporary file beside it and puts that in the file's place here, so a failed or abandoned
    // write leaves the file as it was; S_OK and nothing done for a stream opened otherwise or
    // committed before, and for a stream that writes its file in place (the default).
    virtual HRESULT Commit() { return S_OK; }

protected:
    ~ISBFileStream() = default;
};
CV_DECLARE_IID(ISBFileStream, IID_ISBFileStream);
