#include <algorithm>
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

// Elements are the bulk of a large tree: one pool class of 64 bytes each.
static_assert(sizeof(xmlElement) <= 64);

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
        // Chunks grow with the tree, by an eighth of what it holds, so that a large document
        // sits in few chunks on huge pages while a small one leaves little unused.
        const std::size_t chunk = std::clamp(held_ / 8 / kChunk * kChunk, kChunk, kMaxChunk);
        chunks_.push_back({AllocateLargeBlock(chunk), chunk});
        held_ += chunk;
        next_ = chunks_.back().block.get();
        end_ = next_ + chunk;
        CV_POISON(next_, chunk);
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
    for (auto& chunk : chunks_) CV_UNPOISON(chunk.block.get(), chunk.size);
    chunks_.clear();
    held_ = 0;
    next_ = end_ = nullptr;
    for (void*& head : free_) head = nullptr;
}

// ---- elements ---------------------------------------------------------------------------

std::size_t xmlElement::CreateChildElement(std::string_view name) {
    return CreateChildElement(GetTree().InternElementClass(name));
}

std::size_t xmlElement::CreateChildElement(const xmlElementClass& cls) {
    xmlTree& tree = GetTree();
    AppendChild(tree.NewElement(cls.tree_ == &tree ? cls : tree.InternElementClass(cls.GetName()), this));
    return childCount_ - 1;
}

std::size_t xmlElement::AddText(std::string_view text) {
    AppendChild(GetTree().NewText(text));
    return childCount_ - 1;
}

void xmlElement::AppendChild(xmlNode& node) {
    if (childCount_ == childCapacity_) {
        xmlTree& tree = GetTree();
        const std::size_t want = childCapacity_ ? std::size_t{childCapacity_} * 2 : 4;
        std::uint32_t granted = 0;
        std::byte* block;
        try {
            block = tree.pool_.Allocate(Checked32(want * sizeof(xmlNode*)), granted);
        } catch (...) {
            tree.FreeSubtree(node);
            throw;
        }
        auto* grown = reinterpret_cast<xmlNode**>(block);
        if (childCount_) std::memcpy(grown, children_, childCount_ * sizeof(xmlNode*));
        tree.pool_.Free(children_, childCapacity_ * static_cast<std::uint32_t>(sizeof(xmlNode*)));
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
    if (slots > kMaxBlock / sizeof(Slot)) throw xmlException("XML element too large");
    std::uint32_t granted = 0;
    std::byte* block = GetTree().pool_.Allocate(Checked32(slots * sizeof(Slot) + Checked32(bytes)), granted);
    if (attributeCount_) std::memcpy(block, attributes_, attributeCount_ * sizeof(Slot));
    if (textUsed_) std::memcpy(block + slots * sizeof(Slot), Texts(), textUsed_);
    GetTree().pool_.Free(attributes_, blockSize_);
    attributes_ = block;
    blockSize_ = granted;
    slotCapacity_ = static_cast<std::uint32_t>(slots);
}

void xmlElement::ReserveAttributes(std::size_t n, std::size_t bytes) {
    if (n <= slotCapacity_ && bytes <= TextRoom() - textUsed_) return;
    GrowAttributes(std::max<std::size_t>(n, slotCapacity_), std::size_t{textUsed_} + Checked32(bytes));
}

void xmlElement::AddAttribute(const xmlAttributeClass& cls, std::string_view value) {
    xmlTree& tree = GetTree();
    const xmlAttributeClass& own = cls.tree_ == &tree ? cls : tree.InternAttributeClass(cls.GetName());
    if (HasAttribute(own))
        throw xmlException("Element '" + GetName() + "' has the attribute '" + own.GetName() + "' already");
    AppendAttribute(own, value);
}

void xmlElement::AppendAttribute(const xmlAttributeClass& cls, std::string_view value) {
    const std::uint32_t used = Checked32(std::size_t{textUsed_} + Checked32(value.size()));
    if (attributeCount_ == slotCapacity_ || used > TextRoom()) {
        // Most elements carry a handful of short values: one block of a few hundred bytes.
        std::size_t slots = attributeCount_ == slotCapacity_ ? std::max<std::size_t>(8, std::size_t{slotCapacity_} * 2)
                                                              : slotCapacity_;
        GrowAttributes(slots, std::max<std::size_t>(2 * std::size_t{used}, 128));
    }
    if (!value.empty()) std::memcpy(Texts() + textUsed_, value.data(), value.size());
    Slots()[attributeCount_++] = {cls.index_, textUsed_};
    textUsed_ = used;
}

void xmlElement::AddAttribute(std::string_view name, std::string_view value) {
    AddAttribute(GetTree().InternAttributeClass(name), value);
}

std::optional<std::string_view> xmlElement::FindAttribute(const xmlAttributeClass& cls) const {
    if (cls.tree_ != class_->tree_) return std::nullopt;  // its index means another class here
    const Slot* slots = Slots();
    for (std::uint32_t i = 0; i < attributeCount_; ++i)
        if (slots[i].cls == cls.index_) return TextAt(i);
    return std::nullopt;
}

std::optional<std::string_view> xmlElement::FindAttribute(std::string_view name) const {
    const xmlAttributeClass* cls = GetTree().FindAttributeClass(name);
    if (!cls) return std::nullopt;
    return FindAttribute(*cls);
}

void xmlElement::FreeAttributes() {
    GetTree().pool_.Free(attributes_, blockSize_);
    attributes_ = nullptr;
    attributeCount_ = slotCapacity_ = textUsed_ = blockSize_ = 0;
}

void xmlElement::PurgeChild(std::size_t i) {
    if (i >= childCount_) throw xmlException("No child " + std::to_string(i) + " to purge");
    xmlNode* node = children_[i];
    std::memmove(children_ + i, children_ + i + 1, (childCount_ - i - 1) * sizeof(xmlNode*));
    --childCount_;
    GetTree().FreeSubtree(*node);
}

void xmlElement::PurgeFirstChildren(std::size_t n) {
    if (n > childCount_) throw xmlException("No " + std::to_string(n) + " children to purge");
    if (n == 0) return;
    xmlTree& tree = GetTree();
    for (std::size_t i = 0; i < n; ++i) tree.FreeSubtree(*children_[i]);
    std::memmove(children_, children_ + n, (childCount_ - n) * sizeof(xmlNode*));
    childCount_ -= static_cast<std::uint32_t>(n);
}

void xmlElement::Purge() {
    xmlTree& tree = GetTree();
    FreeAttributes();
    for (std::uint32_t i = 0; i < childCount_; ++i) tree.FreeSubtree(*children_[i]);
    tree.pool_.Free(children_, childCapacity_ * static_cast<std::uint32_t>(sizeof(xmlNode*)));
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
    ++elementCount_;
    return *new (block) xmlElement(cls, parent);
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
            --elementCount_;
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
C& xmlTree::AddClass(Table<C>& table, std::string_view name) {
    if (!xmlIsName(name)) throw xmlException("'" + std::string(name) + "' is not an XML name");
    auto cls = std::make_unique<C>(std::string(name));
    cls->tree_ = this;
    C& ref = *cls;
    table.emplace(std::string(name), std::move(cls));
    return ref;
}

const xmlElementClass& xmlTree::InternElementClass(std::string_view name) {
    auto it = elementClasses_.find(name);
    if (it != elementClasses_.end()) return *it->second;
    const std::uint32_t index = Checked32(elementClasses_.size());
    xmlElementClass& cls = AddClass(elementClasses_, name);
    cls.index_ = index;
    return cls;
}

const xmlAttributeClass& xmlTree::InternAttributeClass(std::string_view name) {
    auto it = attributeClasses_.find(name);
    if (it != attributeClasses_.end()) return *it->second;
    const std::uint32_t index = Checked32(attributeClassAt_.size());
    attributeClassAt_.push_back(nullptr);  // first, so that the table never holds a class without an index
    try {
        xmlAttributeClass& cls = AddClass(attributeClasses_, name);
        cls.index_ = index;
        attributeClassAt_.back() = &cls;
        return cls;
    } catch (...) {
        attributeClassAt_.pop_back();
        throw;
    }
}

const xmlElementClass* xmlTree::FindElementClass(std::string_view name) const {
    auto it = elementClasses_.find(name);
    return it == elementClasses_.end() ? nullptr : it->second.get();
}

const xmlAttributeClass* xmlTree::FindAttributeClass(std::string_view name) const {
    auto it = attributeClasses_.find(name);
    return it == attributeClasses_.end() ? nullptr : it->second.get();
}
