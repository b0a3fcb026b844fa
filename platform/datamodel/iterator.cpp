#include "datamodel/iterator.h"

#include <algorithm>
#include <string>

#include "cfx/cfx.h"
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

bool xxModelIterator::Wanted(const xxObject& object) const {
    return std::any_of(classTypes_.begin(), classTypes_.end(), [&](unsigned type) { return object.IsA(type); });
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
        if (const auto* node = object.As<xxTreeNode>()) {
            const auto* inner = node->As<xxSymmetrySystem>();
            // Only a system that has images needs asking about each object below it.
            stack_.push_back({node, 0, inner ? (inner->GetNumSymmetryImages() ? inner : nullptr) : system});
        }
        if (Wanted(object)) return &object;
    }
    return nullptr;
}
