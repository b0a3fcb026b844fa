#include "formats/qor_trj_xtl_chemxml/trj_loader.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <istream>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "base/byte_swap.h"
#include "datamodel/atomistic.h"
#include "datamodel/energy_holder.h"
#include "datamodel/self_loading.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"

const cartovane::LoaderRegistration<xxLoadTRJ> xxLoadTRJ::registration{"TRJLoader"};

namespace {

using cartovane::Count;
using cartovane::HeaderCursor;
using cartovane::Times;

constexpr int kMinVersion = 1, kMaxVersion = 3000;
constexpr std::uint64_t kTitleLine = 80;
constexpr std::int64_t kBetweenRecords = 8;
constexpr std::string_view kScaledTitle = "Trajectory created by Kelvarin Vormane";
constexpr double kVelocityScale = 1000.0;

bool IsVersion(int v) { return v >= kMinVersion && v <= kMaxVersion; }

// The energy-term index of the file for each energy template (-1: not in the file).
using H = xxClassicalEnergyHolder;
struct Term {
    const xxPropertyTemplate<double>* energy;
    int index;
};
const Term kTerms[] = {
    {&H::m_pptPotentialEnergy, 0},
    {&H::m_pptBondEnergy, 1},
    {&H::m_pptAngleEnergy, 2},
    {&H::m_pptTorsionEnergy, 3},
    {&H::m_pptInversionEnergy, 4},
    {&H::m_pptVanDerWaalsEnergy, 5},
    {&H::m_pptElectrostaticEnergy, 6},
    {&H::m_pptHydrogenBondEnergy, 7},
    {&H::m_pptValenceDiagonalEnergy, 22},
    {&H::m_pptValenceCrossTermEnergy, 11},
    {&H::m_pptStretchStretchEnergy, 13},
    {&H::m_pptStretchBendStretchEnergy, 14},
    {&H::m_pptStretchTorsionStretchEnergy, 15},
    {&H::m_pptSeparatedStretchStretchEnergy, 18},
    {&H::m_pptTorsionStretchEnergy, 19},
    {&H::m_pptBendBendEnergy, 12},
    {&H::m_pptTorsionBendBendEnergy, 17},
    {&H::m_pptBendTorsionBendEnergy, 16},
    {&H::m_pptNonBondEnergy, 23},
    {&H::m_pptRestraintEnergy, 8},
    {&H::m_pptThreeBodyNonBondEnergy, 10},
};

}  // namespace

xxLoadTRJ::OwnedCompanion::OwnedCompanion(const OwnedCompanion& other) : loader_(other.loader_ ? other.loader_->Clone() : nullptr) {}

xxLoadTRJ::xxLoadTRJ() : RegisteredLoader(kBinaryFile) {}
xxLoadTRJ::~xxLoadTRJ() = default;

std::unique_ptr<xxFrameProvider> xxLoadTRJ::Clone() { return std::unique_ptr<xxFrameProvider>(new xxLoadTRJ(*this)); }

void xxLoadTRJ::ResetState() {
    version_ = 0;
    h1Text_ = {};
    h1_ = {};
    titles_ = {};
    periodicity_ = 0;
    flags_ = {};
    nmol_ = 0;
    molecules1_.clear();
    molecules2_.clear();
    moleculeNames_.clear();
    totalAtoms_ = nmove_ = 0;
    moving_.clear();
    allMove_ = false;
    text1_.clear();
    text2_.clear();
    scaleVelocities_ = false;
    record_ = {};
    cellLeadIn_ = cellRest_ = coordinateRecord_ = frameSize_ = headerEnd_ = fileSize_ = 0;
    frameCount_ = -1;
    timeStep_ = 0;
    offsets_.clear();
    held_ = -99;
    read_ = frame_ = {};
    modelAtoms_ = -1;
    movingBits_.clear();
    fixed_.clear();
    companion_.reset();
    swapBytes_ = false;
}

bool xxLoadTRJ::Refuse(std::string why) {
    SetErrorMessage(std::move(why));
    frameCount_ = -1;
    return false;
}

bool xxLoadTRJ::Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) {
    ResetState();
    if (!xxFrameLoader::Init(trajectory, classTypes)) return false;
    for (unsigned type : classTypes) {
        const xxClass* cls = xxClass::FindClassByTypeIfExists(type);
        if (cls && cls->IsA(xxSelfLoadingObject::classType)) MakeCompanion(trajectory, classTypes);
    }
    fileName_ += GetTrajectoryType();
    SetTrajectoryType(GetTrajectoryType());

    OpenedFile file(*this);
    if (!file) return Refuse("Cannot open the TRJ file " + fileName_ + ".");
    if (!ProbeByteOrder()) return Refuse("The file " + fileName_ + " is no TRJ file: it has no version of 1 ... 3000.");
    if (!ReadHeader()) return false;
    SetupAnimateTrigger();
    return true;
}

void xxLoadTRJ::MakeCompanion(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) {
    const xxClass* cls = xxClass::FindClassIfExists(kCompanionClass);
    if (!cls || cls->IsAbstract()) return;
    std::unique_ptr<xxClassInstance> instance = cls->CreateNew();
    auto* provider = dynamic_cast<xxFrameProvider*>(instance.get());
    if (!provider) return;
    instance.release();
    std::unique_ptr<xxFrameProvider> loader(provider);
    if (loader->Init(trajectory, classTypes)) companion_.reset(std::move(loader));
}

bool xxLoadTRJ::ProbeByteOrder() {
    std::istream& in = GetIstream64();
    in.clear();
    in.seekg(4);
    char text[4];
    std::int32_t version = 0;
    in.read(text, sizeof text);
    in.read(reinterpret_cast<char*>(&version), sizeof version);
    if (!in) return false;
    swapBytes_ = false;
    if (IsVersion(version)) return true;
    cartovane::ByteSwap4(version);
    if (!IsVersion(version)) return false;
    swapBytes_ = true;
    return true;
}

bool xxLoadTRJ::ReadTitles(HeaderCursor& c) {
    for (std::vector<std::string>& lines : titles_) {
        int length = 0, n = 0;
        if (!c.Skip(4) || !c.ReadCount(length) || !c.ReadCount(n)) return false;
        const std::optional<std::uint64_t> text = Times(Count(n), kTitleLine);
        if (!text || 4 + *text > Count(length) || !c.Fits(text)) return false;
        lines.resize(Count(n));
        for (std::string& line : lines)
            if (!c.ReadText(line, kTitleLine)) return false;
        if (!c.Skip(Count(length) - 4 - *text)) return false;
    }
    return true;
}

bool xxLoadTRJ::ReadHeader() {
    const std::string damaged = "The TRJ file " + fileName_ + " has a damaged header: ";
    auto cut = [&] { return Refuse(damaged + "it is cut short or a count does not fit the file."); };
    struct stat status {};
    if (::stat(fileName_.c_str(), &status) != 0) return Refuse("Cannot read the size of the TRJ file " + fileName_ + ".");
    fileSize_ = static_cast<std::int64_t>(status.st_size);

    std::istream& in = GetIstream64();
    in.clear();
    in.seekg(4);
    HeaderCursor c(*this, static_cast<std::uint64_t>(fileSize_), 4);
    std::string text;
    if (!c.ReadText(text, 4) || !c.Read(h1_.data(), h1_.size())) return cut();
    std::copy_n(text.begin(), 4, h1Text_.begin());
    version_ = h1_[0];
    const int v = version_;
    if (v >= 311 && !ReadTitles(c)) return cut();

    if (v > 150) {
        const std::size_t n = v < 300 ? 5 : 8;
        std::array<int, 8> f{};
        if (!c.NextRecord() || !c.Read(f.data(), n)) return cut();
        periodicity_ = v < 2000 && f[0] != 0 ? 3 : f[0];
        for (std::size_t i = 1; i < 8; ++i) flags_[i] = f[i] != 0 ? 1 : 0;
    }

    if (v < 200) {
        int counts[4];
        if (!c.NextRecord() || !c.Read(counts, 4)) return cut();
        if (counts[0] < 0 || counts[1] < 0) return Refuse(damaged + "a count below 0.");
        totalAtoms_ = counts[0];
        nmove_ = counts[1];
        allMove_ = true;
    } else {
        if (!c.NextRecord() || !c.Read(&nmol_, 1)) return cut();
        if (nmol_ < 1) return Refuse(damaged + "it lists no molecule.");
        if (!c.Fits(Times(Count(nmol_), 16))) return cut();
        molecules1_.resize(Count(nmol_));
        molecules2_.resize(Count(nmol_));
        moleculeNames_.resize(Count(nmol_));
        if (!c.Read(molecules1_.data(), molecules1_.size()) || !c.Read(molecules2_.data(), molecules2_.size()))
            return cut();
        for (std::string& name : moleculeNames_)
            if (!c.ReadText(name, 8)) return cut();
        totalAtoms_ = molecules2_[0];
        if (!c.NextRecord() || !c.ReadCount(nmove_) || !c.Fits(Times(Count(nmove_), 4))) return cut();
        moving_.resize(Count(nmove_));
        if (!c.Read(moving_.data(), moving_.size())) return cut();
    }
    int t1 = 0, t2 = 0;
    if (!c.NextRecord() || !c.ReadCount(t1) || !c.ReadText(text1_, Count(t1))) return cut();
    if (!c.NextRecord() || !c.ReadCount(t2) || !c.ReadText(text2_, Count(t2))) return cut();
    headerEnd_ = static_cast<std::int64_t>(c.At());
    scaleVelocities_ = !titles_[0].empty() && titles_[0][0].starts_with(kScaledTitle);

    SizeRecords();
    if (frameSize_ <= 0) return Refuse(damaged + "its frames have no size.");
    if (fileSize_ - headerEnd_ - 4 < 0) return cut();
    offsets_.assign(1, headerEnd_ + kBetweenRecords);
    return CountFrames();
}

void xxLoadTRJ::SizeRecords() {
    const int v = version_;
    const bool periodic = periodicity_ != 0;
    const auto f = [&](int i) { return flags_[static_cast<std::size_t>(i)] != 0; };
    auto& r = record_;
    r = {};
    r[1] = v <= 2001 ? 272 : v < 3000 ? 492 : 500;
    r[2] = v >= 2000 ? 96 : v >= 155 ? 48 : 0;
    const std::int64_t wide = v >= 2010 ? 32 : v >= 300 ? 24 : 20;
    if (f(2) && f(5)) r[3] = wide;
    if (f(2) && !f(5)) r[4] = wide;
    const bool cellRead = periodic && v >= 220;
    if (v < 220) r[5] = f(3) ? 20 : 0;
    else if (periodic) r[5] = v >= 2010 ? 176 : v == 2000 || v == 2001 ? 128 : 56;
    if (periodic) r[6] = v >= 2000 ? 116 : v == 210 || (v >= 300 && v <= 1999) ? 60 : 52;
    if (periodic && f(6)) r[7] = v >= 2010 ? 24 : v >= 300 ? 20 : 0;
    if (f(7)) r[8] = v >= 2010 ? 8 : v >= 300 ? 4 : 0;
    if (f(4)) r[9] = 56;
    cellLeadIn_ = cellRead ? ((v >= 2000 && v <= 2001) || v >= 2010 ? 16 : 8) : 0;
    cellRest_ = cellRead ? r[5] - cellLeadIn_ - (v >= 2010 ? 96 : 24) : r[5];
    coordinateRecord_ = static_cast<std::int64_t>(nmove_) * (v >= 2001 ? 8 : 4) + 8;
    frameSize_ = 3 * coordinateRecord_;
    for (std::size_t i = 1; i <= 9; ++i)
        if (r[i] > 0) frameSize_ += r[i] + 8;
}

bool xxLoadTRJ::CountFrames() {
    const std::int64_t rest = fileSize_ - headerEnd_ - 4;
    const std::int64_t sizes[] = {frameSize_, frameSize_ + 3 * coordinateRecord_, frameSize_ + 6 * coordinateRecord_};
    int dividing = 0;
    std::int64_t count = 0;
    for (std::int64_t s : sizes)
        if (rest % s == 0 && dividing++ == 0) count = rest / s;
    if (dividing == 1) {
        frameCount_ = static_cast<int>(std::min<std::int64_t>(count, INT_MAX));
    } else {
        int n = 0;
        while (n < INT_MAX && ReadFrameAt(n, true) == 0) ++n;
        frameCount_ = n;
    }
    timeStep_ = 0;
    if (ReadFrameAt(0, true) == 0) {
        const double t0 = read_.time;
        if (ReadFrameAt(1, true) == 0) timeStep_ = read_.time - t0;
    }
    GetIstream64().clear();
    return true;
}

int xxLoadTRJ::SeekFrame(int frame) {
    OpenedFile file(*this);
    if (!file) return kCannotOpen;
    std::istream& in = GetIstream64();
    const auto known = static_cast<int>(std::min<std::size_t>(offsets_.size(), INT_MAX));
    if (frame < known) {
        const std::int64_t offset = offsets_[static_cast<std::size_t>(frame)];
        if (offset >= fileSize_) return kBeyondEnd;
        in.clear();
        in.seekg(offset);
        return in.fail() ? kStreamFailed : 0;
    }
    in.clear();
    in.seekg(offsets_.back());
    if (in.fail()) return kStreamFailed;
    for (int i = known - 1; i < frame; ++i) {
        std::int64_t next = 0;
        if (const int rc = ReadFrame(true, offsets_.back(), next); rc != 0) return rc;
        if (next >= fileSize_) return kBeyondEnd;
        offsets_.push_back(next);
        in.clear();
        in.seekg(next);
        if (in.fail()) return kStreamFailed;
    }
    return 0;
}

int xxLoadTRJ::ReadFrameAt(int frame, bool skip) {
    if (frame < 0 || offsets_.empty()) return kCannotReach;
    OpenedFile file(*this);
    if (!file) return kCannotOpen;
    if (frame == held_) return 0;
    held_ = -99;
    if (SeekFrame(frame) != 0) return kCannotReach;
    std::int64_t next = 0;
    if (ReadFrame(skip, offsets_[static_cast<std::size_t>(frame)], next) != 0) return kCannotRead;
    if (!skip) {
        frame_ = read_;
        held_ = frame;
    }
    if (static_cast<std::size_t>(frame) + 1 == offsets_.size()) offsets_.push_back(next);
    return 0;
}

int xxLoadTRJ::ReadFrame(bool skip, std::int64_t start, std::int64_t& next) {
    const int v = version_;
    std::string none;
    auto skipBytes = [&](std::int64_t n) { return Read(none, static_cast<std::size_t>(n), true); };
    auto skipRecord = [&](std::size_t i) { return record_[i] == 0 || skipBytes(record_[i] + kBetweenRecords); };
    FrameValues f;
    bool ok = true;
    // Energy record.
    if (v >= 2002) {
        if (!ReadTranslate(&f.time, 8, 1, false)) return kStreamFailed;
        ok = skipBytes(4) && ReadTranslate(&f.temperature, 8, 1, false) && skipBytes(8) &&
             ReadTranslate(&f.third, 8, 1, false) && skipBytes(16) && ReadTranslate(f.terms.data(), 8, 24, skip);
    } else {
        float time = 0, third = 0;
        if (!ReadTranslate(&time, 4, 1, false)) return kStreamFailed;
        ok = skipBytes(20) && ReadTranslate(&third, 4, 1, false);
        f.time = time;
        f.third = third;
    }
    ok = ok && skipBytes(192) && ReadTranslate(&f.total, 8, 1, skip) && ReadTranslate(&f.kinetic, 8, 1, skip) &&
         skipBytes(v >= 3000 ? 32 : 24) && ReadTranslate(&f.velocities, 4, 1, false);
    if (v >= 2002) ok = ok && ReadTranslate(&f.forces, 4, 1, false);
    ok = ok && skipBytes(8);

    f.hasCell = periodicity_ != 0 && v >= 220;
    if (!f.hasCell) {
        for (std::size_t i = 2; i <= 9 && ok; ++i) ok = skipRecord(i);
    } else {
        ok = ok && skipRecord(2) && skipRecord(3) && skipRecord(4) && skipBytes(cellLeadIn_ + kBetweenRecords);
        std::array<double, 6> c{}, w{};
        if (v >= 2010) {
            ok = ok && ReadTranslate(c.data(), 8, 6, skip) && ReadTranslate(w.data(), 8, 6, skip);
        } else {
            std::array<float, 6> narrow{};
            ok = ok && ReadTranslate(narrow.data(), 4, 6, skip);
            std::copy(narrow.begin(), narrow.end(), c.begin());
        }
        f.cell = {xxPoint3d{c[0], c[5], c[4]}, xxPoint3d{0, c[1], c[3]}, xxPoint3d{0, 0, c[2]}};
        f.cellVelocities = {xxPoint3d{w[0], w[5], w[4]}, xxPoint3d{0, w[1], w[3]}, xxPoint3d{0, 0, w[2]}};
        int unused = 0;
        ok = ok && skipBytes(cellRest_ + kBetweenRecords) && ReadTranslate(&unused, 4, 1, skip) &&
             ReadTranslate(f.stress.data(), 8, 6, skip) && skipBytes(record_[6] - 52) && skipRecord(7) &&
             skipRecord(8) && skipRecord(9);
    }
    const bool hasVelocities = f.velocities != 0, hasForces = v >= 2002 && f.forces != 0;
    f.velocities = hasVelocities ? 1 : 0;
    f.forces = hasForces ? 1 : 0;
    const int blocks = 1 + (hasVelocities ? 1 : 0) + (hasForces ? 1 : 0);
    next = start + frameSize_ + (blocks - 1) * 3 * coordinateRecord_;
    // The frame's last length word must lie in the file: a frame cut short fails here, and the
    // coordinates of a frame only passed over are sought past instead of read.
    if (!ok || next - 4 > fileSize_) return kStreamFailed;
    if (skip || modelAtoms_ < 1) {
        GetIstream64().seekg(blocks * 3 * coordinateRecord_, std::ios::cur);
    } else {
        ok = ok && ReadCoordinates(positions_, false);
        if (hasVelocities) ok = ok && ReadCoordinates(velocities_, scaleVelocities_);
        if (hasForces) ok = ok && ReadCoordinates(forces_, false);
    }
    if (!ok || GetIstream64().fail()) return kStreamFailed;
    skipBytes(kBetweenRecords);  // to the next frame; the last frame's file ends before that
    read_ = f;
    return !skip && modelAtoms_ < 0 ? kStreamFailed : 0;
}

bool xxLoadTRJ::ReadCoordinates(std::vector<double>& into, bool scale) {
    const std::size_t n = Count(nmove_);
    const std::size_t width = version_ >= 2001 ? 8 : 4;
    // The block must lie in the file before anything is sized by NMOVE.
    if (static_cast<std::uint64_t>(fileSize_) / width < n) return false;
    const std::size_t values = 3 * Count(modelAtoms_);
    if (into.size() != values) into.assign(values, 0.0);
    std::string none;
    std::vector<double>* raw[] = {&rawX_, &rawY_, &rawZ_};
    for (std::vector<double>* axis : raw) {
        axis->resize(n);
        if (!Read(none, 8, true)) return false;
        if (width == 8) {
            if (!ReadTranslate(axis->data(), 8, n, false)) return false;
        } else {
            rawFloat_.resize(n);
            if (!ReadTranslate(rawFloat_.data(), 4, n, false)) return false;
            std::copy(rawFloat_.begin(), rawFloat_.end(), axis->begin());
        }
        if (scale)
            for (double& value : *axis) value *= kVelocityScale;
    }
    const std::size_t atoms = Count(modelAtoms_);
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t p = allMove_ ? static_cast<std::int64_t>(k) : moving_[k];
        if (p < 0 || static_cast<std::size_t>(p) >= atoms) continue;
        double* to = into.data() + 3 * static_cast<std::size_t>(p);
        to[0] = rawX_[k];
        to[1] = rawY_[k];
        to[2] = rawZ_[k];
    }
    return true;
}

void xxLoadTRJ::BuildMap(xxIterator& objects) {
    fixed_.clear();
    movingBits_.clear();
    if (allMove_) {
        modelAtoms_ = nmove_;
        return;
    }
    std::unordered_map<int, std::size_t> index;
    index.reserve(moving_.size());
    for (std::size_t k = 0; k < moving_.size(); ++k) index.emplace(moving_[k], k);
    std::fill(moving_.begin(), moving_.end(), -1);

    xxTransformMatrix toCell;
    if (symmetrySystem_) {
        const xxSymmetryDefinition& d = symmetrySystem_->GetSymmetryDefinition();
        if (d.GetDimension() == 3) toCell = d.GetTransformationToOrientation(xxLatticeOrientation::kCAlongZ);
        else if (d.GetDimension() == 2) toCell = d.GetTransformationToOrientation(xxLatticeOrientation::kPlaneBAlongZ);
    }
    objects.Copy(snapshot_);
    int q = 0;
    for (xxObject* object : snapshot_.Objects()) {
        auto* matter = object->As<xxMatter>();
        if (!matter || matter->GetID() < 1) continue;
        const auto found = index.find(matter->GetID());
        // A model object whose ID an earlier one took stays where it is.
        if (found != index.end() && moving_[found->second] < 0) {
            moving_[found->second] = q;
            movingBits_.push_back(true);
        } else {
            fixed_.emplace_back(matter, toCell.Apply(matter->GetXYZ()));
            movingBits_.push_back(false);
        }
        if (q == INT_MAX) break;
        ++q;
    }
    modelAtoms_ = q;
}

void xxLoadTRJ::WriteResults(double* energy, double* time, double* third, double* timeStep) const {
    if (energy) *energy = frame_.total;
    if (time) *time = frame_.time;
    if (third) *third = frame_.third;
    if (timeStep) *timeStep = timeStep_;
}

void xxLoadTRJ::ApplyEnergies() const {
    if (!targetObject_ || !targetObject_->IsA(H::classType)) return;
    xxObject& root = *targetObject_;
    H::m_pptTotalEnergy.SetValue(root, frame_.total);
    H::m_pptKineticEnergy.SetValue(root, frame_.kinetic);
    // Files up to 2001 carry no energy terms and no temperature.
    const bool carried = version_ >= 2002;
    for (const Term& t : kTerms) {
        if (carried) t.energy->SetValue(root, frame_.terms[static_cast<std::size_t>(t.index)]);
        else t.energy->UnassignValue(root);
    }
    if (carried) H::m_pptTemperature.SetValue(root, frame_.temperature);
    else H::m_pptTemperature.UnassignValue(root);
}

bool xxLoadTRJ::PrepareCell(const xxTransformMatrix* transform, xxTransformMatrix& m, bool& apply) {
    m = xxTransformMatrix();
    apply = false;
    if (transform) {
        m = *transform;
        apply = !m.IsIdentity();
    }
    if (!symmetrySystem_ || periodicity_ == 0) return true;
    xxSymmetryDefinition& d = symmetrySystem_->GetSymmetryDefinition();
    if (d.GetDimension() != periodicity_) {
        SetErrorMessage("The TRJ file's run is " + std::to_string(periodicity_) +
                        "-dimensional and the model's cell is not.");
        return false;
    }
    const bool space = periodicity_ == 3;
    const int orientation = space ? xxLatticeOrientation::kCAlongZ : xxLatticeOrientation::kPlaneBAlongZ;
    const std::array<xxPoint3d, 3>& cell = frame_.cell;
    const std::array<xxPoint3d, 3>& w = frame_.cellVelocities;
    // The plane group takes the file's b and c.
    const xxPoint3d& first = space ? cell[0] : cell[1];
    const xxPoint3d& second = space ? cell[1] : cell[2];
    try {
        if (transform) {
            if (frame_.hasCell) {
                const xxPoint3d a = m.TransformCartesianVector(first), b = m.TransformCartesianVector(second);
                if (space) {
                    const xxPoint3d c = m.TransformCartesianVector(cell[2]);
                    // Checked before anything changes: the definition refuses what the cell does.
                    xxCell::FromVectors(xxSymmetryConvert::ToVector(a), xxSymmetryConvert::ToVector(b),
                                        xxSymmetryConvert::ToVector(c));
                    static_cast<xxSpaceGroup&>(d).SetCellVectors(a, b, c, true);
                } else {
                    const xxVector3 va = xxSymmetryConvert::ToVector(a), vb = xxSymmetryConvert::ToVector(b);
                    xxCell::FromVectors(va, vb, (1 / va.Cross(vb).Length()) * va.Cross(vb));
                    static_cast<xxPlaneGroup&>(d).SetCellVectors(a, b, true);
                }
            }
        } else if (frame_.hasCell) {
            if (space) {
                const auto p = xxSymmetryUtility::Get3DCellParametersFromVectors(first, second, cell[2]);
                xxCell::FromParameters(p.a, p.b, p.c, p.alpha, p.beta, p.gamma);
                static_cast<xxSpaceGroup&>(d).SetCellParameters(p.a, p.b, p.c, p.alpha, p.beta, p.gamma, true);
            } else {
                const auto p = xxSymmetryUtility::Get2DCellParametersFromVectors(first, second);
                xxCell::FromPlaneParameters(p.a, p.b, p.gamma);
                static_cast<xxPlaneGroup&>(d).SetCellParameters(p.a, p.b, p.gamma, true);
            }
            m = d.GetTransformationFromOrientation(orientation);
            apply = !m.IsTranslation(true);
        } else {
            // No cell in the frame: the model keeps its own, seen in the file's layout.
            m = d.GetTransformationFromOrientation(orientation);
            apply = !m.IsTranslation(true);
        }
    } catch (const Cfx::CfxResult& r) {
        SetErrorMessage("The TRJ frame's cell is refused: " + r.Description());
        return false;
    }
    if (frame_.hasCell) {
        // A plane run takes its cell from b and c but its velocities from the first two.
        d.SetVector1Velocity(m.TransformCartesianVector(w[0]));
        d.SetVector2Velocity(m.TransformCartesianVector(w[1]));
        if (space) d.SetVector3Velocity(m.TransformCartesianVector(w[2]));
        if (auto* system = symmetrySystem_->As<xxMatterSymmetrySystem>()) {
            const std::array<double, 6>& s = frame_.stress;
            const xxMatrix3x3 tensor(std::array<double, 9>{s[0], s[5], s[4], s[5], s[1], s[3], s[4], s[3], s[2]});
            xxMatterSymmetrySystem::m_ppt_TrajectoryStress.SetValue(*system,
                                                                     m.TransformCartesianTensor(tensor, xxPoint3d::zero));
        }
    }
    return true;
}

void xxLoadTRJ::MoveMatter(xxIterator& objects, const xxTransformMatrix& m, bool apply) {
    objects.Copy(snapshot_);
    const auto atoms = static_cast<std::size_t>(std::max(modelAtoms_, 0));
    const bool velocities = frame_.velocities != 0 && velocities_.size() == 3 * atoms;
    const bool forces = frame_.forces != 0 && forces_.size() == 3 * atoms;
    if (velocities) xxMatter::m_pptRelativeVelocity.Reserve(atoms);
    // The frame's value of moving position p, turned with the positions; unassigned without one.
    auto setVector = [&](const xxDetachedPropertyTemplate<xxPoint3d>& property, bool given,
                         const std::vector<double>& buffer, xxMatter& matter, std::size_t at) {
        if (!given) return property.UnassignValue(matter);
        const xxPoint3d v{buffer[3 * at], buffer[3 * at + 1], buffer[3 * at + 2]};
        property.SetValue(matter, apply ? m.TransformCartesianVector(v) : v);
    };
    std::size_t p = 0;
    for (xxObject* object : snapshot_.Objects()) {
        if (p >= atoms) break;
        auto* matter = object->As<xxMatter>();
        if (!matter || matter->GetID() < 1) continue;
        if (!allMove_ && !movingBits_[p]) {
            ++p;
            continue;
        }
        const double* at = positions_.data() + 3 * p;
        matter->SetXYZ(apply ? m.Apply({at[0], at[1], at[2]}) : xxPoint3d{at[0], at[1], at[2]});
        setVector(xxMatter::m_pptRelativeVelocity, velocities, velocities_, *matter, p);
        setVector(xxMatter::m_pptForce, forces, forces_, *matter, p);
        ++p;
    }
    for (const auto& [matter, point] : fixed_) matter->SetXYZ(apply ? m.Apply(point) : point);
}

xxBool xxLoadTRJ::LoadFrame(int frame, xxIterator& objects, double* energy, double* time, double* third,
                            double* timeStep, const xxTransformMatrix* transform) {
    if (frame < 0 || frame >= frameCount_) return false;
    if (frame == held_ && !transform) {
        WriteResults(energy, time, third, timeStep);
        return true;
    }
    if (xxFrameProvider* companion = companion_.get()) {
        companion->LoadFrame(frame, objects, energy, time, third, timeStep, transform);
        objects.Reset();
    }
    if (modelAtoms_ < 0) BuildMap(objects);
    if (const int rc = ReadFrameAt(frame, false); rc != 0) {
        SetErrorMessage(Cfx::CfxFormat("Frame %1 of the TRJ file %2 cannot be read (%3).",
                                       {std::to_string(frame), fileName_, std::to_string(rc)}));
        return false;
    }
    xxTransformMatrix m;
    bool apply = false;
    if (!PrepareCell(transform, m, apply)) return false;
    ApplyEnergies();
    MoveMatter(objects, m, apply);
    WriteResults(energy, time, third, timeStep);
    return true;
}

xxBool xxLoadTRJ::IsCompatibleWith(xxIterator* objects) {
    if (!objects || frameCount_ < 0) return false;
    const bool periodic = periodicity_ != 0;
    if (periodic != (symmetrySystem_ != nullptr)) {
        SetErrorMessage(periodic ? "The TRJ file has a cell and the model has none."
                                 : "The TRJ file has no cell and the model has one.");
        return false;
    }
    std::size_t count = 0;
    if (symmetrySystem_) {
        if (symmetrySystem_->GetSymmetryDefinition().GetDimension() != periodicity_) {
            SetErrorMessage("The TRJ file's run is " + std::to_string(periodicity_) +
                            "-dimensional and the model's cell is not.");
            return false;
        }
        count = symmetrySystem_->Iterator(xxMatter::classType, xxSymmetrySystem::kParentsAndSymmetryImages, false).size();
    } else {
        objects->Reset();
        while (xxObject* object = objects->GetNext())
            if (object->IsA(xxMatter::classType)) ++count;
        objects->Reset();
    }
    if (totalAtoms_ >= 0 && count == static_cast<std::size_t>(totalAtoms_)) return true;
    SetErrorMessage(Cfx::CfxFormat("The TRJ file has %1 atoms and the model %2.",
                                   {std::to_string(totalAtoms_), std::to_string(count)}));
    return false;
}
