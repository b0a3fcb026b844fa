#include <expat.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <istream>
#include <memory>
#include <string>

#include "xml/xml.h"

// The parser's callbacks run inside C code, so nothing may be thrown through them: a failure
// is kept, the parser stopped, and the failure thrown once the parser has returned.
struct xmlLoaderCallbacks {
    xmlLoader* loader;
    XML_Parser parser;
    std::size_t depth = 0;
    std::exception_ptr failure;
    std::string refusal;  // why the document was refused, when it was

    void Stop(std::string why) {
        if (refusal.empty() && !failure) refusal = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }
    template <class F>
    void Guard(F&& f) {
        if (failure || !refusal.empty()) return;
        try {
            f();
        } catch (...) {
            failure = std::current_exception();
            XML_StopParser(parser, XML_FALSE);
        }
    }

    static void Start(void* data, const XML_Char* name, const XML_Char** attributes) {
        auto* self = static_cast<xmlLoaderCallbacks*>(data);
        if (++self->depth > self->loader->maxDepth_) {
            self->Stop("elements nested deeper than " + std::to_string(self->loader->maxDepth_));
            return;
        }
        self->Guard([&] { self->loader->OnStartElement(name, attributes); });
    }
    static void End(void* data, const XML_Char*) {
        auto* self = static_cast<xmlLoaderCallbacks*>(data);
        --self->depth;
        self->Guard([&] { self->loader->OnEndElement(); });
    }
    static void Text(void* data, const XML_Char* text, int length) {
        auto* self = static_cast<xmlLoaderCallbacks*>(data);
        self->Guard([&] { self->loader->OnText(std::string_view(text, static_cast<std::size_t>(length))); });
    }
    // A document type declaration is refused as it begins: its attribute defaults would add
    // values the document does not show, and its entities expansions or reads through a DTD.
    static void DoctypeDecl(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<xmlLoaderCallbacks*>(data)->Stop("document type declarations are not allowed");
    }
    // Entities are refused outright: no expansion attacks, no reads through a DTD.
    static void EntityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                           const XML_Char*, const XML_Char*) {
        static_cast<xmlLoaderCallbacks*>(data)->Stop("entity declarations are not allowed");
    }
    static void SkippedEntity(void* data, const XML_Char* name, int) {
        static_cast<xmlLoaderCallbacks*>(data)->Stop(std::string("undefined entity '") + name + "'");
    }
    static int ExternalEntity(XML_Parser parser, const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
        auto* self = static_cast<xmlLoaderCallbacks*>(XML_GetUserData(parser));
        self->Stop("external entities are not allowed");
        return XML_STATUS_ERROR;
    }
};

void xmlLoader::Load() {
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    if (!parser) throw std::bad_alloc();
    xmlLoaderCallbacks callbacks{this, parser.get(), 0, nullptr, {}};
    XML_Parser p = parser.get();
    XML_SetUserData(p, &callbacks);
    XML_SetElementHandler(p, &xmlLoaderCallbacks::Start, &xmlLoaderCallbacks::End);
    if (WantsText()) XML_SetCharacterDataHandler(p, &xmlLoaderCallbacks::Text);
    XML_SetStartDoctypeDeclHandler(p, &xmlLoaderCallbacks::DoctypeDecl);
    XML_SetEntityDeclHandler(p, &xmlLoaderCallbacks::EntityDecl);
    XML_SetSkippedEntityHandler(p, &xmlLoaderCallbacks::SkippedEntity);
    XML_SetExternalEntityRefHandler(p, &xmlLoaderCallbacks::ExternalEntity);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);

    constexpr int kChunk = 1 << 16;
    bool last = false;
    while (!last) {
        void* buffer = XML_GetBuffer(p, kChunk);
        if (!buffer) throw std::bad_alloc();
        in_.read(static_cast<char*>(buffer), kChunk);
        std::streamsize got = in_.gcount();
        if (in_.bad()) throw xmlException("Unable to read the XML stream");
        last = got < kChunk;
        if (XML_ParseBuffer(p, static_cast<int>(got), last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            if (callbacks.failure) std::rethrow_exception(callbacks.failure);
            std::string why = !callbacks.refusal.empty() ? callbacks.refusal : XML_ErrorString(XML_GetErrorCode(p));
            throw xmlException(why + " at line " + std::to_string(XML_GetCurrentLineNumber(p)) + ", column " +
                               std::to_string(XML_GetCurrentColumnNumber(p)));
        }
    }
}

// ---- tree loaders -------------------------------------------------------------------------

void xmlTreeLoader::OnStartElement(const char* name, const char** attributes) {
    xmlElement* element;
    if (!current_) {
        element = &tree_.CreateDocumentElement(name);
    } else {
        const xmlElementClass* cls = elements_.Get(name, [&](const char* n) { return &tree_.InternElementClass(n); });
        element = &current_->ChildElement(current_->CreateChildElement(*cls));
    }
    // The parser has refused duplicate attributes already.
    constexpr std::size_t kKnown = 32;  // lengths kept for the first attributes
    std::size_t lengths[kKnown];
    std::size_t n = 0, bytes = 0;
    for (; attributes[2 * n]; ++n) {
        const std::size_t length = std::strlen(attributes[2 * n + 1]);
        if (n < kKnown) lengths[n] = length;
        bytes += length;
    }
    element->ReserveAttributes(n, bytes);
    for (std::size_t i = 0; i < n; ++i) {
        const char* value = attributes[2 * i + 1];
        const xmlAttributeClass* cls =
            attributes_.Get(attributes[2 * i], [&](const char* text) { return &tree_.InternAttributeClass(text); });
        element->AppendAttribute(*cls,
                                 std::string_view(value, i < kKnown ? lengths[i] : std::strlen(value)));
    }
    current_ = element;
}

void xmlTreeLoader::OnEndElement() { current_ = current_->GetParent(); }

void xmlTreeAndLeafTextLoader::OnStartElement(const char* name, const char** attributes) {
    text_.clear();  // text before a child element is mixed content, not leaf text
    xmlTreeLoader::OnStartElement(name, attributes);
}

void xmlTreeAndLeafTextLoader::OnEndElement() {
    xmlElement* element = Current();
    if (element->ChildCount() == 0 && !text_.empty()) element->AddText(text_);
    text_.clear();
    xmlTreeLoader::OnEndElement();
}
