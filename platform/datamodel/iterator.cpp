#include "datamodel/iterator.h"

#include <algorithm>
#include <string>

#include "cfx/cfx.h"
#include "datamodel/class.h"
#include "datamodel/object.h"
#include "datamodel/symmetry/system.h"

xxObject& xxObjectSnapshot::GetAt(std::size_t i) const {
    if (i >= objects_.size())
        throw Cfx::CfxResult(E_INVALIDARG, "Snapshot entry " + std::to_string(i) + " of " +
                                               std::to_string(objects_.size()) + " does not exist");
    return *objects_[i];
}

void xxIterator::Copy(xxObjectSnapshot& into) {
    into.Clear();
    Reset();
    while (xxObject* object = GetNext()) into.Add(*object);
    Reset();
}

xxModelIterator::xxModelIterator(const xxTreeNode& model, std::vector<unsigned> classTypes)
    : model_(&model), classTypes_(std::move(classTypes)) {
    Reset();
}

void xxModelIterator::Reset() {
    stack_.clear();
    stack_.push_back({model_, 0, nullptr});
    done_ = false;
}

const xxModelIterator::ClassKind& xxModelIterator::KindOf(const xxObject& object) {
    const xxClass* cls = &object.GetClass();
    // Siblings are mostly of one class: the last answer first.
    if (lastKind_ < kinds_.size() && kinds_[lastKind_].cls == cls) return kinds_[lastKind_];
    for (std::size_t k = 0; k < kinds_.size(); ++k)
        if (kinds_[k].cls == cls) return kinds_[lastKind_ = k];
    const bool wanted =
        std::any_of(classTypes_.begin(), classTypes_.end(), [&](unsigned type) { return cls->IsA(type); });
    kinds_.push_back({cls, cls->IsA(xxTreeNode::classType), cls->IsA(xxSymmetrySystem::classType), wanted});
    lastKind_ = kinds_.size() - 1;
    return kinds_.back();
}

xxObject* xxModelIterator::GetNext() {
    while (!done_) {
        if (stack_.empty()) {
            done_ = true;
            break;
        }
        Level& level = stack_.back();
        if (level.next >= level.node->NumChildren()) {
            stack_.pop_back();
            continue;
        }
        xxObject& object = level.node->GetChild(level.next++);
        const xxSymmetrySystem* system = level.system;
        // An image made on demand is left out with whatever hangs below it.
        if (system && system->IsImageMadeOnDemand(object)) continue;
        const ClassKind& kind = KindOf(object);
        if (kind.node) {
            const auto& node = static_cast<const xxTreeNode&>(object);
            const auto* inner = kind.system ? static_cast<const xxSymmetrySystem*>(&node) : nullptr;
            // Only a system that has images needs asking about each object below it.
            stack_.push_back({&node, 0, inner ? (inner->GetNumSymmetryImages() ? inner : nullptr) : system});
        }
        if (kind.wanted) return &object;
    }
    return nullptr;
}
