// Objects whose content a trajectory loads per frame (density and potential fields, molecule
// sets): each names the frame-file key of its content and the registered object loader that
// reads it. Frame loaders recognise them by class: a trajectory over a class type that is or
// derives from this one animates self-loading objects.
#pragma once

#include <string>

#include "datamodel/object.h"

class xxSelfLoadingObject : public xxObject {
    XX_DECLARE_CLASS(xxSelfLoadingObject)
public:
    const std::string& GetLoadKey() const { return loadKey_; }
    void SetLoadKey(std::string key) { loadKey_ = std::move(key); }
    // The registered name of the object loader ("FieldLoader", ...).
    const std::string& GetLoaderClass() const { return loaderClass_; }
    void SetLoaderClass(std::string name) { loaderClass_ = std::move(name); }

protected:
    xxSelfLoadingObject() = default;

private:
    std::string loadKey_;
    std::string loaderClass_;
};
