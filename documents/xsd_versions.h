// The XML document-format versions, newest first, each with the version every class of the data
// model had then. A document names its format version; a class's Load asks the reader for its
// own version in that document (GetClassVersion) to tell old layouts from new ones.
#pragma once

#include <cstdint>
#include <string_view>

class xxClass;

struct XSDClassVersion {
    const char* name;  // null ends a table
    std::uint32_t version;
};

struct XSDFormatVersion {
    const char* name;
    const XSDFormatVersion* older;  // null for the oldest
    const XSDClassVersion* classes;
};

// The newest format version; the chain runs from it to the oldest through older.
const XSDFormatVersion& NewestFormatVersion();

// The format version of the document being read.
struct XSDVersionHolder {
    const XSDFormatVersion* version = nullptr;
};

// The name writers stamp on documents.
const char* CurrentFormatVersionName();
// Null when no format version has that name.
const XSDFormatVersion* FindFormatVersion(std::string_view name);
// Selects the document's format version and forgets every class's cached document version.
// Throws xmlException "Version '%1' is an unknown format".
void SetDocumentVersion(XSDVersionHolder& holder, std::string_view name);
// The class's version at the document's format version: its own current version for a document
// of the newest format; else the first match by name in that table or, failing that, in the
// older ones. Unknown: 0 when silent, else xmlException "Class '%1' is unknown at version %2".
std::uint32_t ClassVersionAt(const XSDVersionHolder& holder, const xxClass& cls, bool silent);
inline XSDVersionHolder InitVersionHolder() { return {}; }
