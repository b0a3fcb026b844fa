// What a trajectory asks of the object that supplies its frames.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "datamodel/class.h"

class xxFrameProvider : public xxClassInstance {
public:
    static const xxClass Class;  // "FrameProvider", abstract

    const xxClass& GetClass() const override { return Class; }

    // A further provider for the same file; null when none can be made.
    virtual std::unique_ptr<xxFrameProvider> Clone() = 0;
    // Binds the provider to a trajectory and the class types it moves; false when the
    // trajectory's file cannot serve.
    virtual bool Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) = 0;
    virtual std::string GetTrajectoryType() const = 0;
    virtual int GetNumFrames() const = 0;  // meaningful after a successful Init
    // Frame from 0 into the objects; a provider writes the results it has and leaves the rest.
    // transform may be null.
    virtual xxBool LoadFrame(int frame, xxIterator& objects, double* energy, double* time, double* third,
                             double* timeStep, const xxTransformMatrix* transform) = 0;
    virtual void OnNewFrame(long frame) = 0;
    virtual xxBool IsCompatibleWith(xxIterator* objects) = 0;

protected:
    xxFrameProvider() = default;
    xxFrameProvider(const xxFrameProvider&) = default;
    xxFrameProvider& operator=(const xxFrameProvider&) = default;
};
