#include "formats/carmdf/his_loader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <istream>
#include <limits>
#include <optional>

#include "base/byte_swap.h"
#include "frame/binary_header.h"
#include "datamodel/atomistic.h"
#include "datamodel/energy_holder.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"

const cartovane::LoaderRegistration<xxLoadHIS> xxLoadHIS::registration{"HISLoader"};

namespace {

using cartovane::Count;
using cartovane::HeaderCursor;
using cartovane::Plus;
using cartovane::Times;

constexpr std::uint64_t kVersionAt = 96;
constexpr std::uint64_t kFlagAt = 4;           // frame 0's flag: the data of the first record
constexpr std::uint64_t kBetweenRecords = 8;   // a record's closing length word and the next one's opening
constexpr std::uint64_t kTitle = 80;
constexpr std::uint64_t kCellValues = 15;      // a b c alpha beta gamma and 9 more
constexpr std::uint64_t kH13Rest = 18 * 8 + 32928 + 4 + 4 * 8 + 4 + 6 * 8 + 6 * 4;  // after the cell values
constexpr std::size_t kStressValues = 54;      // six blocks of 9
constexpr std::uint64_t kFrameFixed = 636;     // F without the atoms and the counted energies
constexpr double kTimeStepUnit = 1000;
constexpr std::size_t kAhead = 8;  // objects prefetched ahead of the one being moved

// "V >= x" of the format: above, or within 1e-4.
bool AtLeast(double version, double x) { return version > x || std::fabs(version - x) <= 1e-4; }

// A version in the range a file of either byte order gives, clear of its bounds.
bool PlausibleVersion(double v) { return v > 0.1 && v < 1000 && v - 0.1 > 1e-4 && 1000 - v > 1e-4; }

}  // namespace

xxLoadHIS::xxLoadHIS() : RegisteredLoader(kBinaryFile) {}
xxLoadHIS::~xxLoadHIS() = default;

// Every field, the base's whole state with them (file, byte order, model, symmetry system, tree
// root, class types); the atom map the copy builds for itself.
std::unique_ptr<xxFrameProvider> xxLoadHIS::Clone() {
    std::unique_ptr<xxLoadHIS> copy(new xxLoadHIS(*this));
    copy->atomMap_.Clear();
    return copy;
}

bool xxLoadHIS::Refuse(std::string why) {
    SetErrorMessage(std::move(why));
    frameCount_ = 0;
    return false;
}

bool xxLoadHIS::Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) {
    frameCount_ = 0;
    currentFrame_ = -99;
    atomMap_.Clear();
    if (!xxFrameLoader::Init(trajectory, classTypes)) return false;
    const bool oneMovableClass =
        classTypes.size() == 1 && (classTypes[0] == xxBondable::classType || classTypes[0] == xxAtom::classType ||
                                   classTypes[0] == xxMatter::classType);
    if (!oneMovableClass) return Refuse("A HIS trajectory moves one class of objects: bondables, atoms or matter.");
    fileName_ += GetTrajectoryType();
    SetTrajectoryType(GetTrajectoryType());

    OpenedFile file(*this);
    if (!file) return Refuse("Cannot open the HIS file " + fileName_ + ".");
    std::istream& in = GetIstream64();
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0) return Refuse("Cannot read the HIS file " + fileName_ + ".");
    const auto size = static_cast<std::uint64_t>(end);

    // The byte order: the version read as ours, else reversed, must be a plausible version.
    double version = 0;
    swapBytes_ = false;
    in.seekg(static_cast<std::streamoff>(kVersionAt));
    if (size < kVersionAt + sizeof version || !ReadTranslate(&version, sizeof version, 1, false))
        return Refuse("The HIS file " + fileName_ + " ends inside its header.");
    if (!PlausibleVersion(version)) {
        cartovane::ByteSwap8(version);
        if (!PlausibleVersion(version)) return Refuse("The HIS file " + fileName_ + " is in no byte order known.");
        swapBytes_ = true;
    }
    version_ = version;
    if (!ReadHeader(size)) return false;
    SetupAnimateTrigger();
    return true;
}

bool xxLoadHIS::ReadHeader(std::uint64_t size) {
    const std::string damaged = "The HIS file " + fileName_ + " has a damaged header: ";
    std::istream& in = GetIstream64();
    in.clear();
    in.seekg(0);
    HeaderCursor c(*this, size);
    int flag = 0, k1 = 0, k2 = 0, n = 0, ignored = 0, m = 0, g = 0, k5 = 0, k6 = 0, e = 0;
    auto cut = [&] { return Refuse(damaged + "it is cut short or a count does not fit the file."); };

    if (!c.Skip(4) || !c.Read(&flag, 1)) return cut();  // H1
    const std::uint64_t flagEnd = c.At();
    if (!c.NextRecord() || !c.Skip(kTitle + 8) || !c.NextRecord() || !c.Skip(kTitle) || !c.NextRecord() ||
        !c.Skip(kTitle))  // H2 to H4
        return cut();
    if (!c.NextRecord() || !c.ReadCount(k1) || !c.Skip(Times(Count(k1), 4 + 8))) return cut();  // H5
    if (!c.NextRecord() || !c.ReadCount(k2) || !c.Skip(Times(Count(k2), 4))) return cut();      // H6
    const std::uint64_t nameWidth = AtLeast(version_, 2.9) ? 5 : 4;
    if (!c.NextRecord() || !c.ReadCount(n) || !c.Skip(Times(Count(n), 4 + nameWidth))) return cut();  // H7
    if (!c.NextRecord() || !c.Read(&ignored, 1) || !c.ReadCount(m)) return cut();                    // H8
    if (m > n) return Refuse(damaged + "more movable atoms than atoms.");
    std::vector<int> movable;
    if (AtLeast(version_, 2.6)) {
        if (!c.Fits(Times(Count(m), 4))) return cut();
        movable.resize(Count(m));
        if (!c.Read(movable.data(), movable.size())) return cut();
        for (int number : movable)
            if (number < 1 || number > n)
                return Refuse(damaged + "movable atom " + std::to_string(number) + " is no atom of 1 ... " +
                              std::to_string(n) + ".");
    }
    if (!c.NextRecord() || !c.ReadCount(g) || !c.Skip(Times(Count(g), 8))) return cut();       // H9
    if (!c.NextRecord() || !c.ReadCount(k5) || !c.Skip(Times(Count(k5), 12))) return cut();    // H10
    if (!c.NextRecord() || !c.ReadCount(k6)) return cut();                                       // H11
    if (k6 > 0 && (!c.NextRecord() || !c.Skip(Times(Count(k6), 8)))) return cut();               // H12
    if (!c.NextRecord()) return cut();                                                           // H13
    cellSkip_ = c.At() - flagEnd;
    double cell[kCellValues];
    if (!c.Read(cell, kCellValues)) return cut();
    const std::uint64_t cellEnd = c.At();
    double timeStep = 0;
    int steps = 0, first = 0;
    if (!c.Skip(kH13Rest) || !c.NextRecord() || !c.ReadCount(e) || !c.Read(&timeStep, 1) || !c.Read(&steps, 1) ||
        !c.Read(&first, 1))  // H14
        return cut();
    h14Skip_ = c.At() - cellEnd;

    // Frame 0's energy record, positions and velocities must be there before anything is
    // sized by N, and each frame after it must have a size.
    const std::optional<std::uint64_t> countedEnergies =
        Plus(Times(Count(e), Count(g) + 1), Times(Count(g), 5));  // E (1 + G) + 5 G
    const std::optional<std::uint64_t> skippedEnergies = Plus(countedEnergies, 2);  // the rest of the 59 besides 3 and 54
    const std::optional<std::uint64_t> energyBytes = Times(Plus(countedEnergies, 59), 8);
    const std::optional<std::uint64_t> atomBytes = Times(Count(n), 12);
    const std::optional<std::uint64_t> frame0Rest =
        Plus(Plus(Plus(energyBytes, 3 * kBetweenRecords), Times(atomBytes, 2)), 4);
    if (!c.Fits(frame0Rest) || !skippedEnergies) return cut();

    const int stored = AtLeast(version_, 2.6) ? m : n;
    const std::optional<std::uint64_t> frameSize =
        Plus(Plus(Times(Count(stored), 24), Times(countedEnergies, 8)), kFrameFixed);
    if (!frameSize) return cut();

    atoms_ = n;
    movableCount_ = m;
    storedPerFrame_ = stored;
    g_ = g;
    e_ = e;
    movable_ = std::move(movable);
    everyAtomInOrder_ = movable_.size() == Count(n);
    for (std::size_t k = 0; k < movable_.size() && everyAtomInOrder_; ++k)
        everyAtomInOrder_ = movable_[k] == static_cast<int>(k + 1);
    timeStep_ = timeStep / kTimeStepUnit;
    stepsBetweenFrames_ = steps;
    firstStep_ = first == 0 ? 1 : first;
    energySkip_ = *skippedEnergies * 8;
    frame0End_ = c.At() + *frame0Rest - 4;
    frameSize_ = *frameSize;
    std::copy_n(cell, 6, staged_.cell.begin());
    periodic_ = std::any_of(staged_.cell.begin(), staged_.cell.end(), [](double v) { return v != 0; });

    const std::size_t values = 3 * Count(n);
    positions_.assign(values, 0.0f);
    velocities_.assign(values, 0.0f);
    stagedPositions_.assign(values, 0.0f);
    stagedVelocities_.assign(values, 0.0f);
    if (!ReadFrameBody(0)) return cut();
    CommitFrame(0);

    const std::uint64_t later = (size - frame0End_ - 4) / frameSize_;
    frameCount_ = static_cast<int>(std::min<std::uint64_t>(later, static_cast<std::uint64_t>(INT_MAX) - 1) + 1);
    return true;
}

std::uint64_t xxLoadHIS::FrameOffset(int frame) const {
    if (frame == 0) return kFlagAt;
    return frame0End_ + kBetweenRecords + static_cast<std::uint64_t>(frame - 1) * frameSize_;
}

std::uint64_t xxLoadHIS::FrameBytes(int frame) const {
    if (frame == 0) return frame0End_ + 4 - kFlagAt;
    return frameSize_;
}

int xxLoadHIS::ReadFrame(int frame) {
    OpenedFile file(*this);
    if (!file) return kCannotOpen;
    std::istream& in = GetIstream64();
    in.clear();
    const std::uint64_t offset = FrameOffset(frame);
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max())) return kCannotReach;
    in.seekg(static_cast<std::streamoff>(offset));
    if (in.fail()) return kCannotReach;
    return ReadFrameRecords(frame) ? 0 : kCannotRead;
}

bool xxLoadHIS::ReadFrameRecords(int frame) {
    int flag = -1;
    std::string none;
    if (!ReadTranslate(&flag, sizeof flag, 1, false) || flag != (frame == 0 ? 0 : 1)) return false;
    if (frame == 0) {
        double cell[kCellValues];
        if (!Read(none, static_cast<std::size_t>(cellSkip_), true) || !ReadTranslate(cell, sizeof(double), kCellValues, false) ||
            !Read(none, static_cast<std::size_t>(h14Skip_), true))
            return false;
        std::copy_n(cell, 6, staged_.cell.begin());
    }
    return ReadFrameBody(frame);
}

// From the end of the frame's flag (frame 0: of H14) to the closing length word of its
// velocities.
bool xxLoadHIS::ReadFrameBody(int frame) {
    std::string none;
    auto next = [&] { return Read(none, kBetweenRecords, true); };
    double stress[kStressValues];
    if (!next() || !ReadTranslate(staged_.energies.data(), sizeof(double), 3, false) ||
        !Read(none, static_cast<std::size_t>(energySkip_), true) ||
        !ReadTranslate(stress, sizeof(double), kStressValues, false) || !next())
        return false;
    // Blocks 1, 3 and 5 (from 1) are kept.
    for (std::size_t b = 0; b < 3; ++b) std::copy_n(stress + 18 * b, 9, staged_.stress.begin() + 9 * b);
    if (frame > 0) {
        double cell[kCellValues];
        if (!ReadTranslate(cell, sizeof(double), kCellValues, false) || !next()) return false;
        std::copy_n(cell, 6, staged_.cell.begin());
    }
    // The positions and velocities are read as they lie and turned into our byte order as the
    // model takes them (MoveAtoms): one pass over them instead of two.
    const std::size_t values = 3 * Count(frame == 0 ? atoms_ : storedPerFrame_);
    auto raw = [&](std::vector<float>& into) {
        GetIstream64().read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(values * sizeof(float)));
        return !GetIstream64().fail();
    };
    return raw(stagedPositions_) && next() && raw(stagedVelocities_) && Read(none, 4, true);
}

// The staged frame becomes the loader's. A frame that stores every atom in order (frame 0, a
// file before 2.6, or one whose movable atoms are all atoms in order) replaces the atoms'
// values; a later frame of a file with movable atoms gives them theirs by number, and the other
// atoms keep what was read for them last.
void xxLoadHIS::CommitFrame(int frame) {
    kept_ = staged_;
    if (frame == 0 || !AtLeast(version_, 2.6) || everyAtomInOrder_) {
        positions_.swap(stagedPositions_);
        velocities_.swap(stagedVelocities_);
        return;
    }
    const float* p = stagedPositions_.data();
    const float* v = stagedVelocities_.data();
    for (std::size_t k = 0; k < movable_.size(); ++k, p += 3, v += 3) {
        const std::size_t to = 3 * static_cast<std::size_t>(movable_[k] - 1);
        std::copy(p, p + 3, positions_.data() + to);
        std::copy(v, v + 3, velocities_.data() + to);
    }
}

void xxLoadHIS::WriteResults(int frame, double* energy, double* time, double* third, double* timeStep) const {
    if (energy) *energy = kept_.energies[0];
    // ((i + 1) I + S - 1) in 64 bits: long runs pass any 32-bit step number.
    const std::int64_t step = (std::int64_t{frame} + 1) * stepsBetweenFrames_ + firstStep_ - 1;
    if (time) *time = static_cast<double>(step) * timeStep_;
    if (third) *third = timeStep_;
    if (timeStep) *timeStep = stepsBetweenFrames_ * timeStep_;
}

// The map is kept while the model keeps its shape, so a frame costs no walk of the model.
void xxLoadHIS::MapAtoms(xxIterator& objects) {
    if (atomMap_.IsCurrent()) return;
    const unsigned bondables[] = {xxBondable::classType};
    atomMap_.Build(modelObject_, bondables, objects);
}

void xxLoadHIS::CheckTreeRoot() const {
    if (!treeRoot_) throw Cfx::CfxResult(E_ABORT, "Trajectory reader has not initialized correctly.");
    if (!treeRoot_->IsA(xxClassicalEnergyHolder::classType))
        throw Cfx::CfxResult(E_ABORT, "Trajectory reader is operating on an unexpected kind of document.");
}

bool xxLoadHIS::ApplyCell(const std::array<double, 6>& cell, xxTransformMatrix& orientation, bool& transformed) {
    if (!symmetrySystem_) return true;
    // Only a space group takes the file's cell (and its orientation): a plane group refuses
    // orientation 3.
    auto* group = symmetrySystem_->GetSymmetryDefinition().As<xxSpaceGroup>();
    if (!group) return true;
    try {
        group->SetCellParameters(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5], true);
        orientation = group->GetTransformationFromOrientation(3);
    } catch (const Cfx::CfxResult& r) {
        SetErrorMessage("Frame cell refused: " + r.Description());
        return false;
    }
    transformed = !orientation.IsTranslation(true);
    return true;
}

template <bool Swapped>
void xxLoadHIS::MoveAtoms(const xxTransformMatrix& orientation, bool transformed) const {
    auto value = [](const float* at) {
        float f = *at;
        if constexpr (Swapped) cartovane::ByteSwap4(f);
        return static_cast<double>(f);
    };
    const std::span<const cartovane::FrameAtomMap::Mapped> mapped = atomMap_.Objects();
    for (std::size_t i = 0; i < mapped.size(); ++i) {
        // The objects lie apart in memory: ask for the ones a few steps ahead early.
        if (i + kAhead < mapped.size()) __builtin_prefetch(mapped[i + kAhead].object, 1);
        const cartovane::FrameAtomMap::Mapped& m = mapped[i];
        if (m.atom >= static_cast<std::size_t>(atoms_)) continue;
        const float* p = positions_.data() + 3 * m.atom;
        const float* v = velocities_.data() + 3 * m.atom;
        const xxPoint3d position{value(p), value(p + 1), value(p + 2)};
        const xxPoint3d velocity{value(v), value(v + 1), value(v + 2)};
        m.object->SetXYZ(transformed ? orientation.Apply(position) : position);
        m.object->SetVelocity(1000.0 * (transformed ? orientation.TransformCartesianVector(velocity) : velocity));
    }
}

void xxLoadHIS::ApplyEnergies() const {
    xxObject& root = *treeRoot_;
    using H = xxClassicalEnergyHolder;
    H::m_pptTotalEnergy.SetValue(root, kept_.energies[0]);
    H::m_pptKineticEnergy.SetValue(root, kept_.energies[2]);
    H::m_pptPotentialEnergy.SetValue(root, kept_.energies[1]);
    for (const xxPropertyTemplate<double>* unassigned :
         {&H::m_pptValenceDiagonalEnergy, &H::m_pptBondEnergy, &H::m_pptAngleEnergy, &H::m_pptTorsionEnergy,
          &H::m_pptInversionEnergy, &H::m_pptValenceCrossTermEnergy, &H::m_pptStretchStretchEnergy,
          &H::m_pptStretchBendStretchEnergy, &H::m_pptStretchTorsionStretchEnergy,
          &H::m_pptSeparatedStretchStretchEnergy, &H::m_pptTorsionStretchEnergy, &H::m_pptBendBendEnergy,
          &H::m_pptTorsionBendBendEnergy, &H::m_pptBendTorsionBendEnergy, &H::m_pptNonBondEnergy,
          &H::m_pptHydrogenBondEnergy, &H::m_pptVanDerWaalsEnergy, &H::m_pptElectrostaticEnergy,
          &H::m_pptRestraintEnergy, &H::m_pptThreeBodyNonBondEnergy, &H::m_pptTemperature})
        unassigned->UnassignValue(root);
}

// Scaled (and turned) copies: the blocks stay as read, so showing a frame again gives the same.
void xxLoadHIS::ApplyStresses(const xxTransformMatrix* transform) const {
    auto* system = symmetrySystem_ ? symmetrySystem_->As<xxMatterSymmetrySystem>() : nullptr;
    if (!system) return;
    auto block = [&](std::size_t b) {
        std::array<double, 9> values;
        for (std::size_t k = 0; k < 9; ++k) values[k] = kept_.stress[9 * b + k] * -0.0001;
        xxMatrix3x3 tensor(values);
        return transform ? transform->TransformCartesianTensor(tensor, xxPoint3d::zero) : tensor;
    };
    xxMatterSymmetrySystem::m_pptPotentialStress.SetValue(*system, block(2));
    xxMatterSymmetrySystem::m_ppt_TrajectoryStress.SetValue(*system, block(0));
}

xxBool xxLoadHIS::LoadFrame(int frame, xxIterator& objects, double* energy, double* time, double* third,
                            double* timeStep, const xxTransformMatrix* transform) {
    if (frame < 0 || frame >= frameCount_) return false;
    if (frame == currentFrame_ && !transform) {
        WriteResults(frame, energy, time, third, timeStep);
        return true;
    }
    CheckTreeRoot();
    MapAtoms(objects);
    const bool read = frame != currentFrame_;
    if (read && ReadFrame(frame) != 0) {
        SetErrorMessage(Cfx::CfxFormat("Frame %1 of the HIS file %2 cannot be read.", {std::to_string(frame), fileName_}));
        return false;
    }

    // Everything that can refuse the frame comes before anything moves.
    xxTransformMatrix orientation;
    bool transformed = false;
    if (!ApplyCell(read ? staged_.cell : kept_.cell, orientation, transformed)) return false;
    if (transform) {
        orientation = *transform;
        transformed = true;
    }
    if (read) {
        CommitFrame(frame);
        currentFrame_ = frame;
    }

    if (SwapsBytes()) MoveAtoms<true>(orientation, transformed);
    else MoveAtoms<false>(orientation, transformed);
    ApplyEnergies();
    ApplyStresses(transform);
    WriteResults(frame, energy, time, third, timeStep);
    return true;
}

xxBool xxLoadHIS::IsCompatibleWith(xxIterator* objects) {
    if (!objects || frameCount_ <= 0) return false;
    if (periodic_ != (symmetrySystem_ != nullptr)) {
        SetErrorMessage(periodic_ ? "The HIS file has a cell and the model has none."
                                  : "The HIS file has no cell and the model has one.");
        return false;
    }
    MapAtoms(*objects);
    if (atomMap_.MappedCount() == static_cast<std::size_t>(atoms_)) return true;
    SetErrorMessage(Cfx::CfxFormat("The HIS file moves %1 atoms and the model has %2.",
                                   {std::to_string(atoms_), std::to_string(atomMap_.MappedCount())}));
    return false;
}
