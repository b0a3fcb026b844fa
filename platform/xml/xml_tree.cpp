#include "xml/xml.h"

namespace {

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
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

// ---- elements ---------------------------------------------------------------------------


xmlElement::~xmlElement() { Purge(); }

std::size_t xmlElement::CreateChildElement(std::string_view name) {
    return CreateChildElement(tree_->InternElementClass(name));
}

std::size_t xmlElement::CreateChildElement(const xmlElementClass& cls) {
    children_.push_back(std::make_unique<xmlElement>(*tree_, cls, this));
    return children_.size() - 1;
}

std::size_t xmlElement::AddText(std::string text) {
    children_.push_back(std::make_unique<xmlText>(std::move(text)));
    return children_.size() - 1;
}

xmlElement& xmlElement::ChildElement(std::size_t i) const {
    xmlElement* e = Child(i).AsElement();
    if (!e) throw xmlException("Child " + std::to_string(i) + " of element '" + GetName() + "' is not an element");
    return *e;
}

std::string xmlElement::GetLeafText() const {
    std::string text;
    for (const auto& c : children_)
        if (const xmlText* t = c->AsText()) text += t->GetText();
    return text;
}

void xmlElement::AddAttribute(const xmlAttributeClass& cls, std::string value) {
    if (HasAttribute(cls))
        throw xmlException("Element '" + GetName() + "' has the attribute '" + cls.GetName() + "' already");
    if (attributes_.empty()) attributes_.reserve(8);  // one allocation for most elements
    attributes_.emplace_back(&cls, std::move(value));
}

void xmlElement::AddAttribute(std::string_view name, std::string value) {
    AddAttribute(tree_->InternAttributeClass(name), std::move(value));
}

const std::string* xmlElement::FindAttribute(const xmlAttributeClass& cls) const {
    for (const auto& a : attributes_)
        if (a.first == &cls) return &a.second;
    return nullptr;
}

const std::string* xmlElement::FindAttribute(std::string_view name) const {
    const xmlAttributeClass* cls = tree_->FindAttributeClass(name);
    return cls ? FindAttribute(*cls) : nullptr;
}

void xmlElement::PurgeChild(std::size_t i) {
    if (i >= children_.size()) throw xmlException("No child " + std::to_string(i) + " to purge");
    std::unique_ptr<xmlNode> node = std::move(children_[i]);
    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
    if (xmlElement* e = node->AsElement()) e->Purge();
}

void xmlElement::Purge() {
    std::vector<Attribute>().swap(attributes_);
    if (children_.empty()) return;
    // Grandchildren move up into the worklist one level at a time.
    std::vector<std::unique_ptr<xmlNode>> pending = std::move(children_);
    children_.clear();
    while (!pending.empty()) {
        std::unique_ptr<xmlNode> node = std::move(pending.back());
        pending.pop_back();
        if (xmlElement* e = node->AsElement()) {
            for (auto& c : e->children_) pending.push_back(std::move(c));
            e->children_.clear();
        }
    }
}

// ---- the tree ---------------------------------------------------------------------------

xmlTree::xmlTree() = default;
xmlTree::~xmlTree() { root_.reset(); }  // elements first: they point at the classes

xmlElement& xmlTree::CreateDocumentElement(std::string_view name) {
    root_.reset();
    root_ = std::make_unique<xmlElement>(*this, InternElementClass(name), nullptr);
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
