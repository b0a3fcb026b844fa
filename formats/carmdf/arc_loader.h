// The ARC trajectory frame loader: an ARC file is a header and then frames, each a CAR-style
// block of atom lines; the loader indexes the frames and moves the model's atoms to the
// positions of the frame asked for.
//
//     !KORVEN archive 3          (or 2)
//     PBC=ON                     (PBC=2D, PBC=OFF; any case)
//     title                      optional; its number at column 61 is the frame's value
//     !DATE ...
//     PBC  a b c alpha beta gamma (periodic files only; a b gamma in 2-D files; degrees)
//     atom lines                 x, y, z read from columns 5, 20, 35 whatever the version
//     end                        closes a molecule; a second "end" closes the frame
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "datamodel/iterator.h"
#include "frame/loader_registration.h"
#include "utilities/frame_loader.h"

class CTextParser;

class xxLoadArc final : public cartovane::RegisteredLoader<xxLoadArc, xxFrameLoader> {
public:
    static const cartovane::LoaderRegistration<xxLoadArc> registration;

    // Codes of a frame that cannot be read; LoadFrame then answers false.
    static constexpr int kCannotOpen = 50508;   // the trajectory file does not open
    static constexpr int kCannotReach = 50509;  // the frame's start cannot be sought

    xxLoadArc();
    ~xxLoadArc() override;

    // Everything but the atom map, which the copy builds for itself on first use.
    std::unique_ptr<xxFrameProvider> Clone() override;
    // Reads the header, counts the frames and frame 0's atoms. False, with the error message
    // set, when the file does not open, is no archive 2 or 3 file, has a periodicity line other
    // than PBC=ON, PBC=2D or PBC=OFF, or has no complete frame with atoms.
    bool Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) override;
    std::string GetTrajectoryType() const override { return "arc"; }
    // After Init; a damaged frame n cuts the count to n, as frames 0 .. n - 1 still read.
    int GetNumFrames() const override { return frameCount_ < 0 ? 0 : frameCount_; }
    // Frame from 0. The energy result is the frame's value (that of the frame read before when
    // the frame has no title line), the third value and the time step 0; the time is left. A
    // periodic file sets the cell of the model's symmetry definition and moves the atoms by the
    // orientation transform (3 for space groups, 19 for plane groups) unless the caller gives
    // a transform, which is then always applied. False, with the model as it was, for a frame
    // outside 0 .. count - 1, one that cannot be read (a damaged frame also records the last
    // error E_UNEXPECTED "Unexpected error reading frame n. ...") or a cell the symmetry
    // definition refuses.
    xxBool LoadFrame(int frame, xxIterator& objects, double* energy, double* time, double* third, double* timeStep,
                     const xxTransformMatrix* transform) override;
    // The file's periodicity must be the model's (none, a space group for PBC=ON, a plane group
    // for PBC=2D) and its atom count the number of the objects that map onto its atom lines.
    xxBool IsCompatibleWith(xxIterator* objects) override;

    xxBool IsFileExtension(std::string extension) const override { return extension == "arc"; }
    std::string GetFileExtension() const override { return "arc"; }
    std::string GetFileFilter() const override { return "MD ARC Files *.arc) |*.arc|"; }

    // The atom lines of each frame, from frame 0; -1 before Init counted them.
    int GetAtomCount() const { return atomCount_; }
    // What the loader keeps to find its frames: nothing per frame when every frame has frame
    // 0's length, one 64-bit offset per frame when the file had to be skimmed for them.
    std::size_t FrameIndexBytes() const { return offsets_.capacity() * sizeof(std::uint64_t); }

private:
    xxLoadArc(const xxLoadArc& other);

    // One frame from the parser's position: false for a damaged one.
    struct FrameRead;
    bool ReadFrameLines(CTextParser& parser, FrameRead& read) const;
    // Counts the frames, frame 0's atom lines and where each frame starts; lineEnd is the size
    // of the file's line end.
    void CountFrames(CTextParser& parser, std::uint64_t lineEnd);
    std::uint64_t FrameStart(int frame) const;
    // Reads a frame into next_ and frameCell_; 0, a code above or the HRESULT of a damaged frame.
    long ReadFrame(int frame, double& value);
    bool ApplyCell(xxTransformMatrix& orientation);
    void BuildAtomMap(xxIterator& objects);

    int frameCount_ = -1;
    int atomCount_ = -1;
    bool periodic_ = false, threeD_ = false, twoD_ = false;
    double frameValue_ = 0;   // of the frame last read
    double secondValue_ = 0;  // always 0
    int currentFrame_ = -99;
    // Frame i starts at start0_ + i * frameLength_ when frameLength_ is not 0, else at offsets_[i].
    std::uint64_t start0_ = 0;
    std::uint64_t frameLength_ = 0;
    std::vector<std::uint64_t> offsets_;
    std::vector<double> xyz_;   // 3 per atom line, of the frame last read
    std::vector<double> next_;  // the frame being read, taken only when it is whole
    double cell_[6] = {};       // a b c (lengths), alpha beta gamma (radians) of the frame last read
    double frameCell_[6] = {};  // of the frame being read
    // Per object of the model iterator, in its order: the atom line it takes, or -1.
    std::vector<int> atomMap_;
    std::size_t mappedCount_ = 0;
    bool mapBuilt_ = false;
    xxObjectSnapshot snapshot_;
};
