// A trajectory of a document: its type text ("his", "trj", "arc", ...) names the frame loader,
// which is created by its registered class name ("HISLoader", ...) whenever it is needed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "datamodel/object.h"
#include "datamodel/property.h"
#include "utilities/frame_provider.h"

class xxTrajectory : public xxObject {
    XX_DECLARE_CLASS(xxTrajectory)
public:
    static const xxPropertyTemplate<std::string> m_pptTrajectoryType;

    xxTrajectory() = default;

    const std::string& GetTrajectoryType() const { return m_pptTrajectoryType.GetValue(*this); }
    void SetTrajectoryType(std::string type) { m_pptTrajectoryType.SetValue(*this, std::move(type)); }
    // The class types whose objects the frames move.
    const std::vector<unsigned>& ClassTypes() const { return classTypes_; }
    void SetClassTypes(std::vector<unsigned> classTypes) { classTypes_ = std::move(classTypes); }

    // The registered class name of the frame loader for a type: "his" -> "HISLoader".
    static std::string LoaderClassName(const std::string& type);
    // A frame loader of the trajectory's type, bound to this trajectory; null when no loader of
    // that name is registered or it cannot serve the trajectory.
    std::unique_ptr<xxFrameProvider> CreateFrameLoader() const;
    bool IsTrajectoryValid() const { return CreateFrameLoader() != nullptr; }

private:
    std::string type_;
    std::vector<unsigned> classTypes_;
};
