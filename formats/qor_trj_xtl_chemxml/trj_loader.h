// The TRJ trajectory frame loader. A TRJ file is the binary trajectory of a molecular-dynamics
// run, in records [int32 n][n bytes][int32 n] of one byte order (ours or the other), version V:
//
//     H1        char[4]; int32[20], the first the version (1 ... 3000)
//     titles    from V 311: two lists, int32 N and N lines of 80 characters each
//     flags     from V 151: periodicity and F1 ... F4 (from 300: ... F7)
//     counts    below V 200: total atoms, NMOVE (every atom moves, in matter order)
//     molecules from V 200: NMOL, two int32[NMOL] (the second's first entry is the total atom
//               count) and NMOL names of 8 characters; then NMOVE and the IDs of the moving atoms
//     texts     two, each int32 T and T characters
//
// and then one frame after the other: the energy record, up to eight records the version and the
// flags make present (the cell and the stress among them), then X, Y and Z of the moving atoms,
// and as each frame's flags say their velocities and forces. The model itself comes from the QOR
// file beside the TRJ file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "datamodel/geometry.h"
#include "datamodel/iterator.h"
#include "frame/binary_header.h"
#include "frame/loader_registration.h"
#include "utilities/frame_loader.h"

class xxMatter;

class xxLoadTRJ final : public cartovane::RegisteredLoader<xxLoadTRJ, xxFrameLoader> {
public:
    static const cartovane::LoaderRegistration<xxLoadTRJ> registration;

    // Why a frame cannot be read; LoadFrame then answers false.
    static constexpr int kStreamFailed = 1;
    static constexpr int kCannotOpen = 50508;   // the trajectory file does not open
    static constexpr int kCannotReach = 50509;  // the frame cannot be sought
    static constexpr int kCannotRead = 50510;   // the frame is cut short
    static constexpr int kBeyondEnd = 50519;    // the frame would start beyond the end of the file
    // The companion that loads the self-loading objects of a frame.
    static constexpr const char* kCompanionClass = "FLDLoader";

    xxLoadTRJ();
    ~xxLoadTRJ() override;

    // The whole state, base and companion (its own clone) included; plays without Init.
    std::unique_ptr<xxFrameProvider> Clone() override;
    // Starts from a new loader's state; makes the companion when a class type is self-loading;
    // opens "<stem>.trj", finds its byte order and reads its header and frame count. False, with
    // the error message set, for a file that does not open, no TRJ version in either byte order,
    // or a header that is cut short, has a count below 0 (NMOL below 1) or one whose bytes do
    // not fit the file, or gives frames of no size. Nothing is sized by a count before that.
    bool Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) override;
    std::string GetTrajectoryType() const override { return "trj"; }
    int GetNumFrames() const override { return frameCount_; }
    // Frame 0 ... GetNumFrames() - 1 (false for any other, nothing read). Everything is read and
    // checked before the model changes: false leaves it as it was. Sets the energies the version
    // carries on the tree root (a classical energy holder) and unassigns the others; the cell,
    // the vector velocities and the stress of a frame that carries them; the positions, relative
    // velocities and forces of the moving matter (velocities and forces unassigned when the frame
    // has none); and re-places the matter that does not move. Results: energy = total energy,
    // time, third value, time step.
    xxBool LoadFrame(int frame, xxIterator& objects, double* energy, double* time, double* third, double* timeStep,
                     const xxTransformMatrix* transform) override;
    // A periodic run of the model's periodic dimension for a model with a symmetry system, a
    // run without a cell for one without, and as much matter as the file's total atom count.
    xxBool IsCompatibleWith(xxIterator* objects) override;

    xxBool IsFileExtension(std::string extension) const override { return extension == "trj"; }
    std::string GetFileExtension() const override { return "trj"; }
    std::string GetFileFilter() const override { return "MD TRJ Files *.trj) |*.trj|"; }

    // ---- the file as read, for tests and tools ----
    int GetVersion() const { return version_; }
    int GetPeriodicity() const { return periodicity_; }
    int GetTotalAtoms() const { return totalAtoms_; }
    int GetMovingCount() const { return nmove_; }
    std::int64_t GetHeaderEnd() const { return headerEnd_; }
    // The bytes of a frame without velocities and forces, and of one coordinate block.
    std::int64_t GetFrameSize() const { return frameSize_; }
    std::int64_t GetCoordinateRecordSize() const { return coordinateRecord_; }
    double GetTimeStep() const { return timeStep_; }
    const std::vector<std::string>& GetTitles(int list) const { return titles_[list == 1 ? 0 : 1]; }
    std::size_t KnownFrameOffsets() const { return offsets_.size(); }
    const xxFrameProvider* Companion() const { return companion_.get(); }
    // Positions at frame i and reads it (skip: only its time and flags are kept); 0 or one of
    // the codes above.
    int ReadFrameAt(int frame, bool skip);

private:
    // A copy gives the copy the companion's own clone.
    class OwnedCompanion {
    public:
        OwnedCompanion() = default;
        OwnedCompanion(const OwnedCompanion& other);
        OwnedCompanion& operator=(const OwnedCompanion&) = delete;
        xxFrameProvider* get() const { return loader_.get(); }
        void reset(std::unique_ptr<xxFrameProvider> loader = nullptr) { loader_ = std::move(loader); }

    private:
        std::unique_ptr<xxFrameProvider> loader_;
    };

    // What one frame carries besides its coordinates.
    struct FrameValues {
        double time = 0, third = 0, temperature = 0, total = 0, kinetic = 0;
        std::array<double, 24> terms{};
        int velocities = 0, forces = 0;
        bool hasCell = false;  // periodic from V 220: cell, vector velocities and stress read
        std::array<xxPoint3d, 3> cell{}, cellVelocities{};
        std::array<double, 6> stress{};
    };

    xxLoadTRJ(const xxLoadTRJ& other) = default;

    void ResetState();
    bool Refuse(std::string why);
    void MakeCompanion(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes);
    bool ProbeByteOrder();
    bool ReadHeader();
    bool ReadTitles(cartovane::HeaderCursor& c);
    void SizeRecords();
    bool CountFrames();
    int SeekFrame(int frame);
    // Reads the frame the stream stands at into read_ (and the buffers unless skipping); next is
    // where the frame after it starts.
    int ReadFrame(bool skip, std::int64_t start, std::int64_t& next);
    bool ReadCoordinates(std::vector<double>& into, bool scale);
    void BuildMap(xxIterator& objects);
    void WriteResults(double* energy, double* time, double* third, double* timeStep) const;
    void ApplyEnergies() const;
    // The cell's orientation transform, the cell set when the frame gives one; false, with the
    // model as it was, when the model's definition is not of the run's dimension or refuses the
    // cell.
    bool PrepareCell(const xxTransformMatrix* transform, xxTransformMatrix& m, bool& apply);
    void MoveMatter(xxIterator& objects, const xxTransformMatrix& m, bool apply);

    // ---- header ----
    int version_ = 0;
    std::array<char, 4> h1Text_{};
    std::array<int, 20> h1_{};
    std::array<std::vector<std::string>, 2> titles_;
    int periodicity_ = 0;
    std::array<int, 8> flags_{};  // [0] unused, F1 ... F7 as 0 or 1
    int nmol_ = 0;
    std::vector<int> molecules1_, molecules2_;
    std::vector<std::string> moleculeNames_;
    int totalAtoms_ = 0;
    int nmove_ = 0;
    std::vector<int> moving_;  // IDs from V 200; after the map, model positions (-1: none)
    bool allMove_ = false;     // below V 200: moving atom k is matter position k
    std::string text1_, text2_;
    bool scaleVelocities_ = false;

    // ---- sizes and frames ----
    std::array<std::int64_t, 10> record_{};  // payload sizes of frame records 1 ... 9 (0: absent)
    std::int64_t cellLeadIn_ = 0, cellRest_ = 0;
    std::int64_t coordinateRecord_ = 0;  // NMOVE values and the two length words
    std::int64_t frameSize_ = 0;
    std::int64_t headerEnd_ = 0;
    std::int64_t fileSize_ = 0;
    int frameCount_ = -1;
    double timeStep_ = 0;
    std::vector<std::int64_t> offsets_;  // start of frame i's first payload
    int held_ = -99;                     // the frame whose data the buffers hold
    FrameValues read_, frame_;           // of the last read, of the held frame

    // ---- the model ----
    int modelAtoms_ = -1;
    std::vector<bool> movingBits_;  // by model position
    std::vector<std::pair<xxMatter*, xxPoint3d>> fixed_;  // in the orientation frame of the cell
    std::vector<double> positions_, velocities_, forces_;  // 3 per model position
    std::vector<double> rawX_, rawY_, rawZ_;
    std::vector<float> rawFloat_;
    xxObjectSnapshot snapshot_;

    OwnedCompanion companion_;
};
