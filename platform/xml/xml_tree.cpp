#include <bit>
#include <cstring>
#include <limits>
#include <new>

#include "xml/xml.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define CV_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define CV_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define CV_POISON(p, n) ((void)(p), (void)(n))
#define CV_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

constexpr std::size_t kMaxBlock = std::numeric_limits<std::uint32_t>::max();

std::uint32_t Checked32(std::size_t n) {
    if (n > kMaxBlock) throw xmlException("XML element too large");
    return static_cast<std::uint32_t>(n);
}

}  // namespace

bool xmlIsName(std::string_view name) {
    if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!IsNameChar(static_cast<unsigned char>(c))) return false;
    return true;
}

xmlElement* xmlNode::AsElement() { return IsElement() ? static_cast<xmlElement*>(this) : nullptr; }
const xmlElement* xmlNode::AsElement() const { return IsElement() ? static_cast<const xmlElement*>(this) : nullptr; }
xmlText* xmlNode::AsText() { return IsElement() ? nullptr : static_cast<xmlText*>(this); }
const xmlText* xmlNode::AsText() const { return IsElement() ? nullptr : static_cast<const xmlText*>(this); }

// ---- the pool ---------------------------------------------------------------------------

// Classes of 16 bytes up to 128, then four steps per doubling up to 8 KiB; larger blocks go
// to the heap directly.
std::size_t xmlTree::Pool::ClassOf(std::size_t n) {
    if (n <= 128) return n == 0 ? 0 : (n - 1) / 16;
    const std::size_t e = static_cast<std::size_t>(std::bit_width(n - 1)) - 1;
    const std::size_t step = ((n - 1) >> (e - 2)) & 3;
    return 8 + (e - 7) * 4 + step;
}

std::size_t xmlTree::Pool::SizeOfClass(std::size_t c) {
    if (c < 8) return (c + 1) * 16;
    const std::size_t k = c - 8, e = 7 + k / 4, step = k % 4;
    return (std::size_t{1} << e) + (step + 1) * (std::size_t{1} << (e - 2));
}

std::byte* xmlTree::Pool::Allocate(std::size_t n, std::uint32_t& granted) {
    const std::size_t c = ClassOf(n);
    if (c >= kClasses) {
        granted = Checked32(n);
        return new std::byte[n];
    }
    const std::size_t size = SizeOfClass(c);
    granted = static_cast<std::uint32_t>(size);
    if (void* block = free_[c]) {
        CV_UNPOISON(block, size);
        std::memcpy(&free_[c], block, sizeof(void*));
        return static_cast<std::byte*>(block);
    }
    if (static_cast<std::size_t>(end_ - next_) < size) {
        chunks_.push_back(std::make_unique<std::byte[]>(kChunk));
        next_ = chunks_.back().get();
        end_ = next_ + kChunk;
        CV_POISON(next_, kChunk);
    }
    std::byte* block = next_;
    next_ += size;
    CV_UNPOISON(block, size);
    return block;
}

void xmlTree::Pool::Free(void* block, std::uint32_t granted) {
    if (!block) return;
    const std::size_t c = ClassOf(granted);
    if (c >= kClasses) {
        delete[] static_cast<std::byte*>(block);
        return;
    }
    std::memcpy(block, &free_[c], sizeof(void*));
    free_[c] = block;
    CV_POISON(block, SizeOfClass(c));
}

void xmlTree::Pool::Release() {
    for (auto& chunk : chunks_) CV_UNPOISON(chunk.get(), kChunk);
    chunks_.clear();
    next_ = end_ = nullptr;
    for (void*& head : free_) head = nullptr;
}

// ---- elements ---------------------------------------------------------------------------

std::size_t xmlElement::CreateChildElement(std::string_view name) {
    return CreateChildElement(tree_->InternElementClass(name));
}

std::size_t xmlElement::CreateChildElement(const xmlElementClass& cls) {
    AppendChild(tree_->NewElement(cls, this));
    return childCount_ - 1;
}

std::size_t xmlElement::AddText(std::string_view text) {
    AppendChild(tree_->NewText(text));
    return childCount_ - 1;
}

void xmlElement::AppendChild(xmlNode& node) {
    if (childCount_ == childCapacity_) {
        const std::size_t want = childCapacity_ ? std::size_t{childCapacity_} * 2 : 4;
        std::uint32_t granted = 0;
        std::byte* block;
        try {
            block = tree_->pool_.Allocate(want * sizeof(xmlNode*), granted);
        } catch (...) {
            tree_->FreeSubtree(node);
            throw;
        }
        auto* grown = reinterpret_cast<xmlNode**>(block);
        if (childCount_) std::memcpy(grown, children_, childCount_ * sizeof(xmlNode*));
        tree_->pool_.Free(children_, childCapacity_ * static_cast<std::uint32_t>(sizeof(xmlNode*)));
        children_ = grown;
        childCapacity_ = granted / static_cast<std::uint32_t>(sizeof(xmlNode*));
    }
    children_[childCount_++] = &node;
}

xmlNode& xmlElement::Child(std::size_t i) const {
    if (i >= childCount_) throw std::out_of_range("No child " + std::to_string(i) + " of element '" + GetName() + "'");
    return *children_[i];
}

xmlElement& xmlElement::ChildElement(std::size_t i) const {
    xmlElement* e = Child(i).AsElement();
    if (!e) throw xmlException("Child " + std::to_string(i) + " of element '" + GetName() + "' is not an element");
    return *e;
}

std::string xmlElement::GetLeafText() const {
    std::string text;
    for (std::size_t i = 0; i < childCount_; ++i)
        if (const xmlText* t = children_[i]->AsText()) text += t->GetText();
    return text;
}

void xmlElement::GrowAttributes(std::size_t slots, std::size_t bytes) {
    const std::size_t size = slots * sizeof(Slot) + bytes;
    std::uint32_t granted = 0;
    std::byte* block = tree_->pool_.Allocate(Checked32(size), granted);
    const std::size_t newStart = slots * sizeof(Slot);
    const std::size_t oldStart = std::size_t{slotCapacity_} * sizeof(Slot);
    auto* slotsOut = reinterpret_cast<Slot*>(block);
    for (std::uint32_t i = 0; i < attributeCount_; ++i) {
        Slot s = Slots()[i];
        s.offset = static_cast<std::uint32_t>(s.offset - oldStart + newStart);
        slotsOut[i] = s;
    }
    if (textUsed_) std::memcpy(block + newStart, attributes_ + oldStart, textUsed_);
    tree_->pool_.Free(attributes_, blockSize_);
    attributes_ = block;
    blockSize_ = granted;
    slotCapacity_ = static_cast<std::uint32_t>(slots);
}

void xmlElement::ReserveAttributes(std::size_t n, std::size_t bytes) {
    const std::size_t textRoom = blockSize_ - std::size_t{slotCapacity_} * sizeof(Slot);
    if (n <= slotCapacity_ && textUsed_ + bytes <= textRoom) return;
    GrowAttributes(std::max<std::size_t>(n, slotCapacity_), textUsed_ + bytes);
}

void xmlElement::AddAttribute(const xmlAttributeClass& cls, std::string_view value) {
    if (HasAttribute(cls))
        throw xmlException("Element '" + GetName() + "' has the attribute '" + cls.GetName() + "' already");
    AppendAttribute(cls, value);
}

void xmlElement::AppendAttribute(const xmlAttributeClass& cls, std::string_view value) {
    const std::size_t start = std::size_t{slotCapacity_} * sizeof(Slot);
    const std::size_t textRoom = blockSize_ - start;
    if (attributeCount_ == slotCapacity_ || textUsed_ + value.size() > textRoom) {
        // Most elements carry a handful of short values: one block of a few hundred bytes.
        std::size_t slots = attributeCount_ == slotCapacity_ ? std::max<std::size_t>(8, std::size_t{slotCapacity_} * 2)
                                                              : slotCapacity_;
        GrowAttributes(slots, std::max<std::size_t>(2 * (textUsed_ + value.size()), 128));
    }
    const std::size_t offset = std::size_t{slotCapacity_} * sizeof(Slot) + textUsed_;
    if (!value.empty()) std::memcpy(attributes_ + offset, value.data(), value.size());
    Slots()[attributeCount_++] = {&cls, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(value.size())};
    textUsed_ = Checked32(textUsed_ + value.size());
}

void xmlElement::AddAttribute(std::string_view name, std::string_view value) {
    AddAttribute(tree_->InternAttributeClass(name), value);
}

xmlElement::Attribute xmlElement::AttributeAt(std::size_t i) const {
    if (i >= attributeCount_) throw std::out_of_range("No attribute " + std::to_string(i));
    const Slot& s = Slots()[i];
    return {s.cls, std::string_view(reinterpret_cast<const char*>(attributes_) + s.offset, s.size)};
}

std::optional<std::string_view> xmlElement::FindAttribute(const xmlAttributeClass& cls) const {
    const Slot* slots = Slots();
    for (std::uint32_t i = 0; i < attributeCount_; ++i)
        if (slots[i].cls == &cls)
            return std::string_view(reinterpret_cast<const char*>(attributes_) + slots[i].offset, slots[i].size);
    return std::nullopt;
}

std::optional<std::string_view> xmlElement::FindAttribute(std::string_view name) const {
    const xmlAttributeClass* cls = tree_->FindAttributeClass(name);
    if (!cls) return std::nullopt;
    return FindAttribute(*cls);
}

void xmlElement::FreeAttributes() {
    tree_->pool_.Free(attributes_, blockSize_);
    attributes_ = nullptr;
    attributeCount_ = slotCapacity_ = textUsed_ = blockSize_ = 0;
}

void xmlElement::PurgeChild(std::size_t i) {
    if (i >= childCount_) throw xmlException("No child " + std::to_string(i) + " to purge");
    xmlNode* node = children_[i];
    std::memmove(children_ + i, children_ + i + 1, (childCount_ - i - 1) * sizeof(xmlNode*));
    --childCount_;
    tree_->FreeSubtree(*node);
}

void xmlElement::Purge() {
    FreeAttributes();
    for (std::uint32_t i = 0; i < childCount_; ++i) tree_->FreeSubtree(*children_[i]);
    tree_->pool_.Free(children_, childCapacity_ * static_cast<std::uint32_t>(sizeof(xmlNode*)));
    children_ = nullptr;
    childCount_ = childCapacity_ = 0;
}

// ---- the tree ---------------------------------------------------------------------------

xmlTree::xmlTree() = default;
xmlTree::~xmlTree() { Clear(); }

void xmlTree::Clear() {
    if (root_) FreeSubtree(*root_);
    root_ = nullptr;
    worklist_ = {};
    pool_.Release();
}

xmlElement& xmlTree::NewElement(const xmlElementClass& cls, xmlElement* parent) {
    std::uint32_t granted = 0;
    std::byte* block = pool_.Allocate(sizeof(xmlElement), granted);
    return *new (block) xmlElement(*this, cls, parent);
}

xmlText& xmlTree::NewText(std::string_view text) {
    std::uint32_t granted = 0;
    std::byte* block = pool_.Allocate(Checked32(sizeof(xmlText) + text.size()), granted);
    auto* node = new (block) xmlText();
    node->text_ = reinterpret_cast<char*>(block + sizeof(xmlText));
    node->size_ = static_cast<std::uint32_t>(text.size());
    if (!text.empty()) std::memcpy(node->text_, text.data(), text.size());
    return *node;
}

void xmlTree::FreeSubtree(xmlNode& top) {
    const std::size_t base = worklist_.size();  // a purge may run while another is under way
    worklist_.push_back(&top);
    while (worklist_.size() > base) {
        xmlNode* node = worklist_.back();
        worklist_.pop_back();
        if (xmlElement* e = node->AsElement()) {
            e->FreeAttributes();
            worklist_.insert(worklist_.end(), e->children_, e->children_ + e->childCount_);
            pool_.Free(e->children_, e->childCapacity_ * static_cast<std::uint32_t>(sizeof(xmlNode*)));
            e->~xmlElement();
            pool_.Free(e, static_cast<std::uint32_t>(sizeof(xmlElement)));
        } else {
            xmlText* t = node->AsText();
            const auto size = static_cast<std::uint32_t>(sizeof(xmlText) + t->size_);
            t->~xmlText();
            pool_.Free(t, size);
        }
    }
}

xmlElement& xmlTree::CreateDocumentElement(std::string_view name) {
    const xmlElementClass& cls = InternElementClass(name);
    if (root_) FreeSubtree(*root_);
    root_ = nullptr;
    root_ = &NewElement(cls, nullptr);
    return *root_;
}

template <class C>
const C& xmlTree::Intern(Table<C>& table, std::string_view name) {
    auto it = table.find(name);
    if (it != table.end()) return *it->second;
    if (!xmlIsName(name)) throw xmlException("'" + std::string(name) + "' is not an XML name");
    auto cls = std::make_unique<C>(std::string(name));
    const C& ref = *cls;
    table.emplace(std::string(name), std::move(cls));
    return ref;
}

const xmlElementClass& xmlTree::InternElementClass(std::string_view name) { return Intern(elementClasses_, name); }
const xmlAttributeClass& xmlTree::InternAttributeClass(std::string_view name) {
    return Intern(attributeClasses_, name);
}

const xmlElementClass* xmlTree::FindElementClass(std::string_view name) const {
    auto it = elementClasses_.find(name);
    return it == elementClasses_.end() ? nullptr : it->second.get();
}

const xmlAttributeClass* xmlTree::FindAttributeClass(std::string_view name) const {
    auto it = attributeClasses_.find(name);
    return it == attributeClasses_.end() ? nullptr : it->second.get();
}
