#include "formats/carmdf/arc_loader.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <istream>
#include <limits>
#include <numbers>
#include <optional>
#include <string_view>

#include "cfx/cfx.h"
#include "datamodel/symmetry/cell.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "datamodel_extras/carmdf_atom_order.h"
#include "formats/carmdf/car_scan.h"
#include "sdk/text_parser.h"

namespace cs = cartovane::carscan;

const cartovane::LoaderRegistration<xxLoadArc> xxLoadArc::registration{"ARCLoader"};

namespace {

// Columns "%lf" reads from: x, y and z of an atom line (archive 3 puts its numbers one column
// further right; the scan skips the blank before them), and the title's value.
constexpr std::size_t kXColumn = 5, kYColumn = 20, kZColumn = 35, kValueColumn = 61;
constexpr double kRadiansPerDegree = std::numbers::pi / 180;

// A number read from a fixed column; a line that ends before the column, or no finite number
// there, leaves value as it was.
void ReadColumn(std::string_view line, std::size_t column, double& value) noexcept {
    if (column >= line.size()) return;
    std::size_t pos = column;
    cartovane::text::ScanDouble(line, pos, value);
}

// The file from its start: the stream may stand anywhere, or at its end, after a read before.
std::istream& FromStart(std::istream& in) {
    in.clear();
    in.seekg(0);
    return in;
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace

struct xxLoadArc::FrameRead {
    std::size_t maxAtoms = std::numeric_limits<std::size_t>::max();  // more atom lines damage the frame
    double* xyz = nullptr;   // the atom lines' coordinates go here; null to skim
    double* cell = nullptr;  // the cell line's numbers, zero where absent; null to skim
    double value = 0;        // the title's value; stays when the frame has none
    std::size_t atoms = 0;   // atom lines read
};

xxLoadArc::xxLoadArc() : RegisteredLoader(kTextFile) {}
xxLoadArc::~xxLoadArc() = default;

xxLoadArc::xxLoadArc(const xxLoadArc& other)
    : RegisteredLoader(other),
      frameCount_(other.frameCount_),
      atomCount_(other.atomCount_),
      periodic_(other.periodic_),
      threeD_(other.threeD_),
      twoD_(other.twoD_),
      frameValue_(other.frameValue_),
      secondValue_(other.secondValue_),
      currentFrame_(other.currentFrame_),
      start0_(other.start0_),
      frameLength_(other.frameLength_),
      offsets_(other.offsets_),
      xyz_(other.xyz_) {
    std::copy(std::begin(other.cell_), std::end(other.cell_), cell_);
}

std::unique_ptr<xxFrameProvider> xxLoadArc::Clone() { return std::unique_ptr<xxFrameProvider>(new xxLoadArc(*this)); }

bool xxLoadArc::Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) {
    if (!xxFrameLoader::Init(trajectory, classTypes)) return false;
    fileName_ += GetTrajectoryType();
    SetTrajectoryType(GetTrajectoryType());
    frameCount_ = atomCount_ = -1;
    currentFrame_ = -99;
    atomMap_.clear();
    mapBuilt_ = false;

    OpenedFile file(*this);
    if (!file) {
        SetErrorMessage("The trajectory file " + fileName_ + " cannot be opened.");
        return false;
    }
    try {
        CTextIOStreamParser parser(FromStart(GetIstream()));
        std::optional<std::string_view> line = parser.ReadLine(cs::kLineLimit);
        if (!line || cs::ArchiveOf(*line) == cs::CarArchive::None) {
            SetErrorMessage("Arc file is not in Archive format 2 or 3.");
            return false;
        }
        // The line end the file uses (1 or 2 bytes), for a last line that lacks it: the header's.
        const std::uint64_t header = parser.GetLineLength();
        const std::uint64_t lineEnd =
            parser.WasLineTruncated() ? 1 : std::clamp<std::uint64_t>(parser.GetLinePosition() - header, 1, 2);
        line = parser.ReadLine(cs::kLineLimit);
        if (!line || !cs::IsKnownPeriodicity(*line)) {
            SetErrorMessage("Arc file has unrecognized PBC info");
            return false;
        }
        const cs::CarPeriodicity periodicity = cs::PeriodicityOf(*line);
        threeD_ = periodicity == cs::CarPeriodicity::ThreeD;
        twoD_ = periodicity == cs::CarPeriodicity::TwoD;
        periodic_ = threeD_ || twoD_;
        start0_ = parser.GetLinePosition();
        CountFrames(parser, lineEnd);
    } catch (const Cfx::CfxResult& r) {
        SetErrorMessage(r.Description());
        return false;
    } catch (const std::exception& e) {
        SetErrorMessage(Cfx::ExceptionText(e));
        return false;
    }
    if (frameCount_ <= 0) {
        SetErrorMessage("The trajectory file " + fileName_ + " holds no complete frame.");
        return false;
    }
    if (atomCount_ <= 0) {
        SetErrorMessage("The first frame of the trajectory file " + fileName_ + " has no atoms.");
        return false;
    }
    xyz_.assign(3 * static_cast<std::size_t>(atomCount_), 0.0);
    SetupAnimateTrigger();
    return true;
}

bool xxLoadArc::ReadFrameLines(CTextParser& parser, FrameRead& read) const {
    auto next = [&] { return parser.ReadLine(cs::kLineLimit); };
    std::optional<std::string_view> line = next();
    if (!line) return false;
    if (!line->starts_with("!DATE")) {  // a title
        ReadColumn(*line, kValueColumn, read.value);
        line = next();
        if (!line || !line->starts_with("!DATE")) return false;
    }
    if (periodic_) {
        line = next();
        if (!line) return false;
        if (read.cell) {
            std::fill(read.cell, read.cell + 6, 0.0);
            cs::ScanCellNumbers(*line, read.cell, threeD_ ? 6 : 3);
        }
    }
    read.atoms = 0;
    while (true) {
        line = next();
        if (!line) return false;
        if (cs::IsBlankOrComment(*line)) continue;
        if (line->starts_with("end")) {
            // The line after a single "end" is an atom line, whatever it holds.
            line = next();
            if (!line) return false;
            if (line->starts_with("end")) return true;
        }
        if (read.atoms >= read.maxAtoms) return false;  // before anything is stored
        if (read.xyz) {
            double* p = read.xyz + 3 * read.atoms;
            ReadColumn(*line, kXColumn, p[0]);
            ReadColumn(*line, kYColumn, p[1]);
            ReadColumn(*line, kZColumn, p[2]);
        }
        ++read.atoms;
    }
}

void xxLoadArc::CountFrames(CTextParser& parser, std::uint64_t lineEnd) {
    frameCount_ = 0;
    frameLength_ = 0;
    offsets_.clear();
    FrameRead frame0;
    if (!ReadFrameLines(parser, frame0)) return;
    atomCount_ = static_cast<int>(std::min<std::size_t>(frame0.atoms, INT_MAX));
    const std::uint64_t start1 = parser.GetLinePosition();
    const std::uint64_t length = start1 - start0_;
    const std::optional<std::uint64_t> size = FileSize(fileName_);
    if (!size) return;
    frameLength_ = length;
    frameCount_ = 1;
    if (*size <= start1) return;

    // Frames of frame 0's length fill the rest exactly, perhaps but for the last line end.
    const std::uint64_t rest = *size - start0_;
    for (std::uint64_t whole : {rest, rest + lineEnd})
        if (whole % length == 0) {
            frameCount_ = static_cast<int>(std::min<std::uint64_t>(whole / length, INT_MAX));
            return;
        }
    // Frames of other lengths: find every start once, reading only the lines' structure.
    frameLength_ = 0;
    offsets_ = {start0_, start1};
    FrameRead skim;
    skim.maxAtoms = frame0.atoms;
    while (offsets_.size() <= static_cast<std::size_t>(INT_MAX) && ReadFrameLines(parser, skim))
        offsets_.push_back(parser.GetLinePosition());
    offsets_.pop_back();  // the end of the last whole frame starts none
    offsets_.shrink_to_fit();
    frameCount_ = static_cast<int>(offsets_.size());
}

std::uint64_t xxLoadArc::FrameStart(int frame) const {
    const auto i = static_cast<std::uint64_t>(frame);
    return frameLength_ != 0 ? start0_ + i * frameLength_ : offsets_[static_cast<std::size_t>(i)];
}

long xxLoadArc::ReadFrame(int frame, double& value) {
    OpenedFile file(*this);
    if (!file) return kCannotOpen;
    // Whatever goes wrong inside is recorded as the last error and ends as its HRESULT.
    bool reached = true;
    const HRESULT hr = Cfx::Guarded(GUID_NULL, GUID_NULL, [&]() -> HRESULT {
        CTextIOStreamParser parser(FromStart(GetIstream()));
        if (!parser.SetLinePosition(FrameStart(frame))) {
            reached = false;
            return S_OK;
        }
        next_ = xyz_;  // a field a line lacks keeps the frame before's value
        FrameRead read;
        read.maxAtoms = static_cast<std::size_t>(atomCount_);
        read.xyz = next_.data();
        read.cell = frameCell_;
        read.value = value;
        if (!ReadFrameLines(parser, read)) {
            frameCount_ = std::min(frameCount_, frame);
            throw Cfx::CfxResult(E_UNEXPECTED, "Unexpected error reading frame " + std::to_string(frame) +
                                                   ".\nWill attempt to display frames read in so far.");
        }
        value = read.value;
        return S_OK;
    });
    if (FAILED(hr)) {
        SetErrorMessage(Cfx::GetLastError().description);
        return hr;
    }
    return reached ? 0 : kCannotReach;
}

bool xxLoadArc::ApplyCell(xxTransformMatrix& orientation) {
    xxSymmetryDefinition& definition = symmetrySystem_->GetSymmetryDefinition();
    double a = frameCell_[0], b = frameCell_[1], c = frameCell_[2];
    double alpha = frameCell_[3] * kRadiansPerDegree, beta = frameCell_[4] * kRadiansPerDegree,
           gamma = frameCell_[5] * kRadiansPerDegree;
    try {
        if (threeD_) {
            auto* group = dynamic_cast<xxSpaceGroup*>(&definition);
            if (!group) return false;
            (void)xxCell::FromParameters(a, b, c, alpha, beta, gamma);  // refused before anything changes
            group->SetCellParameters(a, b, c, alpha, beta, gamma, true);
            orientation = definition.GetTransformationFromOrientation(3);
        } else {
            auto* group = dynamic_cast<xxPlaneGroup*>(&definition);
            if (!group) return false;
            gamma = frameCell_[2] * kRadiansPerDegree;  // a b gamma
            alpha = beta = std::numbers::pi / 2;
            c = 0;
            (void)xxCell::FromPlaneParameters(a, b, gamma);
            group->SetCellParameters(a, b, gamma, true);
            orientation = definition.GetTransformationFromOrientation(19);
        }
    } catch (const Cfx::CfxResult& r) {
        SetErrorMessage(r.Description());
        return false;
    }
    const double cell[6] = {a, b, c, alpha, beta, gamma};
    std::copy(std::begin(cell), std::end(cell), cell_);
    return true;
}

void xxLoadArc::BuildAtomMap(xxIterator& objects) {
    atomMap_.clear();
    mappedCount_ = 0;
    xxCarMdfAtomOrder order;
    const bool ordered = modelObject_ && order.DefineAtomOrder(*modelObject_, classTypes_);
    objects.Reset();
    while (xxObject* object = objects.GetNext()) {
        const std::size_t position =
            ordered ? order.FindPositionNear(*object, atomMap_.size()) : xxCarMdfAtomOrder::npos;
        const int line = position == xxCarMdfAtomOrder::npos || position > INT_MAX ? -1 : static_cast<int>(position);
        atomMap_.push_back(line);
        if (line >= 0) ++mappedCount_;
    }
    objects.Reset();
    mapBuilt_ = true;
}

xxBool xxLoadArc::LoadFrame(int frame, xxIterator& objects, double* energy, double*, double* third, double* timeStep,
                            const xxTransformMatrix* transform) {
    if (frame < 0 || frame >= GetNumFrames() || atomCount_ <= 0) return false;
    auto results = [&] {
        if (energy) *energy = frameValue_;
        if (third) *third = secondValue_;
        if (timeStep) *timeStep = 0;
    };
    if (frame == currentFrame_ && !transform) {
        results();
        return true;
    }
    if (!mapBuilt_) BuildAtomMap(objects);

    double value = frameValue_;
    if (ReadFrame(frame, value) != 0) return false;
    // The whole frame is read: check what can be refused, then move.
    xxTransformMatrix orientation;
    bool transformed = false;
    if (symmetrySystem_ && periodic_) {
        if (!ApplyCell(orientation)) return false;
        transformed = !orientation.IsTranslation(true);
    }
    if (transform) {
        orientation = *transform;
        transformed = true;
    }
    objects.Copy(snapshot_);
    const std::size_t count = std::min(snapshot_.GetSize(), atomMap_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const int line = atomMap_[i];
        if (line < 0 || line >= atomCount_) continue;
        const double* p = next_.data() + 3 * static_cast<std::size_t>(line);
        const xxPoint3d position{p[0], p[1], p[2]};
        snapshot_.GetAt(i).SetXYZ(transformed ? orientation.Apply(position) : position);
    }
    xyz_.swap(next_);
    frameValue_ = value;
    currentFrame_ = frame;
    results();
    return true;
}

xxBool xxLoadArc::IsCompatibleWith(xxIterator* objects) {
    if (!objects || atomCount_ <= 0) return false;
    if ((symmetrySystem_ != nullptr) != periodic_) return false;
    if (symmetrySystem_) {
        const int dimension = symmetrySystem_->GetSymmetryDefinition().GetDimension();
        if (dimension != (threeD_ ? 3 : 2)) return false;
    }
    if (!mapBuilt_) BuildAtomMap(*objects);
    return mappedCount_ == static_cast<std::size_t>(atomCount_);
}
