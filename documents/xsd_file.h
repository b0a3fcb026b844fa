// The XSD file reader and writer in the shape of the loader bases: an XML document read by XSDToDM
// as it is parsed; written by DMToXSD through the streaming saver.
#pragma once

#include <iosfwd>
#include <string>

#include "utilities/load.h"

class xxLoadXSD : public xxLoad {
public:
    xxBool IsFileExtension(std::string extension) const override { return extension == "xsd"; }
    std::string GetFileExtension() const override { return "xsd"; }
    std::string GetFileFilter() const override { return "XSD Files (*.xsd) |*.xsd|"; }
    // Never throws: failures come back as the catch ladder's HRESULT with the last error set. A
    // document the reader rejects leaves the target without descendants.
    HRESULT LoadObjectFromStreamHR(std::istream& in, xxObject* target, std::string name) override;
};

class xxSaveXSD : public xxSave {
public:
    // Writes the document (root element "XSD"); failures of the writer or saver are thrown.
    xxBool SaveObjectToStream(std::ostream& out, xxObject* source, std::string name) override;
};
