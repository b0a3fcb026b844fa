// Loader of a self-loading object's content, created by the data model by class name.
#pragma once

#include "com/unknown.h"
#include "datamodel/class.h"

class xxObjectLoader : public xxClassInstance {
public:
    static const xxClass Class;  // "ObjectLoader", abstract

    const xxClass& GetClass() const override { return Class; }

    // Fills target from source (a host stream, or whatever the loader asks it for); a null
    // source drops the target's content.
    virtual void Load(IUnknown* source, xxObject* target) = 0;

protected:
    xxObjectLoader() = default;
    xxObjectLoader(const xxObjectLoader&) = default;
    xxObjectLoader& operator=(const xxObjectLoader&) = default;
};
