#include "datamodel/stable_numbers.h"

#include <string>
#include <unordered_map>

#include "cfx/cfx.h"
#include "datamodel/class.h"
#include "datamodel/property.h"

namespace {

// Both directions, built from the registered classes' tables and built again when the set of
// classes has changed since (tests register classes of their own).
struct TemplateNumbers {
    std::unordered_map<const xxPropertyBase*, std::uint32_t> byTemplate;
    std::unordered_map<std::uint32_t, const xxPropertyBase*> byNumber;
    std::size_t classes = 0;
    bool built = false;
};

TemplateNumbers& Numbers() {
    static TemplateNumbers numbers;
    return numbers;
}

void Rebuild(TemplateNumbers& numbers) {
    numbers.byTemplate.clear();
    numbers.byNumber.clear();
    xxClass::ForEach([&](const xxClass& cls) {
        if (!cls.PropertyTable()) return;
        for (const xxPropertyBase* p : cls.PropertyTable()->properties) {
            if (!p || numbers.byTemplate.contains(p)) continue;
            const std::uint32_t n = xxStableNumberOf(cls.GetName() + "." + p->Name());
            auto [it, added] = numbers.byNumber.emplace(n, p);
            if (!added)
                throw xxClassRegistrationError("Property templates \"" + std::string(it->second->Name()) + "\" and \"" +
                                               p->Name() + "\" have the same number");
            numbers.byTemplate.emplace(p, n);
        }
    });
    numbers.classes = xxClass::Count();
    numbers.built = true;
}

TemplateNumbers& Current() {
    TemplateNumbers& numbers = Numbers();
    if (!numbers.built || numbers.classes != xxClass::Count()) Rebuild(numbers);
    return numbers;
}

}  // namespace

std::uint32_t xxPropertyTemplateNumber(const xxPropertyBase& property) {
    TemplateNumbers& numbers = Current();
    auto it = numbers.byTemplate.find(&property);
    if (it == numbers.byTemplate.end()) {
        Rebuild(numbers);  // a class may have come and gone with the count unchanged
        it = numbers.byTemplate.find(&property);
        if (it == numbers.byTemplate.end())
            throw Cfx::CfxResult(E_INVALIDARG, "The property \"" + std::string(property.Name()) +
                                                   "\" belongs to no registered class");
    }
    return it->second;
}

const xxPropertyBase* xxPropertyTemplateByNumber(std::uint32_t number) {
    TemplateNumbers& numbers = Current();
    auto it = numbers.byNumber.find(number);
    if (it == numbers.byNumber.end()) {
        Rebuild(numbers);
        it = numbers.byNumber.find(number);
    }
    return it == numbers.byNumber.end() ? nullptr : it->second;
}
