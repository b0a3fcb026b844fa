#include "datamodel/class.h"

#include <limits>
#include <map>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/stable_numbers.h"

namespace {

struct Registry {
    std::map<std::string, const xxClass*, std::less<>> byName;  // names and second names
    std::map<unsigned, const xxClass*> byType;
    std::map<std::uint64_t, const xxClass*> byOrder;            // by registration
    std::uint64_t registrations = 0;
    ~Registry();
};

// Set once the registry is gone at exit, so records destroyed later leave it alone.
bool registryDestroyed = false;
Registry::~Registry() { registryDestroyed = true; }

// Built on first use: classes register from static initialisers of any file, in any order.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

}  // namespace

xxClass::xxClass(const char* name, const char* secondName, CreateFunction create, const xxClass* const* bases,
                 std::size_t baseCount, unsigned version, const xxPropertyTable* properties)
    : name_(name ? name : ""),
      secondName_(secondName ? secondName : ""),
      create_(create),
      bases_(bases),
      baseCount_(bases ? baseCount : 0),
      version_(version),
      properties_(properties) {
    if (name_.empty()) throw xxClassRegistrationError("A class needs a name");
    if (!bases && baseCount != 0)
        throw xxClassRegistrationError("Class " + Quoted(name_) + " has a base count but no base array");
    Registry& registry = TheRegistry();
    for (const std::string* key : {&name_, &secondName_}) {
        if (!key->empty() && registry.byName.contains(*key))
            throw xxClassRegistrationError("Class " + Quoted(*key) + " is already registered");
    }
    if (name_ == secondName_) secondName_.clear();
    const unsigned typeId = xxStableNumberOf(name_);
    if (auto taken = registry.byType.find(typeId); taken != registry.byType.end())
        throw xxClassRegistrationError("Classes " + Quoted(taken->second->GetName()) + " and " + Quoted(name_) +
                                       " have the same type id");
    typeId_ = typeId;
    order_ = registry.registrations++;
    registry.byType.emplace(typeId_, this);
    registry.byOrder.emplace(order_, this);
    registry.byName.emplace(name_, this);
    if (!secondName_.empty()) registry.byName.emplace(secondName_, this);
}

xxClass::~xxClass() {
    if (registryDestroyed) return;
    Registry& registry = TheRegistry();
    registry.byType.erase(typeId_);
    registry.byOrder.erase(order_);
    registry.byName.erase(name_);
    if (!secondName_.empty()) registry.byName.erase(secondName_);
}

xxBool xxClass::IsA(unsigned typeId) const {
    if (typeId == kExcludedTypeId) return false;
    if (typeId == typeId_ || typeId == kRootTypeId) return true;
    std::atomic<unsigned>& known = knownBases_[typeId % 4];
    if (known.load(std::memory_order_relaxed) == typeId) return true;
    std::atomic<unsigned>& knownNot = knownNotBases_[typeId % 4];
    if (knownNot.load(std::memory_order_relaxed) == typeId) return false;
    if (!BasesIsA(typeId)) {
        if (ChainComplete()) knownNot.store(typeId, std::memory_order_relaxed);
        return false;
    }
    known.store(typeId, std::memory_order_relaxed);
    return true;
}

bool xxClass::ChainComplete() const {
    if (chainComplete_.load(std::memory_order_relaxed)) return true;
    for (const xxClass* base : Bases())
        if (!base || !base->ChainComplete()) return false;
    chainComplete_.store(true, std::memory_order_relaxed);
    return true;
}

xxBool xxClass::BasesIsA(unsigned typeId) const {
    for (const xxClass* base : Bases())
        if (base && base->IsA(typeId)) return true;
    return false;
}

std::unique_ptr<xxClassInstance> xxClass::CreateNew() const {
    if (!create_) throw Cfx::CfxResult(E_NOTIMPL, "Class " + Quoted(name_) + " is abstract");
    std::unique_ptr<xxClassInstance> instance(create_());
    if (!instance) throw Cfx::CfxResult(E_FAIL, "Class " + Quoted(name_) + " created no instance");
    return instance;
}

void xxClass::ClearDocumentVersions() {
    for (const auto& [typeId, cls] : TheRegistry().byType) cls->documentVersion_ = 0;
}

const xxClass& xxClass::FindClass(std::string_view name) {
    if (const xxClass* cls = FindClassIfExists(name)) return *cls;
    throw Cfx::CfxResult(E_INVALIDARG, "Unknown class " + Quoted(name));
}

const xxClass* xxClass::FindClassIfExists(std::string_view name) {
    const Registry& registry = TheRegistry();
    auto it = registry.byName.find(name);
    return it == registry.byName.end() ? nullptr : it->second;
}

const xxClass& xxClass::FindClassByType(unsigned typeId) {
    if (const xxClass* cls = FindClassByTypeIfExists(typeId)) return *cls;
    throw Cfx::CfxResult(E_INVALIDARG, "Unknown class type " + std::to_string(typeId));
}

const xxClass* xxClass::FindClassByTypeIfExists(unsigned typeId) {
    const Registry& registry = TheRegistry();
    auto it = registry.byType.find(typeId);
    return it == registry.byType.end() ? nullptr : it->second;
}

void xxClass::ForEach(const std::function<void(const xxClass&)>& visit) {
    std::vector<std::uint64_t> order;
    order.reserve(TheRegistry().byOrder.size());
    for (const auto& [n, cls] : TheRegistry().byOrder) order.push_back(n);
    // Looked up again per step: a visit may register or remove classes.
    for (std::uint64_t n : order) {
        const auto& byOrder = TheRegistry().byOrder;
        if (auto it = byOrder.find(n); it != byOrder.end()) visit(*it->second);
    }
}

std::size_t xxClass::Count() { return TheRegistry().byType.size(); }
