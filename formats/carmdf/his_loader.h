// The HIS trajectory frame loader. A HIS file is the binary history of a molecular-dynamics run,
// in records [int32 n][n bytes][int32 n] of one byte order (ours or the other):
//
//     H1   int flag (0: frame 0 is stored with the header)
//     H2   char[80] title; double version V (file byte 96)
//     H3   char[80];  H4  char[80]
//     H5   int K1; K1 names of 4 characters; K1 doubles
//     H6   int K2; K2 names of 4 characters
//     H7   int N (atoms); N ints; N names of 5 characters from V 2.9 on, else 4
//     H8   int; int M (movable atoms); from V 2.6 on M ints, their 1-based numbers
//     H9   int G; 2G ints          H10  int K5; 3 K5 ints
//     H11  int K6                  H12  2 K6 ints, only when K6 > 0
//     H13  cell (a b c alpha beta gamma, angles in radians) and 27 doubles; 33,040 bytes more
//     H14  int E; double time step (x 1000); int I (steps between frames); int S (first step)
//     energy record: Etot, Epot, Ekin; E + G + E G + 4 G + 2 doubles; six stress blocks of 9
//     positions (3 N floats), velocities (3 N floats)
//
// and every later frame is five records: int flag 1; the energy record; the cell and 9
// doubles; the positions and the velocities of the m stored atoms (m = M from V 2.6 on,
// scattered to the atoms by number; before that every atom, m = N). All frames after frame 0
// have one size, so frame i's flag lies at a fixed stride from frame 1's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "datamodel/iterator.h"
#include "formats/carmdf/frame_atom_map.h"
#include "frame/loader_registration.h"
#include "utilities/frame_loader.h"

class xxLoadHIS final : public cartovane::RegisteredLoader<xxLoadHIS, xxFrameLoader> {
public:
    static const cartovane::LoaderRegistration<xxLoadHIS> registration;

    // Why a frame cannot be read; LoadFrame then answers false.
    static constexpr int kCannotOpen = 50508;   // the trajectory file does not open
    static constexpr int kCannotReach = 50509;  // the frame's flag cannot be sought
    static constexpr int kCannotRead = 50510;   // a wrong flag, or the frame is cut short

    xxLoadHIS();
    ~xxLoadHIS() override;

    // Everything the loader and its base know; the atom map the copy builds for itself.
    std::unique_ptr<xxFrameProvider> Clone() override;
    // Accepts one class type: bondables, atoms or matter. Opens "<stem>.his", finds its byte
    // order, reads the header and frame 0 and counts the frames. False, with the error message
    // set, for other class types, a file that does not open, an unknown byte order, a header
    // cut short, a count that is negative or does not fit the file, or a movable-atom number
    // outside 1 ... N. Nothing is allocated for a count before it is checked against the file.
    bool Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) override;
    std::string GetTrajectoryType() const override { return "his"; }
    int GetNumFrames() const override { return frameCount_; }
    // Frame from 0 to GetNumFrames() - 1 (false for any other, nothing read). Moves the mapped
    // objects to the frame's positions and gives them its velocities (x 1000); sets the total,
    // kinetic and potential energy on the tree root and unassigns its other energies; with a
    // symmetry system, its stresses (x -0.0001; the potential stress from block 5, the
    // trajectory stress from block 1) and, for a space group, its cell, whose orientation
    // transform moves positions and velocities unless the caller gives a transform, which is
    // then always applied (and turns the stresses too). Results: energy = the total energy,
    // time = ((frame + 1) I + S - 1) dt (S = 0 counts as 1), third value = dt, time step = I dt.
    // False, with the model and the loader as they were, for a frame that cannot be read or a
    // cell the definition refuses. A tree root that is no classical energy holder throws E_ABORT
    // before anything moves.
    xxBool LoadFrame(int frame, xxIterator& objects, double* energy, double* time, double* third, double* timeStep,
                     const xxTransformMatrix* transform) override;
    // Periodic file (a cell that is not all zeros) for a periodic model and the other way
    // round, and every one of the file's N atoms mapped to an object.
    xxBool IsCompatibleWith(xxIterator* objects) override;

    xxBool IsFileExtension(std::string extension) const override { return extension == "his"; }
    std::string GetFileExtension() const override { return "his"; }
    std::string GetFileFilter() const override { return "MD HIS Files *.his) |*.his|"; }

    double GetVersion() const { return version_; }
    int GetAtomCount() const { return atoms_; }
    // The bytes of frame i in the file (its flag word's record to its velocities' closing
    // length word).
    std::uint64_t FrameBytes(int frame) const;

private:
    xxLoadHIS(const xxLoadHIS& other) = default;

    bool ReadHeader(std::uint64_t fileSize);
    bool Refuse(std::string why);
    std::uint64_t FrameOffset(int frame) const;
    // Reads frame i into the staged values: 0 or one of the codes above.
    int ReadFrame(int frame);
    bool ReadFrameRecords(int frame);
    bool ReadFrameBody(int frame);
    void CommitFrame(int frame);
    void WriteResults(int frame, double* energy, double* time, double* third, double* timeStep) const;
    void MapAtoms(xxIterator& objects);
    // Throws E_ABORT unless the tree root can hold the frame's energies.
    void CheckTreeRoot() const;
    // The cell and orientation of a space group; false when the definition refuses the cell.
    bool ApplyCell(const std::array<double, 6>& cell, xxTransformMatrix& orientation, bool& transformed);
    // The frame's positions and velocities to the mapped objects.
    template <bool Swapped>
    void MoveAtoms(const xxTransformMatrix& orientation, bool transformed) const;
    void ApplyEnergies() const;
    void ApplyStresses(const xxTransformMatrix* transform) const;

    // Values a frame gives, kept as read.
    struct FrameValues {
        std::array<double, 3> energies{};  // total, potential, kinetic
        std::array<double, 6> cell{};
        std::array<double, 27> stress{};   // blocks 1, 3 and 5 of the six
    };

    double version_ = 0;
    int atoms_ = 0;                // N
    int movableCount_ = 0;         // M
    int storedPerFrame_ = 0;       // m: what a frame after frame 0 stores
    int g_ = 0, e_ = 0;
    std::vector<int> movable_;     // 1-based atom numbers, from V 2.6 on
    bool everyAtomInOrder_ = false;  // the movable atoms are 1 ... N in order
    double timeStep_ = 0;          // dt, already divided by 1000
    int stepsBetweenFrames_ = 0;   // I
    int firstStep_ = 1;            // S, with 0 counted as 1
    std::uint64_t cellSkip_ = 0;   // frame 0: bytes from the end of the flag to the cell
    std::uint64_t h14Skip_ = 0;    // frame 0: bytes from the end of the cell's 15 doubles to the end of H14
    std::uint64_t energySkip_ = 0; // bytes of an energy record between the three energies and the stresses
    std::uint64_t frame0End_ = 0;  // P: just after frame 0's velocities
    std::uint64_t frameSize_ = 0;  // F
    int frameCount_ = 0;
    int currentFrame_ = -99;
    bool periodic_ = false;        // frame 0's cell is not all zeros

    FrameValues kept_;                                  // the current frame's
    FrameValues staged_;                                // of the frame being read
    // 3 per atom, as last read, in the file's byte order.
    std::vector<float> positions_, velocities_;
    // 3 per stored atom of the frame being read, in the file's byte order.
    std::vector<float> stagedPositions_, stagedVelocities_;

    cartovane::FrameAtomMap atomMap_;
};
