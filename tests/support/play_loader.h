// A frame loader for tests, registered as "PLAYLoader" (trajectory type "play") the way the
// library's loaders are, with faults on request. Its file, "<stem>.play" beside the document,
// holds one frame a line:
//
//     energy time third timeStep x1 y1 z1 x2 y2 z2 ...
//
// where "-" for a result leaves it alone. Every frame must give the positions of as many objects
// as the first; the objects are the ones the trajectory's iterator yields, in its order.
#pragma once

#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/iterator.h"
#include "datamodel/object.h"
#include "frame/loader_registration.h"
#include "utilities/frame_loader.h"

namespace cvtest {

class PlayLoader : public cartovane::RegisteredLoader<PlayLoader, xxFrameLoader> {
public:
    static const cartovane::LoaderRegistration<PlayLoader> registration;

    // What the next loaders do, and what they saw. Reset by every test.
    struct Control {
        std::optional<std::string> refuseInit;  // Init answers false with this error message
        bool incompatible = false;              // IsCompatibleWith answers false
        int failFrame = -1;                     // LoadFrame of this frame answers false
        int throwAtFrame = -1;                  // LoadFrame of this frame throws E_ABORT
        int cutToAfterLoad = -1;                // the count drops to this after any frame is loaded
        std::vector<int> framesLoaded;          // LoadFrame's frame arguments, in order
        std::vector<std::string> initFileNames; // the base's file name as each Init left it
        int instances = 0;                      // loaders alive
    };
    static Control& Controls() {
        static Control control;
        return control;
    }

    PlayLoader() : RegisteredLoader(kTextFile) { ++Controls().instances; }
    PlayLoader(const PlayLoader& other) : RegisteredLoader(other), frames_(other.frames_), atoms_(other.atoms_) {
        ++Controls().instances;
    }
    ~PlayLoader() override { --Controls().instances; }

    std::unique_ptr<xxFrameProvider> Clone() override { return std::unique_ptr<xxFrameProvider>(new PlayLoader(*this)); }
    std::string GetTrajectoryType() const override { return "play"; }
    int GetNumFrames() const override { return static_cast<int>(frames_.size()); }
    xxBool IsFileExtension(std::string extension) const override { return extension == "play"; }
    std::string GetFileExtension() const override { return "play"; }
    std::string GetFileFilter() const override { return "Play Files (*.play) |*.play|"; }

    bool Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) override {
        if (!xxFrameLoader::Init(trajectory, classTypes)) return false;
        fileName_ += GetTrajectoryType();
        SetTrajectoryType(GetTrajectoryType());
        Controls().initFileNames.push_back(fileName_);
        if (Controls().refuseInit) {
            SetErrorMessage(*Controls().refuseInit);
            return false;
        }
        OpenedFile file(*this);
        if (!file) {
            SetErrorMessage("Cannot open " + fileName_);
            return false;
        }
        std::string line;
        while (std::getline(GetIstream(), line)) {
            if (line.empty()) continue;
            std::istringstream fields(line);
            Frame frame;
            for (auto& result : frame.results) {
                std::string text;
                fields >> text;
                if (text != "-") result = std::stod(text);
            }
            for (double v; fields >> v;) frame.xyz.push_back(v);
            frames_.push_back(std::move(frame));
        }
        atoms_ = frames_.empty() ? 0 : frames_.front().xyz.size() / 3;
        SetupAnimateTrigger();
        return !frames_.empty();
    }

    xxBool IsCompatibleWith(xxIterator* objects) override {
        if (!objects || Controls().incompatible) return false;
        objects->Copy(snapshot_);
        return snapshot_.GetSize() == atoms_;
    }

    xxBool LoadFrame(int frame, xxIterator& objects, double* energy, double* time, double* third, double* timeStep,
                     const xxTransformMatrix* transform) override {
        if (frame < 0 || frame >= GetNumFrames()) return false;
        Controls().framesLoaded.push_back(frame);
        if (frame == Controls().throwAtFrame)
            throw Cfx::CfxResult(E_ABORT, "Trajectory reader is operating on an unexpected kind of document.");
        if (frame == Controls().failFrame) return false;
        const Frame& f = frames_[static_cast<std::size_t>(frame)];
        if (f.xyz.size() != atoms_ * 3) return false;
        objects.Copy(snapshot_);
        if (snapshot_.GetSize() != atoms_) return false;
        for (std::size_t i = 0; i < atoms_; ++i) {
            xxPoint3d p{f.xyz[3 * i], f.xyz[3 * i + 1], f.xyz[3 * i + 2]};
            snapshot_.GetAt(i).SetXYZ(transform ? transform->Apply(p) : p);
        }
        double* out[] = {energy, time, third, timeStep};
        for (std::size_t k = 0; k < 4; ++k)
            if (f.results[k] && out[k]) *out[k] = *f.results[k];
        if (Controls().cutToAfterLoad >= 0 && Controls().cutToAfterLoad < GetNumFrames())
            frames_.resize(static_cast<std::size_t>(Controls().cutToAfterLoad));
        return true;
    }

private:
    struct Frame {
        std::optional<double> results[4];
        std::vector<double> xyz;
    };
    std::vector<Frame> frames_;
    std::size_t atoms_ = 0;
    xxObjectSnapshot snapshot_;
};

inline const cartovane::LoaderRegistration<PlayLoader> PlayLoader::registration{"PLAYLoader"};

}  // namespace cvtest
