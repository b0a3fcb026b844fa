#include "documents/xsd_versions.h"

#include <cstring>
#include <string>

#include "datamodel/class.h"
#include "xml/xml.h"

const char* CurrentFormatVersionName() { return NewestFormatVersion().name; }

const XSDFormatVersion* FindFormatVersion(std::string_view name) {
    for (const XSDFormatVersion* v = &NewestFormatVersion(); v; v = v->older)
        if (name == v->name) return v;
    return nullptr;
}

void SetDocumentVersion(XSDVersionHolder& holder, std::string_view name) {
    const XSDFormatVersion* version = FindFormatVersion(name);
    if (!version) throw xmlException("Version '" + std::string(name) + "' is an unknown format");
    holder.version = version;
    xxClass::ClearDocumentVersions();
}

std::uint32_t ClassVersionAt(const XSDVersionHolder& holder, const xxClass& cls, bool silent) {
    if (!holder.version) throw xmlException("No document version has been set");
    if (holder.version == &NewestFormatVersion()) return cls.Version();
    const std::string& name = cls.GetName();
    for (const XSDFormatVersion* v = holder.version; v; v = v->older)
        for (const XSDClassVersion* c = v->classes; c->name; ++c)
            if (name == c->name) return c->version;
    if (silent) return 0;
    throw xmlException("Class '" + name + "' is unknown at version " + holder.version->name);
}
