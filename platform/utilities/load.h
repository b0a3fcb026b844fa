// Bases of the whole-file readers (xxLoad) and writers (xxSave).
#pragma once

#include <iosfwd>
#include <string>
#include <utility>

#include "com/types.h"
#include "datamodel/forward.h"

class xxLoad {
public:
    virtual ~xxLoad() = default;

    virtual xxBool IsFileExtension(std::string extension) const = 0;
    virtual std::string GetFileExtension() const = 0;
    // A file-dialog filter: description, pattern, "|", pattern, "|".
    virtual std::string GetFileFilter() const = 0;
    // Content test; the base accepts anything without reading.
    virtual xxBool IsLoadable(std::istream& in) const;
    // Opens the file (binary) and loads it through LoadObjectFromStream; a file that does not
    // open is false with the error message set.
    virtual xxBool LoadObject(xxObject* target, std::string fileName);
    // True when LoadObjectFromStreamHR succeeds.
    virtual xxBool LoadObjectFromStream(std::istream& in, xxObject* target, std::string name);
    // The load itself; the base loads nothing (E_NOTIMPL).
    virtual HRESULT LoadObjectFromStreamHR(std::istream& in, xxObject* target, std::string name);

    const std::string& GetErrorMessage() const { return error_; }
    const std::string& GetWarningMessage() const { return warning_; }

protected:
    xxLoad() = default;
    xxLoad(const xxLoad&) = default;
    xxLoad& operator=(const xxLoad&) = default;

    void SetErrorMessage(std::string text) { error_ = std::move(text); }
    void SetWarningMessage(std::string text) { warning_ = std::move(text); }

private:
    std::string error_;
    std::string warning_;
};

class xxSave {
public:
    virtual ~xxSave() = default;
    // The base writes nothing and answers false.
    virtual xxBool SaveObjectToStream(std::ostream& out, xxObject* source, std::string name);

protected:
    xxSave() = default;
    xxSave(const xxSave&) = default;
    xxSave& operator=(const xxSave&) = default;
};
