// A trajectory of a document: its type text ("his", "trj", "arc", ...) names the frame loader
// ("HISLoader", ...) that plays its frames on the document's model. The trajectory makes that
// loader on first use and keeps it until its type, its class types or its place change.
//
// Frames are numbered from 1 here (the loaders count from 0): SetCurrentFrame(1) shows the
// first frame, SetCurrentFrame(GetNumFrames()) the last.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datamodel/object.h"
#include "datamodel/property.h"
#include "utilities/frame_provider.h"

class xxTrajectory : public xxObject {
    XX_DECLARE_CLASS(xxTrajectory)
public:
    static const xxPropertyTemplate<std::string> m_pptTrajectoryType;

    // What the loader gave for the frame shown; unset where it gave nothing.
    struct FrameResults {
        std::optional<double> energy;
        std::optional<double> time;
        std::optional<double> third;
        std::optional<double> timeStep;
    };

    xxTrajectory();
    ~xxTrajectory() override;

    const std::string& GetTrajectoryType() const { return m_pptTrajectoryType.GetValue(*this); }
    // Drops the loader of the type before, so the next use tries the new type afresh.
    void SetTrajectoryType(std::string type);
    // The class types whose objects the frames move.
    const std::vector<unsigned>& ClassTypes() const { return classTypes_; }
    void SetClassTypes(std::vector<unsigned> classTypes);

    // The registered class name of the frame loader for a type: "his" -> "HISLoader".
    static std::string LoaderClassName(const std::string& type);

    // The kept frame loader, made now when there is none yet: the class registered under the
    // type's loader name, bound with Init (this trajectory, its class types) and accepted only
    // when IsCompatibleWith also answers true for the model. Null when no loader can serve.
    xxFrameProvider* GetFrameLoader();
    bool IsTrajectoryValid() { return GetFrameLoader() != nullptr; }
    // The loader's error message when it refused the trajectory (Init or the compatibility
    // test); empty otherwise.
    const std::string& GetLoaderError() const { return loaderError_; }

    // The loader's frame count, asked each time (a loader may cut it on a damaged frame); 0
    // without a loader.
    int GetNumFrames();
    // Loads frame (1 ... GetNumFrames()) into the model and brings the symmetry images made on
    // demand to their parents. False, with nothing read and the model unchanged, for a frame
    // outside that range or without a loader; false when the loader cannot load it. What a
    // loader throws reaches the caller.
    bool SetCurrentFrame(int frame);
    // The frame last loaded; 0 before any.
    int GetCurrentFrame() const { return currentFrame_; }
    const FrameResults& GetFrameResults() const { return results_; }

    // A trajectory read from a document moves bondable objects: class types are run-time type
    // ids and are not saved.
    void Load(xxInput& in) override;

protected:
    void OnParentChanged() override { DropLoader(); }

private:
    std::unique_ptr<xxFrameProvider> MakeLoader();
    void DropLoader();

    std::string type_;
    std::vector<unsigned> classTypes_;
    std::unique_ptr<xxFrameProvider> loader_;
    bool loaderTried_ = false;
    std::string loaderError_;
    int currentFrame_ = 0;
    FrameResults results_;
};
