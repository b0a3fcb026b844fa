#include "datamodel/reference.h"

#include <algorithm>
#include <string>

xxReferenceBase::xxReferenceBase(xxObject* target, xxReferenceObserver* observer) : observer_(observer) {
    Link(target);
}

xxReferenceBase::xxReferenceBase(const xxReferenceBase& other) { Link(other.target_); }

xxReferenceBase::xxReferenceBase(xxReferenceBase&& other) noexcept : observer_(other.observer_) { TakeOver(other); }

xxReferenceBase& xxReferenceBase::operator=(const xxReferenceBase& other) {
    if (this != &other) Reset(other.target_);
    return *this;
}

xxReferenceBase& xxReferenceBase::operator=(xxReferenceBase&& other) noexcept {
    if (this != &other) {
        Unlink();
        observer_ = other.observer_;
        TakeOver(other);
    }
    return *this;
}

void xxReferenceBase::Reset(xxObject* target) {
    if (target == target_) return;
    Unlink();
    Link(target);
}

void xxReferenceBase::Link(xxObject* target) {
    target_ = target;
    prev_ = nullptr;
    next_ = nullptr;
    if (!target) return;
    next_ = target->references_;
    if (next_) next_->prev_ = this;
    target->references_ = this;
}

void xxReferenceBase::Unlink() noexcept {
    if (!target_) return;
    if (prev_) prev_->next_ = next_;
    else target_->references_ = next_;
    if (next_) next_->prev_ = prev_;
    target_ = nullptr;
    prev_ = nullptr;
    next_ = nullptr;
}

void xxReferenceBase::TakeOver(xxReferenceBase& other) noexcept {
    target_ = other.target_;
    prev_ = other.prev_;
    next_ = other.next_;
    if (target_) {
        if (prev_) prev_->next_ = this;
        else target_->references_ = this;
        if (next_) next_->prev_ = this;
    }
    other.target_ = nullptr;
    other.prev_ = nullptr;
    other.next_ = nullptr;
}

bool xxReferenceBase::IsObservedBy(const xxObject& object, const xxReferenceObserver* observer) {
    for (const xxReferenceBase* r = object.references_; r; r = r->next_)
        if (r->observer_ == observer) return true;
    return false;
}

std::size_t xxReferenceBase::CountReferencesTo(const xxObject& object) {
    std::size_t n = 0;
    for (const xxReferenceBase* r = object.references_; r; r = r->next_) ++n;
    return n;
}

void xxReferenceBase::ClearReferencesTo(xxObject& object) noexcept {
    // The head is read afresh each time: an observer may destroy or move other references.
    while (xxReferenceBase* r = object.references_) {
        r->Unlink();
        if (xxReferenceObserver* observer = r->observer_) observer->OnReferenceCleared(*r);
    }
}

// ---- xxReferenceList ---------------------------------------------------------------

void xxReferenceList::Add(xxObject& object) {
    Compact();
    refs_.emplace_back(&object, static_cast<xxReferenceObserver*>(this));
}

bool xxReferenceList::Remove(const xxObject& object) {
    Compact();
    auto it = std::find_if(refs_.begin(), refs_.end(), [&](const xxReferenceBase& r) { return r.GetObject() == &object; });
    if (it == refs_.end()) return false;
    refs_.erase(it);
    return true;
}

void xxReferenceList::Clear() {
    refs_.clear();
    stale_ = false;
}

void xxReferenceList::Compact() const {
    if (!stale_) return;
    std::erase_if(refs_, [](const xxReferenceBase& r) { return !r; });
    stale_ = false;
}

std::size_t xxReferenceList::size() const {
    Compact();
    return refs_.size();
}

xxObject& xxReferenceList::At(std::size_t i) const {
    Compact();
    if (i >= refs_.size())
        throw Cfx::CfxResult(E_INVALIDARG, "Index " + std::to_string(i) + " is beyond the " +
                                               std::to_string(refs_.size()) + " members");
    return *refs_[i].GetObject();
}

std::vector<xxObject*> xxReferenceList::Objects() const {
    Compact();
    std::vector<xxObject*> out;
    out.reserve(refs_.size());
    for (const auto& r : refs_) out.push_back(r.GetObject());
    return out;
}

std::size_t xxReferenceList::CountOf(unsigned classType) const {
    Compact();
    return static_cast<std::size_t>(
        std::count_if(refs_.begin(), refs_.end(), [&](const xxReferenceBase& r) { return r.GetObject()->IsA(classType); }));
}
