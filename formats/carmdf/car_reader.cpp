#include "formats/carmdf/car_reader.h"

#include <cmath>
#include <fstream>
#include <istream>
#include <utility>

#include "base/file_names.h"
#include "datamodel/atomistic.h"
#include "datamodel/elements.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/builder.h"
#include "datamodel/symmetry/system.h"
#include "formats/carmdf/car_scan.h"
#include "frame/clsids.h"
#include "frame/messages.h"
#include "sdk/text_parser.h"

namespace cs = cartovane::carscan;
namespace tx = cartovane::text;
namespace msg = cartovane::msg;

namespace {

const double kRadiansPerDegree = std::atan(1.0) / 45.0;

// Element numbers by symbol text, every letter case, built once: the lookup runs for every atom.
class ElementCodes {
public:
    ElementCodes() {
        table_.fill(-1);
        for (const xxElement& e : xxElementFactory::Table()) {
            const std::string_view s = e.symbol;
            if (e.number == 0 || s.empty() || s.size() > 2) continue;
            auto variants = [](char c) { return std::array<char, 2>{tx::ToUpper(c), tx::ToLower(c)}; };
            for (char c0 : variants(s[0])) {
                if (s.size() == 1) {
                    table_[Code(c0, 0)] = static_cast<std::int16_t>(e.number);
                    continue;
                }
                for (char c1 : variants(s[1])) table_[Code(c0, c1)] = static_cast<std::int16_t>(e.number);
            }
        }
    }
    // The element number, or -1 for text that is no symbol.
    int Find(std::string_view text) const {
        if (text.empty() || text.size() > 2) return -1;
        return table_[Code(text[0], text.size() == 2 ? text[1] : '\0')];
    }

private:
    static std::size_t Code(char c0, char c1) {
        return static_cast<std::size_t>(static_cast<unsigned char>(c0)) << 8 | static_cast<unsigned char>(c1);
    }
    std::array<std::int16_t, 65536> table_{};
};

const ElementCodes& Elements() {
    static const ElementCodes codes;
    return codes;
}

std::string LineProblem(std::size_t lineNumber, std::string_view problem) {
    return "Line " + std::to_string(lineNumber) + ": " + std::string(problem) + ".";
}

void Post(ISBDiagnosticsConnection* diagnostics, const std::string& text) {
    if (!diagnostics) return;
    CfxBSTR message(text);
    diagnostics->PostMessage(SB_DIAG_WARNING, message.Get());
}

}  // namespace

// ---- table keys ---------------------------------------------------------------------------

namespace cartovane::carscan {

bool NamedObjectMatch::operator()(const xxObject* object, std::string_view name) const {
    return object->GetName() == name;
}

std::size_t ChildKeyHash::operator()(const ChildKey& key) const noexcept {
    const std::size_t h = std::hash<std::string_view>{}(key.name);
    return h ^ (reinterpret_cast<std::uintptr_t>(key.parent) * 0x9E3779B97F4A7C15ull);
}

bool ChildKeyMatch::operator()(const xxBondable* object, const ChildKey& key) const {
    return object->GetParent() == key.parent && object->GetName() == key.name;
}

bool QualifiedNameMatch::operator()(const xxBondable* object, std::string_view key) const {
    const std::string& atom = object->GetName();
    const xxObject* subUnit = object->GetParent();
    const xxObject* molecule = subUnit ? subUnit->GetParent() : nullptr;
    if (!molecule) return false;
    const std::string& sub = subUnit->GetName();
    const std::string& mol = molecule->GetName();
    if (key.size() != mol.size() + sub.size() + atom.size() + 2) return false;
    return key.substr(0, mol.size()) == mol && key[mol.size()] == ':' && key.substr(mol.size() + 1, sub.size()) == sub &&
           key[mol.size() + 1 + sub.size()] == ':' && key.substr(mol.size() + sub.size() + 2) == atom;
}

}  // namespace cartovane::carscan

// ---- line reader --------------------------------------------------------------------------

bool MdfLines::Next() {
    const std::optional<std::string_view> line = atEnd_ ? std::nullopt : parser_.ReadLine(cs::kLineLimit);
    atEnd_ = !line;
    line_ = line.value_or(std::string_view{});
    return !atEnd_;
}

bool MdfLines::NextStatement() {
    while (Next())
        if (!cs::IsBlankOrComment(line_)) return true;
    return false;
}

// ---- xxLoadCAR ----------------------------------------------------------------------------

xxLoadCAR::xxLoadCAR() = default;
xxLoadCAR::~xxLoadCAR() = default;

xxBool xxLoadCAR::IsFileExtension(std::string extension) const { return extension == "car"; }
std::string xxLoadCAR::GetFileExtension() const { return "car"; }
std::string xxLoadCAR::GetFileFilter() const { return "Quenzoria CAR Files (*.car) |*.car|"; }

xxBool xxLoadCAR::IsLoadable(std::istream& in) const {
    CTextIOStreamParser parser(in);
    const std::optional<std::string_view> line = parser.ReadLine(255);
    const bool loadable = line && cs::ArchiveOf(*line) != cs::CarArchive::None;
    if (!parser.Rewind()) in.clear();
    return loadable;
}

void xxLoadCAR::ReportError(std::int32_t messageId) {
    CfxReportError(E_UNEXPECTED, cartovane::CLSID_CARImportExport, messageId);
}

HRESULT xxLoadCAR::LoadCarMdfFile(std::istream& car, xxTreeRoot& root, const std::string& path,
                                  ISBDiagnosticsConnection* diagnostics, xxBool calculateBonds) {
    static_cast<cs::LoadState&>(*this) = cs::LoadState();
    root_ = &root;
    baseName_ = cs::BaseName(path);
    root.SetName(baseName_);

    CTextIOStreamParser parser(car);
    std::optional<std::string_view> line = parser.ReadLine(cs::kLineLimit);
    const cs::CarArchive archive = line ? cs::ArchiveOf(*line) : cs::CarArchive::None;
    if (archive == cs::CarArchive::None)
        return CfxReportError(E_UNEXPECTED, cartovane::CLSID_CARImportExport, msg::CARLOAD_CAR_FORMAT);

    line = parser.ReadLine(cs::kLineLimit);
    const cs::CarPeriodicity periodicity = line ? cs::PeriodicityOf(*line) : cs::CarPeriodicity::None;
    threeD_ = periodicity == cs::CarPeriodicity::ThreeD;
    twoD_ = periodicity == cs::CarPeriodicity::TwoD;
    const bool unknownPeriodicity = line && !cs::IsKnownPeriodicity(*line);
    if (unknownPeriodicity)
        AddCarProblem(2, "\"" + std::string(*line) + "\" is not a periodicity line (PBC=ON, PBC=2D or PBC=OFF); "
                         "the model is read without a cell");
    if (line) line = parser.ReadLine(cs::kLineLimit);  // the title

    // The atoms start on the line after the cell line, or where it would stand in a file
    // without one.
    std::optional<std::string_view> first;
    if (line && (threeD_ || twoD_)) {
        orientation_ = threeD_ ? 3 : 19;
        first = FindCellLine(parser, root);
    } else if (line) {
        while ((line = parser.ReadLine(cs::kLineLimit)) && cs::IsBlankOrComment(*line)) {
        }
        // A cell line in a file that declares no cell is no atom line.
        if (line && cs::IsCellLine(*line)) {
            if (unknownPeriodicity) AddCarProblem(parser.GetLineNumber(), "the cell line is ignored");
            line = parser.ReadLine(cs::kLineLimit);
        }
        first = line;
    }
    moleculeParent_ = system_ ? static_cast<xxTreeNode*>(system_) : static_cast<xxTreeNode*>(&root);
    if (std::string failure = ReadAtoms(parser, first, cs::ColumnsOf(archive)); !failure.empty()) {
        // Nothing of a text that is no model is kept: the root is left as for a text of another
        // format, and the failure names the line.
        if (system_) {
            system_->Delete();
        } else {
            // The last made first: each is then the root's last child, found and erased at once.
            for (auto it = molecules_.rbegin(); it != molecules_.rend(); ++it) (*it)->Delete();
        }
        system_ = nullptr;
        molecules_.clear();
        CfxReportError(E_UNEXPECTED, cartovane::CLSID_CARImportExport, msg::CARLOAD);
        // The report's text, with its identifier.
        Cfx::SetLastError(Cfx::CfxResult(E_UNEXPECTED, std::move(failure), msg::CARLOAD));
        return E_UNEXPECTED;
    }

    ReadMdf(path, diagnostics, calculateBonds);
    if (threeD_ || twoD_) BuildSymmetry(diagnostics);
    return S_OK;
}

void xxLoadCAR::AddCarProblem(std::size_t lineNumber, std::string_view problem) {
    carProblems_ += "  " + LineProblem(lineNumber, problem);
}

std::optional<std::string_view> xxLoadCAR::FindCellLine(CTextParser& parser, xxTreeRoot& root) {
    std::size_t firstOther = 0;  // the first line that is neither blank nor a comment
    while (const std::optional<std::string_view> line = parser.ReadLine(cs::kLineLimit)) {
        if (cs::IsCellLine(*line)) {
            ReadCellLine(*line, root);
            return parser.ReadLine(cs::kLineLimit);
        }
        if (firstOther == 0 && !cs::IsBlankOrComment(*line)) firstOther = parser.GetLineNumber();
    }
    // No cell line at all: the atoms start at that first line, as in a file without a cell.
    if (firstOther == 0) return std::nullopt;
    if (!parser.Rewind()) {
        AddCarProblem(firstOther, "the text has no cell line and cannot be read again for its atoms");
        return std::nullopt;
    }
    std::optional<std::string_view> line;
    while ((line = parser.ReadLine(cs::kLineLimit)) && parser.GetLineNumber() < firstOther) {
    }
    return line;
}

void xxLoadCAR::ReadCellLine(std::string_view line, xxTreeRoot& root) {
    double values[6] = {};
    const std::size_t wanted = threeD_ ? 6 : 3;
    if (cs::ScanCellNumbers(line, values, wanted) < wanted) return;
    if (threeD_) {
        a_ = values[0];
        b_ = values[1];
        c_ = values[2];
        alpha_ = values[3] * kRadiansPerDegree;
        beta_ = values[4] * kRadiansPerDegree;
        gamma_ = values[5] * kRadiansPerDegree;
    } else {
        a_ = values[0];
        b_ = values[1];
        gamma_ = values[2] * kRadiansPerDegree;
    }
    // The point group holds the place of the periodic group until the symmetry is built.
    system_ = &root.CreateChild<xxMultiScaleSymmetrySystem>(std::make_unique<xxPointGroup>());
    system_->SetID(root.GetID());
    system_->SetName(root.GetName());

    const std::optional<std::string_view> name = cs::ParenthesisedName(line);
    groupName_ = name ? std::string(*name) : std::string(threeD_ ? "P1" : "p1");
    if (threeD_ && (groupName_.empty() || tx::EqualsNoCase(groupName_, "unknown")))
        groupSource_ = GroupSource::Operators;
    else
        groupSource_ = GroupSource::Named;
}

xxMultiScaleMolecule& xxLoadCAR::NewMolecule() {
    xxMultiScaleMolecule& molecule = moleculeParent_->CreateChild<xxMultiScaleMolecule>();
    const std::size_t n = molecules_.size() + 1;
    molecule.SetName(baseName_ + "_" + std::to_string(n));
    molecule.SetID(static_cast<int>(n));
    molecules_.push_back(&molecule);
    molecule_ = &molecule;
    subUnit_ = nullptr;  // the molecule's first atom starts a sub-unit
    return molecule;
}

std::string xxLoadCAR::ReadAtoms(CTextParser& parser, std::optional<std::string_view> line,
                                 const cs::CarColumns& columns) {
    NewMolecule();
    cs::CarAtomFields fields;
    static constexpr const char* kAxes[] = {"x", "y", "z"};
    for (;; line = parser.ReadLine(cs::kLineLimit)) {
        if (!line) {
            AddCarProblem(parser.GetLineNumber(), "the text ends inside molecule " + std::to_string(molecules_.size()) +
                                                      ", which has no closing \"end\" line");
            return {};
        }
        if (cs::IsBlankOrComment(*line)) continue;
        if (line->starts_with("end")) {
            // The line after "end" opens the next molecule, whatever it holds, unless it is a
            // second "end".
            line = parser.ReadLine(cs::kLineLimit);
            if (!line || line->starts_with("end")) return {};
            NewMolecule();
        }
        cs::ParseAtomLine(*line, columns, fields);
        // A blank or comment line here is an atom line only because it follows "end"; its fields
        // are whatever they read.
        if (fields.badAxis >= 0 && !cs::IsBlankOrComment(*line)) {
            return LineProblem(parser.GetLineNumber(), std::string("the ") + kAxes[fields.badAxis] + " coordinate \"" +
                                                           std::string(fields.badText) + "\" is not a finite number");
        }
        AddAtom(fields);
    }
}

void xxLoadCAR::AddAtom(const cs::CarAtomFields& f) {
    if (!subUnit_ || f.residueNumber != residueNumber_) {
        subUnit_ = &molecule_->CreateChild<xxMultiScaleSubUnit>();
        scratch_.assign(f.residueName);
        scratch_ += '_';
        scratch_ += f.residueNumber;
        subUnit_->SetName(scratch_);
        residueNumber_.assign(f.residueNumber);
    }
    const std::string_view element = f.Element();
    xxBondable* atom = nullptr;
    xxAtom3d* atom3d = nullptr;
    switch (cs::AtomKindOf(element)) {
        case cs::CarAtomKind::Dummy: {
            xxDummy& dummy = subUnit_->CreateChild<xxDummy>();
            dummy.SetDummySymbol(std::string(element));
            atom = &dummy;
            break;
        }
        case cs::CarAtomKind::Deuterium:
            atom3d = &subUnit_->CreateChild<xxAtom3d>();
            atom3d->SetElementNumber(1);
            atom3d->SetIsotope(2);
            atom = atom3d;
            break;
        case cs::CarAtomKind::Element: {
            atom3d = &subUnit_->CreateChild<xxAtom3d>();
            // Text that names no element ("unknown" included) makes an atom of the unknown element.
            const int number = Elements().Find(element);
            atom3d->SetElementNumber(number < 0 ? 0 : number);
            atom = atom3d;
            break;
        }
    }
    ++atomCount_;
    atom->SetName(std::string(f.name));
    atom->SetID(static_cast<int>(atomCount_));
    atom->SetImportOrder(static_cast<int>(atomCount_ + 1));
    atom->SetCharge(static_cast<double>(f.charge));
    atom->SetXYZ({f.x, f.y, f.z});
    atom->SetForcefieldType(std::string(f.type));
}

// ---- MDF ----------------------------------------------------------------------------------

void xxLoadCAR::ReadMdf(const std::string& path, ISBDiagnosticsConnection* diagnostics, bool calculateBonds) {
    const std::string mdfPath = cs::CompanionMdfPath(path);
    const std::optional<std::string> file = cartovane::FindFileIgnoringCase(mdfPath);
    std::string problems = "Problems were encountered reading the Mdf file " + (file ? *file : mdfPath) + ".";
    bool failed = false;

    std::ifstream mdf;
    if (file) mdf.open(*file, std::ios::in | std::ios::binary);
    if (!mdf.is_open()) {
        ReportError(msg::CARLOAD_MDF_FILEOPEN);
        problems += "  Unable to open the Mdf file.";
        failed = true;
    } else {
        CTextIOStreamParser parser(mdf);
        MdfLines lines(parser);
        if (!lines.Next() || cs::MdfFormatOf(lines.Line()) == 0) {
            ReportError(msg::CARLOAD_MDF_FORMAT);
            problems += "  File does not have format type 3 or 4.";
            failed = true;
        } else {
            RunSections(lines, cs::ConnectionColumnOf(lines.Line()), problems, failed);
        }
    }
    subUnits_.Clear();
    children_.Clear();
    // The CAR text's problems and the MDF's go out as one text.
    std::string posted;
    if (!carProblems_.empty()) posted = "Problems were encountered reading the Car file " + path + "." + carProblems_;
    if (failed) {
        problems += "  Loading has proceeded omitting the relevant Mdf file information.";
        if (calculateBonds && !topologyRead_) {
            for (const auto& child : moleculeParent_->Children())
                if (xxMolecule* molecule = child->As<xxMolecule>()) xxAtom::ConstructBonds(*molecule);
            problems += "  Bonds have been automatically calculated for the structure.";
        }
        posted += posted.empty() ? problems : "  " + problems;
    }
    if (!posted.empty()) Post(diagnostics, posted);
}

void xxLoadCAR::RunSections(MdfLines& lines, std::size_t connectionColumn, std::string& problems, bool& failed) {
    // A reader that throws (a data-model call refusing what a hostile file asks) fails its section.
    auto run = [](auto&& reader) {
        try {
            return reader();
        } catch (const Cfx::CfxResult&) {
            return false;
        }
    };
    // Each section reader leaves the line that ended it; that line is examined next, so sections
    // in any order are read.
    bool held = false;
    while (!failed) {
        if (!held && !lines.Next()) return;
        held = false;
        if (lines.AtEnd()) return;
        if (cs::IsBlankOrComment(lines.Line())) {
            if (lines.Line().find("Dravik4") != std::string_view::npos) dravik4_ = true;
            continue;
        }
        if (lines.Line().starts_with("#topology")) {
            held = true;
            if (run([&] { return ReadMdfTopology(lines, connectionColumn); })) {
                topologyRead_ = true;
            } else {
                ReportError(msg::CARLOAD_MDF_TOPLG);
                problems += "  An error was encountered while reading the #topology section of the file.";
                failed = true;
            }
        }
        if (lines.Line().starts_with("#symmetry")) {
            held = true;
            // A section that fails takes no effect: the group stays the one known before it.
            const GroupSource source = groupSource_;
            std::string name = groupName_, qualifier = qualifier_;
            std::vector<xxTransformMatrix> operators = operators_;
            const int orientation = orientation_;
            if (!run([&] { return ReadMdfSymmetry(lines); })) {
                groupSource_ = source;
                groupName_ = std::move(name);
                qualifier_ = std::move(qualifier);
                operators_ = std::move(operators);
                orientation_ = orientation;
                ReportError(msg::CARLOAD_MDF_SYM);
                problems += "  An error was encountered while reading the #symmetry section of the file.";
                failed = true;
            }
        }
        if (lines.Line().starts_with("#atomset")) {
            held = true;
            if (!run([&] { return ReadMdfAtomSets(*moleculeParent_, lines); })) {
                ReportError(msg::CARLOAD_MDF_ATOMSET);
                problems += "  An error was encountered while reading the #atomset section of the file.";
                failed = true;
            }
        }
    }
}

// ---- symmetry -----------------------------------------------------------------------------

void xxLoadCAR::BuildSymmetry(ISBDiagnosticsConnection* diagnostics) {
    std::string message;
    bool built = false;
    if (system_) {
        try {
            built = BuildCarSymmetry(*system_, message);
        } catch (const Cfx::CfxResult&) {
            built = false;
        }
    }
    if (built) {
        if (topologyRead_) MakeSymmetryConnections(*system_);
    } else {
        ReportError(msg::CARLOAD_SYM_BUILD);
        message += "No symmetry has been applied.";
        Post(diagnostics, message);
    }
    if (!system_) return;
    try {
        system_->GetSymmetryDisplay().GenerateDisplay();
        xxSymmetryVisibilityUtility::MakeVisibleNTupleSets(*system_);
    } catch (const Cfx::CfxResult&) {
        // What a view shows is not part of the model; a display too large to list stays empty.
    }
}

bool xxLoadCAR::BuildCarSymmetry(xxMultiScaleSymmetrySystem& system, std::string& message) {
    std::unique_ptr<xxSymmetryDefinition> definition;
    try {
        if (threeD_) {
            std::unique_ptr<xxSpaceGroup> group;
            if (groupSource_ == GroupSource::Named) {
                spaceGroup_ = xxSpaceGroupFactory::Instantiate().FindSpaceGroupByName(groupName_, qualifier_);
                if (!spaceGroup_) {
                    message += "Space group name " + groupName_ + " not recognised.\n";
                    return false;
                }
                xxSymmetryCreator::CreateSymmetryDefinition(*spaceGroup_, system, group);
            } else if (groupSource_ == GroupSource::Operators) {
                group = std::make_unique<xxSpaceGroup>(system, operators_, 0);
            }
            if (!group) return false;
            group->SetOrientationConvention(orientation_);
            group->SetCellParameters(a_, b_, c_, alpha_, beta_, gamma_, true);
            group->ResetOrientation();
            group->SetDisplayRanges(0, 1, 0, 1, 0, 1);
            definition = std::move(group);
        } else if (twoD_) {
            std::unique_ptr<xxPlaneGroup> group;
            if (groupSource_ == GroupSource::Named) {
                const xxPlaneGroupDescription* description =
                    xxPlaneGroupFactory::Instantiate().FindPlaneGroupByName(groupName_);
                if (!description) {
                    message += "Symmetry group name " + groupName_ + " not recognised.\n";
                    return false;
                }
                xxSymmetryCreator::CreateSymmetryDefinition(*description, system, group);
            } else if (groupSource_ == GroupSource::Operators) {
                group = std::make_unique<xxPlaneGroup>(system, operators_, 8);
            }
            if (!group) return false;
            group->SetOrientationConvention(orientation_);
            group->SetCellParameters(a_, b_, gamma_, true);
            group->ResetOrientation();
            group->SetDisplayRanges(0, 1, 0, 1);
            definition = std::move(group);
        } else {
            return false;
        }
        xxSymmetryChanger::Build(system, std::move(definition), true, tolerance_, false);
    } catch (const Cfx::CfxResult&) {
        // A group the operators do not form, a cell it does not fit, a degenerate cell.
        return false;
    }
    return true;
}
