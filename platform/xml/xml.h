// The host's XML library: a tree of elements with interned element and attribute names, a
// parser into the tree (expat underneath, no namespace processing, no document type declarations,
// no entities) and a saver that writes either a whole tree or one element at a time as a writer
// builds and purges it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/fixed_texts.h"
#include "base/huge_pages.h"
#include "base/text.h"

// Every failure of the library: parse errors, names that are not XML names, text that cannot
// be written, a second attribute of one name.
class xmlException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class xmlTree;
class xmlElement;
class xmlText;

// An interned name. Two elements (attributes) of one tree have the same class exactly when
// their names are equal, so classes compare by address. Classes live as long as their tree.
// A class knows the tree that interned it (none for a class made by hand), so that elements
// reach their tree through their class and a class of another tree is told apart cheaply.
class xmlName {
public:
    explicit xmlName(std::string name) : name_(std::move(name)) {}
    const std::string& GetName() const { return name_; }

private:
    friend class xmlTree;
    friend class xmlElement;
    std::string name_;
    xmlTree* tree_ = nullptr;
};
class xmlElementClass : public xmlName {
public:
    using xmlName::xmlName;
    // Among its tree's element classes, in the order they were interned: 0, 1, 2, ...
    std::uint32_t Index() const { return index_; }

private:
    friend class xmlTree;
    std::uint32_t index_ = 0;
};
class xmlAttributeClass : public xmlName {
public:
    explicit xmlAttributeClass(std::string name) : xmlName(name), written_(" " + name + "=\"") {}
    // ` name="`, as a start tag holds it.
    const std::string& Written() const { return written_; }

private:
    friend class xmlTree;
    friend class xmlElement;
    std::string written_;
    std::uint32_t index_ = 0;  // among its tree's attribute classes: what an element stores
};

// Interned classes by name address. Names are mostly string constants or the parser's own
// tables, so the address finds the class without hashing the text; the text is compared all
// the same unless it is a literal (base/fixed_texts.h), as an address may be reused for another
// name. A name without a class is remembered too (the reader asks for every property an object
// may have), so the classes must not change while the cache is in use. Names must not be null.
template <class C, std::size_t N = 256>
class xmlNameCache {
public:
    // lookup(name) gives the class, or null.
    template <class Lookup>
    const C* Get(const char* name, Lookup&& lookup) {
        // Every bit of the address counts: names may lie a few bytes apart, or one be the
        // tail of another ("Charge" in "FormalCharge").
        const std::uint64_t mixed = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(name)) * 0x9E3779B97F4A7C15u;
        Entry& e = entries_[(mixed >> 40) % entries_.size()];
        if (e.name == name && (e.fixed || Same(e.cls ? e.cls->GetName().c_str() : e.text.data(), name))) return e.cls;
        const C* cls = lookup(name);
        if (cls) {
            e = {name, cls, fixed_.Holds(name), {}};
        } else if (const std::size_t length = std::strlen(name); length < e.text.size()) {
            e = {name, nullptr, fixed_.Holds(name), {}};
            std::memcpy(e.text.data(), name, length + 1);
        }
        return cls;
    }
    void Clear() { entries_ = {}; }

private:
    // Inline: names are short and the call of a library strcmp costs more than the compare.
    static bool Same(const char* a, const char* b) {
        while (*a && *a == *b) {
            ++a;
            ++b;
        }
        return *a == *b;
    }
    struct Entry {
        const char* name = nullptr;
        const C* cls = nullptr;
        bool fixed = false;  // a literal: its address alone is enough
        std::array<char, 32> text{};  // the name, when it has no class
    };
    FixedTexts fixed_;
    std::array<Entry, N> entries_{};
};

// True for an XML 1.0 name (bytes from 0x80 up count as name characters).
bool xmlIsName(std::string_view name);

class xmlNode {
public:
    enum class Kind : unsigned char { Element, Text };

    xmlNode(const xmlNode&) = delete;
    xmlNode& operator=(const xmlNode&) = delete;

    Kind GetKind() const { return kind_; }
    bool IsElement() const { return kind_ == Kind::Element; }
    xmlElement* AsElement();
    const xmlElement* AsElement() const;
    xmlText* AsText();
    const xmlText* AsText() const;

protected:
    explicit xmlNode(Kind kind) : kind_(kind) {}
    ~xmlNode() = default;

private:
    Kind kind_;
};

// Nodes live in their tree's pool: the tree makes and frees them, never the user.
class xmlText : public xmlNode {
public:
    std::string_view GetText() const { return {text_, size_}; }

private:
    friend class xmlTree;
    friend class xmlElement;
    xmlText() : xmlNode(Kind::Text) {}
    char* text_ = nullptr;
    std::uint32_t size_ = 0;
};

class xmlElement : public xmlNode {
public:
    using Attribute = std::pair<const xmlAttributeClass*, std::string_view>;

    // The element's attributes in the order they were added.
    class AttributeRange {
    public:
        class iterator {
        public:
            using value_type = Attribute;
            using difference_type = std::ptrdiff_t;
            iterator() = default;
            iterator(const xmlElement* e, std::size_t i) : e_(e), i_(i) {}
            Attribute operator*() const { return e_->AttributeAt(i_); }
            iterator& operator++() {
                ++i_;
                return *this;
            }
            iterator operator++(int) {
                iterator old = *this;
                ++i_;
                return old;
            }
            bool operator==(const iterator& o) const { return i_ == o.i_; }

        private:
            const xmlElement* e_ = nullptr;
            std::size_t i_ = 0;
        };
        explicit AttributeRange(const xmlElement& e) : e_(&e) {}
        iterator begin() const { return {e_, 0}; }
        iterator end() const { return {e_, size()}; }
        std::size_t size() const { return e_->AttributeCount(); }
        bool empty() const { return size() == 0; }
        Attribute operator[](std::size_t i) const { return e_->AttributeAt(i); }

    private:
        const xmlElement* e_;
    };

    xmlTree& GetTree() const { return *class_->tree_; }
    const xmlElementClass& GetClass() const { return *class_; }
    const std::string& GetName() const { return class_->GetName(); }
    xmlElement* GetParent() const { return parent_; }

    // A new last child; returns its index among the children. Throws xmlException for a name
    // that is not an XML name. A class of another tree stands for its name.
    std::size_t CreateChildElement(std::string_view name);
    std::size_t CreateChildElement(const xmlElementClass& cls);
    std::size_t AddText(std::string_view text);

    std::size_t ChildCount() const { return childCount_; }
    // Throws std::out_of_range past the last child.
    xmlNode& Child(std::size_t i) const;
    // Throws xmlException when child i is not an element.
    xmlElement& ChildElement(std::size_t i) const;
    // The text of a leaf element (its text children joined); empty when it has none.
    std::string GetLeafText() const;

    // Throws xmlException when the element has the attribute already. A class of another tree
    // stands for its name.
    void AddAttribute(const xmlAttributeClass& cls, std::string_view value);
    void AddAttribute(std::string_view name, std::string_view value);
    // Empty when the element does not carry it (always, for a class of another tree). The text
    // lives until the element is purged.
    std::optional<std::string_view> FindAttribute(const xmlAttributeClass& cls) const;
    std::optional<std::string_view> FindAttribute(std::string_view name) const;
    bool HasAttribute(const xmlAttributeClass& cls) const { return FindAttribute(cls).has_value(); }
    AttributeRange Attributes() const { return AttributeRange(*this); }
    std::size_t AttributeCount() const { return attributeCount_; }
    Attribute AttributeAt(std::size_t i) const;
    // Room for n attributes holding `bytes` of text together, so that adding them allocates once.
    void ReserveAttributes(std::size_t n, std::size_t bytes = 0);

    // Removes child i with its subtree; the later children move down by one.
    void PurgeChild(std::size_t i);
    // Removes the first n children with their subtrees; the later ones move down by n.
    void PurgeFirstChildren(std::size_t n);
    // Frees the element's children and attributes; the element itself stays in its parent.
    void Purge();

    // A number a user of the tree keeps with the element (0 until set). It is kept in 32 bits:
    // a larger one throws xmlException.
    std::size_t GetUserIndex() const { return userIndex_; }
    void SetUserIndex(std::size_t index) {
        if (index > std::numeric_limits<std::uint32_t>::max()) throw xmlException("XML user index too large");
        userIndex_ = static_cast<std::uint32_t>(index);
    }

private:
    friend class xmlTree;
    friend class xmlTreeLoader;  // the parser has refused duplicate attributes already
    void AppendAttribute(const xmlAttributeClass& cls, std::string_view value);
    // One block holds the attribute slots, then their texts, one after another in attribute
    // order: a text ends where the next one starts, the last one at textUsed_. Offsets count
    // from the start of the texts, so moving to a larger block leaves the slots as they are.
    struct Slot {
        std::uint32_t cls;  // index among the tree's attribute classes
        std::uint32_t offset;
    };
    // cls must be a class of the element's tree.
    xmlElement(const xmlElementClass& cls, xmlElement* parent)
        : xmlNode(Kind::Element), class_(&cls), parent_(parent) {}
    Slot* Slots() const { return reinterpret_cast<Slot*>(attributes_); }
    char* Texts() const { return reinterpret_cast<char*>(attributes_) + std::size_t{slotCapacity_} * sizeof(Slot); }
    std::size_t TextRoom() const { return blockSize_ - std::size_t{slotCapacity_} * sizeof(Slot); }
    std::string_view TextAt(std::size_t i) const {
        const std::uint32_t end = i + 1 < attributeCount_ ? Slots()[i + 1].offset : textUsed_;
        return {Texts() + Slots()[i].offset, end - Slots()[i].offset};
    }
    void GrowAttributes(std::size_t slots, std::size_t bytes);
    void AppendChild(xmlNode& node);
    void FreeAttributes();

    // First, so that it sits in the padding after the node's kind.
    std::uint32_t userIndex_ = 0;
    const xmlElementClass* class_;  // of the element's tree, which it gives
    xmlElement* parent_;
    xmlNode** children_ = nullptr;
    std::uint32_t childCount_ = 0;
    std::uint32_t childCapacity_ = 0;
    std::byte* attributes_ = nullptr;
    std::uint32_t attributeCount_ = 0;
    std::uint32_t slotCapacity_ = 0;
    std::uint32_t textUsed_ = 0;   // bytes of text in the block
    std::uint32_t blockSize_ = 0;  // 0: no block
};

// A document tree. Its nodes, attribute blocks and child lists come from the tree's own pool:
// parsing a large document or streaming one element at a time calls the heap once per chunk,
// not once per node, and a purged subtree's memory is reused by the next one.
class xmlTree {
public:
    xmlTree();
    ~xmlTree();
    xmlTree(const xmlTree&) = delete;
    xmlTree& operator=(const xmlTree&) = delete;

    // The document element, replacing any there was.
    xmlElement& CreateDocumentElement(std::string_view name);
    xmlElement* GetDocumentElement() const { return root_; }
    // Elements made and not freed yet (the document element's subtree, mostly).
    std::size_t ElementCount() const { return elementCount_; }
    void Clear();

    // The interned class of a name, made when missing; throws xmlException for a name that is
    // not an XML name.
    const xmlElementClass& InternElementClass(std::string_view name);
    const xmlAttributeClass& InternAttributeClass(std::string_view name);
    // Without creating: null when no element (attribute) of the tree ever had that name.
    const xmlElementClass* FindElementClass(std::string_view name) const;
    const xmlAttributeClass* FindAttributeClass(std::string_view name) const;
    // Attribute classes interned so far: a cache of lookups that missed is stale once it grows.
    std::size_t AttributeClassCount() const { return attributeClassAt_.size(); }

private:
    friend class xmlElement;
    template <class C>
    using Table = std::unordered_map<std::string, std::unique_ptr<C>, cartovane::text::StringHash, std::equal_to<>>;
    // Makes, owns and returns the class of a name that has none yet.
    template <class C>
    C& AddClass(Table<C>& table, std::string_view name);

    // Blocks in size classes, carved from large chunks and kept on free lists when released.
    class Pool {
    public:
        // A block of at least n bytes; `granted` is what was given (pass it back to Free).
        std::byte* Allocate(std::size_t n, std::uint32_t& granted);
        void Free(void* block, std::uint32_t granted);
        void Release();

    private:
        static constexpr std::size_t kChunk = std::size_t{1} << 18;
        static constexpr std::size_t kMaxChunk = std::size_t{1} << 25;
        static constexpr std::size_t kClasses = 32;
        static std::size_t ClassOf(std::size_t n);
        static std::size_t SizeOfClass(std::size_t c);
        struct Chunk {
            LargeBlock block;
            std::size_t size;
        };
        std::vector<Chunk> chunks_;
        std::size_t held_ = 0;  // bytes in chunks
        std::byte* next_ = nullptr;
        std::byte* end_ = nullptr;
        void* free_[kClasses] = {};
    };

    xmlElement& NewElement(const xmlElementClass& cls, xmlElement* parent);
    xmlText& NewText(std::string_view text);
    void FreeSubtree(xmlNode& node);  // without recursion

    Table<xmlElementClass> elementClasses_;
    Table<xmlAttributeClass> attributeClasses_;
    std::vector<const xmlAttributeClass*> attributeClassAt_;  // by index
    Pool pool_;
    std::vector<xmlNode*> worklist_;
    xmlElement* root_ = nullptr;
    std::size_t elementCount_ = 0;
};

// Inline: savers and readers walk every attribute of every element through it.
inline xmlElement::Attribute xmlElement::AttributeAt(std::size_t i) const {
    if (i >= attributeCount_) throw std::out_of_range("No attribute " + std::to_string(i));
    return {GetTree().attributeClassAt_[Slots()[i].cls], TextAt(i)};
}

// ---- parsing ----------------------------------------------------------------------------

struct xmlLoaderCallbacks;

// Parses a stream, fed to the parser in pieces: all of it (Load), or piece by piece as a reader
// needs more of the document (ParseSome). A piece in which the parser met nothing, being inside
// one long token, makes the next piece twice as large, so that no token is scanned again for each
// piece and a long one costs its length. Documents with a document type declaration, entity
// references other than the predefined ones, or nesting deeper than the limit are refused. A
// failure throws xmlException with the parser's text and position (or what a handler threw);
// the loader is finished then.
class xmlLoader {
public:
    static constexpr std::size_t kDefaultMaxDepth = 256;
    static constexpr std::size_t kPiece = std::size_t{1} << 16;  // and pieces grow to 1 GiB

    explicit xmlLoader(std::istream& in);
    virtual ~xmlLoader();
    xmlLoader(const xmlLoader&) = delete;
    xmlLoader& operator=(const xmlLoader&) = delete;

    void Load();
    // There is no validation against a DTD in any case.
    void LoadWithoutDTDValidation() { Load(); }
    // Parses the next piece; false once the document has been parsed to its end (or failed).
    bool ParseSome();
    bool Finished() const { return finished_; }
    void SetMaxDepth(std::size_t depth) { maxDepth_ = depth; }

protected:
    // attributes: name, value, name, value, ..., null.
    virtual void OnStartElement(const char* name, const char** attributes) = 0;
    virtual void OnEndElement() = 0;
    virtual bool WantsText() const { return false; }
    virtual void OnText(std::string_view) {}

private:
    friend struct xmlLoaderCallbacks;
    std::istream& in_;
    std::size_t maxDepth_ = kDefaultMaxDepth;
    std::unique_ptr<xmlLoaderCallbacks> parse_;  // from the first piece to the last
    bool finished_ = false;
};

// Builds the tree from the document: elements and attributes only (no white space, comments or
// processing instructions). A reader that takes elements out of the tree while the document is
// still being parsed skips each element it frees before its end tag: the rest of that element is
// then not built, only shown to OnSkippedElement.
class xmlTreeLoader : public xmlLoader {
public:
    xmlTreeLoader(std::istream& in, xmlTree& tree) : xmlLoader(in), tree_(tree) {}

    // Whether the element was built and its end tag is still to come.
    bool IsOpen(const xmlElement& element) const;
    // Builds nothing more inside the element, when it is open (else does nothing). The loader
    // never looks at the element or what was built inside it again.
    void Skip(const xmlElement& element);

protected:
    void OnStartElement(const char* name, const char** attributes) override;
    void OnEndElement() override;
    // An element built with its attributes, not yet with its children.
    virtual void OnElementBuilt(xmlElement&) {}
    // An element inside a skipped one, with its attributes as the parser gives them.
    virtual void OnSkippedElement(const char* /*name*/, const char** /*attributes*/) {}
    xmlElement* Current() const { return open_.empty() ? nullptr : open_.back(); }
    bool Skipping() const { return skipping_ != 0; }

private:
    xmlTree& tree_;
    std::vector<xmlElement*> open_;  // the built elements whose end tag is still to come
    std::size_t skipping_ = 0;       // open levels not built, from the skipped element down
    // The parser hands out each name from its own tables, mostly at one address per name.
    xmlNameCache<xmlElementClass, 64> elements_;
    xmlNameCache<xmlAttributeClass> attributes_;
};

// Also keeps the text of elements that have no child elements, as one text child.
class xmlTreeAndLeafTextLoader : public xmlTreeLoader {
public:
    using xmlTreeLoader::xmlTreeLoader;

protected:
    void OnStartElement(const char* name, const char** attributes) override;
    void OnEndElement() override;
    bool WantsText() const override { return true; }
    void OnText(std::string_view text) override { text_.append(text); }

private:
    std::string text_;
};

// ---- saving -----------------------------------------------------------------------------

// Encoding and header types of a save.
constexpr int kXmlEncodingUtf8 = 0;
constexpr int kXmlHeaderDeclaration = 0;  // <?xml version="1.0" encoding="UTF-8"?>
constexpr int kXmlHeaderNone = 1;

// Element by element: BeginSave writes the declaration and opens the document element;
// BeginElement / EndElement bracket each element below it, in document order. An element's
// start tag is written when its first child begins or when it ends, so attributes may be added
// after BeginElement; an element that has ended is not looked at again.
class xmlSaver {
public:
    virtual void BeginSave(int encoding, int header) = 0;
    virtual void BeginElement(const xmlElement& element) = 0;
    virtual void EndElement(const xmlElement& element) = 0;
    virtual void EndSave() = 0;

protected:
    xmlSaver() = default;
    xmlSaver(const xmlSaver&) = default;
    xmlSaver& operator=(const xmlSaver&) = default;
    ~xmlSaver() = default;
};

class xmlTreeSaverBase {
public:
    virtual ~xmlTreeSaverBase() = default;
    // Writes the whole tree; true when the stream took it.
    virtual bool Save(int encoding, int header) = 0;
};

// Writes UTF-8 (texts must be valid UTF-8). & < > " are escaped, and tab, line feed and
// carriage return in attribute values are written as character references so that they read
// back; any other control character cannot be written in XML 1.0 and throws xmlException.
// With indent, every element starts a line indented by tabs; without, nothing is added.
class xmlTreeSaver : public xmlSaver, public xmlTreeSaverBase {
public:
    xmlTreeSaver(std::ostream& out, xmlTree& tree, bool indent);
    ~xmlTreeSaver() override;

    void BeginSave(int encoding, int header) override;
    void BeginElement(const xmlElement& element) override;
    void EndElement(const xmlElement& element) override;
    void EndSave() override;
    bool Save(int encoding, int header) override;

protected:
    void SetWriteLeafText(bool on) { leafText_ = on; }

private:
    struct Open {
        const xmlElement* element;
        bool started;  // start tag written
    };
    void WriteHeader(int encoding, int header);
    void WriteStartTag(const xmlElement& element, bool empty, std::size_t depth);
    void WriteEndTag(const xmlElement& element, std::size_t depth);
    void StartPending();
    void CloseTop();
    void Flush();

    std::ostream& out_;
    xmlTree& tree_;
    bool indent_;
    bool leafText_ = false;
    std::string buffer_;
    std::vector<Open> open_;
};

// Writes the text of leaf elements too.
class xmlTreeAndLeafTextSaver : public xmlTreeSaver {
public:
    xmlTreeAndLeafTextSaver(std::ostream& out, xmlTree& tree, bool indent) : xmlTreeSaver(out, tree, indent) {
        SetWriteLeafText(true);
    }
};

// Appends text escaped for an attribute value (or, with attribute false, for character
// data); throws xmlException for text that is not valid UTF-8 or holds a control character
// XML cannot carry.
void xmlAppendEscaped(std::string& out, std::string_view text, bool attribute);
