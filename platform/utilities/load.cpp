#include "utilities/load.h"

#include <fstream>
#include <istream>
#include <ostream>

xxBool xxLoad::IsLoadable(std::istream&) const { return true; }

xxBool xxLoad::LoadObject(xxObject* target, std::string fileName) {
    std::ifstream in(fileName, std::ios::in | std::ios::binary);
    if (!in) {
        SetErrorMessage("Unable to open file \"" + fileName + "\"");
        return false;
    }
    return LoadObjectFromStream(in, target, std::move(fileName));
}

xxBool xxLoad::LoadObjectFromStream(std::istream& in, xxObject* target, std::string name) {
    return SUCCEEDED(LoadObjectFromStreamHR(in, target, std::move(name)));
}

HRESULT xxLoad::LoadObjectFromStreamHR(std::istream&, xxObject*, std::string) { return E_NOTIMPL; }

xxBool xxSave::SaveObjectToStream(std::ostream&, xxObject*, std::string) { return false; }
