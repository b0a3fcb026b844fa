#include <expat.h>

#include <algorithm>
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
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> owned{nullptr, XML_ParserFree};
    XML_Parser parser = nullptr;
    std::size_t depth = 0;
    std::size_t events = 0;  // handler calls, to tell a piece that got nowhere
    std::size_t piece = xmlLoader::kPiece;
    std::exception_ptr failure;
    std::string refusal;  // why the document was refused, when it was

    explicit xmlLoaderCallbacks(xmlLoader& l) : loader(&l) {}

    void Stop(std::string why) {
        if (refusal.empty() && !failure) refusal = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }
    template <class F>
    void Guard(F&& f) {
        ++events;
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

    void Create(bool wantsText) {
        owned.reset(XML_ParserCreate(nullptr));
        if (!owned) throw std::bad_alloc();
        parser = owned.get();
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &Start, &End);
        if (wantsText) XML_SetCharacterDataHandler(parser, &Text);
        XML_SetStartDoctypeDeclHandler(parser, &DoctypeDecl);
        XML_SetEntityDeclHandler(parser, &EntityDecl);
        XML_SetSkippedEntityHandler(parser, &SkippedEntity);
        XML_SetExternalEntityRefHandler(parser, &ExternalEntity);
        XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    }
};

xmlLoader::xmlLoader(std::istream& in) : in_(in) {}
xmlLoader::~xmlLoader() = default;

void xmlLoader::Load() {
    while (ParseSome()) {
    }
}

bool xmlLoader::ParseSome() {
    if (finished_) return false;
    struct FinishOnThrow {
        bool& finished;
        bool armed = true;
        ~FinishOnThrow() {
            if (armed) finished = true;
        }
    } finish{finished_};
    if (!parse_) {
        parse_ = std::make_unique<xmlLoaderCallbacks>(*this);
        parse_->Create(WantsText());
    }
    xmlLoaderCallbacks& c = *parse_;
    constexpr std::size_t kLargest = std::size_t{1} << 30;
    const std::size_t piece = c.piece;
    void* buffer = XML_GetBuffer(c.parser, static_cast<int>(piece));
    if (!buffer) throw std::bad_alloc();
    in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(piece));
    const std::streamsize got = in_.gcount();
    if (in_.bad()) throw xmlException("Unable to read the XML stream");
    const bool last = static_cast<std::size_t>(got) < piece;
    const std::size_t events = c.events;
    if (XML_ParseBuffer(c.parser, static_cast<int>(got), last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
        if (c.failure) std::rethrow_exception(c.failure);
        std::string why = !c.refusal.empty() ? c.refusal : XML_ErrorString(XML_GetErrorCode(c.parser));
        throw xmlException(why + " at line " + std::to_string(XML_GetCurrentLineNumber(c.parser)) + ", column " +
                           std::to_string(XML_GetCurrentColumnNumber(c.parser)));
    }
    c.piece = c.events != events ? kPiece : std::min(2 * piece, kLargest);
    finish.armed = last;
    if (last) parse_.reset();
    return !last;
}

// ---- tree loaders -------------------------------------------------------------------------

bool xmlTreeLoader::IsOpen(const xmlElement& element) const {
    return std::find(open_.rbegin(), open_.rend(), &element) != open_.rend();
}

void xmlTreeLoader::Skip(const xmlElement& element) {
    auto it = std::find(open_.begin(), open_.end(), &element);
    if (it == open_.end()) return;
    skipping_ += static_cast<std::size_t>(open_.end() - it);
    open_.erase(it, open_.end());
}

void xmlTreeLoader::OnStartElement(const char* name, const char** attributes) {
    if (skipping_) {
        ++skipping_;
        OnSkippedElement(name, attributes);
        return;
    }
    xmlElement* element;
    if (open_.empty()) {
        element = &tree_.CreateDocumentElement(name);
    } else {
        const xmlElementClass* cls = elements_.Get(name, [&](const char* n) { return &tree_.InternElementClass(n); });
        element = &open_.back()->ChildElement(open_.back()->CreateChildElement(*cls));
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
    open_.push_back(element);
    OnElementBuilt(*element);
}

void xmlTreeLoader::OnEndElement() {
    if (skipping_) {
        --skipping_;
        return;
    }
    open_.pop_back();
}

void xmlTreeAndLeafTextLoader::OnStartElement(const char* name, const char** attributes) {
    text_.clear();  // text before a child element is mixed content, not leaf text
    xmlTreeLoader::OnStartElement(name, attributes);
}

void xmlTreeAndLeafTextLoader::OnEndElement() {
    if (!Skipping()) {
        xmlElement* element = Current();
        if (element->ChildCount() == 0 && !text_.empty()) element->AddText(text_);
    }
    text_.clear();
    xmlTreeLoader::OnEndElement();
}
