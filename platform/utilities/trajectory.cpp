#include "utilities/trajectory.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "datamodel/atomistic.h"
#include "datamodel/iterator.h"
#include "datamodel/property_bits.h"
#include "datamodel/symmetry/system.h"
#include "utilities/load.h"
#include "base/text.h"

namespace {

std::optional<double> Given(double value) {
    if (std::isnan(value)) return std::nullopt;
    return value;
}
}  // namespace

const xxPropertyTemplate<std::string> xxTrajectory::m_pptTrajectoryType("TrajectoryType", &xxTrajectory::Class,
                                                                        XX_FIELD(xxTrajectory, type_),
                                                                        xxPropertyBit::kTrajectoryType);
XX_IMPLEMENT_CLASS(xxTrajectory, "Trajectory", xxObject, 1, &xxTrajectory::m_pptTrajectoryType)

xxTrajectory::xxTrajectory() = default;
xxTrajectory::~xxTrajectory() = default;

std::string xxTrajectory::LoaderClassName(const std::string& type) {
    return cartovane::text::ToUpper(type) + "Loader";
}

void xxTrajectory::SetTrajectoryType(std::string type) {
    m_pptTrajectoryType.SetValue(*this, std::move(type));
    DropLoader();
}

void xxTrajectory::SetClassTypes(std::vector<unsigned> classTypes) {
    classTypes_ = std::move(classTypes);
    DropLoader();
}

void xxTrajectory::DropLoader() {
    loader_.reset();
    loaderTried_ = false;
    loaderError_.clear();
    currentFrame_ = 0;
    results_ = {};
}

xxFrameProvider* xxTrajectory::GetFrameLoader() {
    if (!loaderTried_) {
        loaderTried_ = true;  // a refusal (or a throw) is not asked again until something changes
        loader_ = MakeLoader();
    }
    return loader_.get();
}

std::unique_ptr<xxFrameProvider> xxTrajectory::MakeLoader() {
    const std::string& type = GetTrajectoryType();
    xxTreeRoot* tree = GetTreeRoot();
    if (type.empty() || !tree) return nullptr;
    const xxClass* cls = xxClass::FindClassIfExists(LoaderClassName(type));
    if (!cls || cls->IsAbstract() || !cls->IsA(xxFrameProvider::Class.TypeId())) return nullptr;
    std::unique_ptr<xxClassInstance> instance = cls->CreateNew();
    auto* provider = dynamic_cast<xxFrameProvider*>(instance.get());
    if (!provider) return nullptr;
    instance.release();
    std::unique_ptr<xxFrameProvider> loader(provider);

    auto refused = [&] {
        if (const auto* load = dynamic_cast<const xxLoad*>(loader.get())) loaderError_ = load->GetErrorMessage();
        return nullptr;
    };
    if (!loader->Init(this, classTypes_)) return refused();
    xxModelIterator objects(*tree, classTypes_);
    if (!loader->IsCompatibleWith(&objects)) return refused();
    return loader;
}

int xxTrajectory::GetNumFrames() {
    xxFrameProvider* loader = GetFrameLoader();
    return loader ? std::max(loader->GetNumFrames(), 0) : 0;
}

bool xxTrajectory::SetCurrentFrame(int frame) {
    xxFrameProvider* loader = GetFrameLoader();
    xxTreeRoot* tree = GetTreeRoot();
    if (!loader || !tree || frame < 1 || frame > loader->GetNumFrames()) return false;

    // What stays NaN the loader did not give.
    constexpr double unset = std::numeric_limits<double>::quiet_NaN();
    double energy = unset, time = unset, third = unset, timeStep = unset;
    xxModelIterator objects(*tree, classTypes_);
    if (!loader->LoadFrame(frame - 1, objects, &energy, &time, &third, &timeStep, nullptr)) return false;
    for (xxSymmetrySystem* system : tree->ChildrenOf<xxSymmetrySystem>()) system->SynchronizeImages();

    currentFrame_ = frame;
    results_ = {Given(energy), Given(time), Given(third), Given(timeStep)};
    return true;
}

void xxTrajectory::Load(xxInput& in) {
    xxObject::Load(in);
    classTypes_ = {xxBondable::classType};
    DropLoader();
}
