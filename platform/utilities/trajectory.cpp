#include "utilities/trajectory.h"

#include "base/text.h"

namespace {
// Trajectories take the first free bit range above the object's own (none).
constexpr unsigned kTrajectoryTypeBit = 24;
}  // namespace

const xxPropertyTemplate<std::string> xxTrajectory::m_pptTrajectoryType("TrajectoryType", &xxTrajectory::Class,
                                                                        XX_FIELD(xxTrajectory, type_),
                                                                        kTrajectoryTypeBit);
XX_IMPLEMENT_CLASS(xxTrajectory, "Trajectory", xxObject, 1, &xxTrajectory::m_pptTrajectoryType)

std::string xxTrajectory::LoaderClassName(const std::string& type) {
    return cartovane::text::ToUpper(type) + "Loader";
}

std::unique_ptr<xxFrameProvider> xxTrajectory::CreateFrameLoader() const {
    const std::string& type = GetTrajectoryType();
    if (type.empty()) return nullptr;
    const xxClass* cls = xxClass::FindClassIfExists(LoaderClassName(type));
    if (!cls || cls->IsAbstract() || !cls->IsA(xxFrameProvider::Class.TypeId())) return nullptr;
    std::unique_ptr<xxClassInstance> instance = cls->CreateNew();
    auto* provider = dynamic_cast<xxFrameProvider*>(instance.get());
    if (!provider) return nullptr;
    instance.release();
    std::unique_ptr<xxFrameProvider> loader(provider);
    if (!loader->Init(this, classTypes_)) return nullptr;
    return loader;
}
