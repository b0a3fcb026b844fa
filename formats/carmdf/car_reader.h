// The CAR/MDF reader: a CAR text from a stream and its MDF companion from disk into the
// data-model tree, with the periodic symmetry built and the problems reported.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "com/types.h"
#include "datamodel/geometry.h"
#include "base/name_index.h"
#include "host/diagnostics.h"
#include "utilities/load.h"

class CTextParser;
class xxBondable;
class xxAtom;
class xxMultiScaleMolecule;
class xxMultiScaleSymmetrySystem;
class xxSpaceGroupDescription;
class xxSubUnit;
class xxSet;
class xxGeometryMonitor;
class xxTreeNode;
class xxTreeRoot;

namespace cartovane::carscan {
struct CarAtomFields;
struct CarColumns;

// Keys of the reader's lookup tables; the names themselves are read back from the objects.
struct NamedObjectMatch {
    bool operator()(const xxObject* object, std::string_view name) const;
};
struct ChildKey {
    const xxObject* parent;
    std::string_view name;
};
struct ChildKeyHash {
    std::size_t operator()(const ChildKey& key) const noexcept;
};
struct ChildKeyMatch {
    bool operator()(const xxBondable* object, const ChildKey& key) const;
};
// Molecule, sub-unit and atom names joined by ":".
struct QualifiedNameMatch {
    bool operator()(const xxBondable* object, std::string_view key) const;
};
}  // namespace cartovane::carscan

// The MDF file's lines, each a view into the line reader's block.
class MdfLines {
public:
    explicit MdfLines(CTextParser& parser) : parser_(parser) {}
    // The next line into Line(); false (and Line() empty) at the end of the text.
    bool Next();
    // Next, skipping blank and comment lines.
    bool NextStatement();
    std::string_view Line() const { return line_; }
    bool AtEnd() const { return atEnd_; }

private:
    CTextParser& parser_;
    std::string_view line_;
    bool atEnd_ = false;
};

namespace cartovane::carscan {

// Everything one load of xxLoadCAR builds up. A load begins by assigning a fresh one, so nothing
// of an earlier load (or of a section reader called alone) carries over.
struct LoadState {
    enum class GroupSource { None, Named, Operators };

    struct ChargeGroup {
        std::array<char, 6> name{};  // "%5s"
        std::size_t nameLength = 0;
        xxAtom* centre = nullptr;
        std::vector<xxAtom*> members;
        std::string_view Name() const { return {name.data(), nameLength}; }
    };
    struct ChargeGroupMatch {
        bool operator()(const ChargeGroup* group, std::string_view name) const { return group->Name() == name; }
    };
    struct SymmetryConnection {
        xxBondable* atom;
        xxBondable* partner;
        int bondType;
        int operatorNumber;
        std::array<int, 3> offsets;
    };
    // Monitors made in this load, by their atoms in the order that sorts first of the two.
    struct MonitorKey {
        std::array<const xxAtom*, 4> atoms{};
        friend bool operator==(const MonitorKey&, const MonitorKey&) = default;
    };
    struct MonitorKeyHash {
        std::size_t operator()(const MonitorKey& key) const noexcept;
    };

    // Periodicity and symmetry.
    bool threeD_ = false, twoD_ = false, oneD_ = false;
    GroupSource groupSource_ = GroupSource::None;
    int orientation_ = 3;
    double a_ = 0, b_ = 0, c_ = 0, alpha_ = 0, beta_ = 0, gamma_ = 0;
    double tolerance_ = 0.05;
    std::string groupName_, qualifier_;
    bool dravik4_ = false;
    const xxSpaceGroupDescription* spaceGroup_ = nullptr;
    std::vector<xxTransformMatrix> operators_ = std::vector<xxTransformMatrix>(1);  // the identity

    // The model being built.
    xxTreeRoot* root_ = nullptr;
    xxMultiScaleSymmetrySystem* system_ = nullptr;
    xxTreeNode* moleculeParent_ = nullptr;
    std::string baseName_;
    std::vector<xxMultiScaleMolecule*> molecules_;
    xxMultiScaleMolecule* molecule_ = nullptr;
    xxSubUnit* subUnit_ = nullptr;
    std::string residueNumber_;  // of the previous atom line
    std::string scratch_;
    std::int64_t atomCount_ = 0;
    // Warnings about the CAR text: sentences posted before the MDF's in the one problem text.
    std::string carProblems_;

    // MDF tables.
    std::string columnCodes_;
    std::size_t nextMolecule_ = 0;
    bool topologyRead_ = false;
    NameIndex<xxObject*, NamedObjectMatch> subUnits_;
    // Bondable children of the current molecule's sub-units.
    NameIndex<xxBondable*, ChildKeyMatch, ChildKey, ChildKeyHash> children_;
    // Every record's object in file order; indexed by qualified name only when an atom-set
    // section asks for names.
    std::vector<xxBondable*> recordObjects_;
    std::size_t recordObjectsIndexed_ = 0;
    NameIndex<xxBondable*, QualifiedNameMatch> qualifiedNames_;
    // The current sub-unit's charge groups are the first chargeGroupCount_; the rest keep their
    // buffers for the next. A deque, so that the index's pointers stay valid as it grows.
    std::deque<ChargeGroup> chargeGroups_;
    std::size_t chargeGroupCount_ = 0;
    NameIndex<ChargeGroup*, ChargeGroupMatch> chargeGroupIndex_;
    std::vector<SymmetryConnection> symmetryConnections_;
    std::unordered_map<std::string, xxSet*> sets_;
    std::unordered_map<MonitorKey, xxGeometryMonitor*, MonitorKeyHash> monitors_;
};

}  // namespace cartovane::carscan

class xxLoadCAR : public xxLoad, private cartovane::carscan::LoadState {
public:
    xxLoadCAR();
    ~xxLoadCAR() override;
    xxLoadCAR(const xxLoadCAR&) = delete;
    xxLoadCAR& operator=(const xxLoadCAR&) = delete;

    xxBool IsFileExtension(std::string extension) const override;
    std::string GetFileExtension() const override;
    std::string GetFileFilter() const override;
    // Whether the first line names archive 2 or 3; the stream is left where it was.
    xxBool IsLoadable(std::istream& in) const override;

    // Reads the CAR (or ARC) text into root, with the MDF found beside path, and builds the
    // symmetry of a periodic model. Warnings go to diagnostics (may be null) as one text. Only a
    // text that is no CAR file fails (message 452, the report's result); every other problem is
    // reported and the import goes on. calculateBonds: perceive bonds when the MDF gave none.
    HRESULT LoadCarMdfFile(std::istream& car, xxTreeRoot& root, const std::string& path,
                           ISBDiagnosticsConnection* diagnostics, xxBool calculateBonds);

    // Applies the group the CAR and MDF named (or listed) to the system; false, with a reason
    // appended to message when there is one, when no symmetry could be built.
    bool BuildCarSymmetry(xxMultiScaleSymmetrySystem& system, std::string& message);

    // MDF sections. Each starts with its header line in lines, reads its section and leaves the
    // line that ended it there (or the end of the text); false when the section failed.
    bool ReadMdfTopology(MdfLines& lines, std::size_t connectionColumn);
    bool ReadMdfSymmetry(MdfLines& lines);
    bool ReadMdfAtomSets(xxTreeNode& owner, MdfLines& lines);
    // Bonds to the symmetry images the topology named, once the symmetry is built.
    bool MakeSymmetryConnections(xxMultiScaleSymmetrySystem& system);

private:
    enum class ColumnsResult { Read, Failed, EndOfText };

    // CAR part.
    void ReadCellLine(std::string_view line, xxTreeRoot& root);
    // From the line after the title: the cell line found (and read) when the file is periodic,
    // and the line the atoms start at, which follows it (or, when there is none, is the first
    // line that is neither blank nor a comment).
    std::optional<std::string_view> FindCellLine(CTextParser& parser, xxTreeRoot& root);
    // The molecules from line on (nullopt: the text has ended); the description of the failure
    // when an atom line has coordinates that do not read, else empty.
    std::string ReadAtoms(CTextParser& parser, std::optional<std::string_view> line,
                          const cartovane::carscan::CarColumns& columns);
    // A warning about the CAR text, posted with the MDF's problems.
    void AddCarProblem(std::size_t lineNumber, std::string_view problem);
    xxMultiScaleMolecule& NewMolecule();
    void AddAtom(const cartovane::carscan::CarAtomFields& fields);
    // MDF part.
    void ReadMdf(const std::string& path, ISBDiagnosticsConnection* diagnostics, bool calculateBonds);
    void RunSections(MdfLines& lines, std::size_t connectionColumn, std::string& problems, bool& failed);
    void BuildSymmetry(ISBDiagnosticsConnection* diagnostics);
    ColumnsResult ReadMdfColumns(MdfLines& lines);
    bool ReadMdfAtomRecords(MdfLines& lines, xxMultiScaleMolecule& molecule, std::size_t connectionColumn);
    bool ReadMdfAtomColumns(std::string_view fields, xxBondable& object);
    void ReadConnection(std::string_view token, xxBondable& atom, const xxSubUnit& subUnit);
    bool ReadMdfMatrices(MdfLines& lines, long long count);
    void AddToChargeGroup(std::string_view name, xxAtom& atom, int switching);
    void BuildChargeGroups(xxSubUnit* subUnit);
    // Atom sets.
    std::vector<xxAtom*> ReadAtomNameList(MdfLines& lines, std::string molecule, std::string subUnit, bool tuples);
    xxAtom* FindAtomByName(std::string_view name, std::string& molecule, std::string& subUnit);
    bool ReadMdfSubset(xxTreeNode& owner, MdfLines& lines);
    bool ReadFixedAtoms(xxTreeNode& owner, MdfLines& lines);
    bool ReadBackboneList(MdfLines& lines);
    bool ReadPseudoAtoms(MdfLines& lines);
    bool ReadMdfTupleSets(xxTreeNode& owner, MdfLines& lines, int degree, std::string_view name);
    // Moves the set under the common ancestor of its members and those about to join it.
    static void MoveUnderMembers(xxSet& set, std::vector<xxObject*>& added);
    xxGeometryMonitor* MonitorOf(xxTreeNode& owner, const std::vector<xxAtom*>& atoms);
    static void SkipToSectionLine(MdfLines& lines);
    void ReportError(std::int32_t messageId);
    static MonitorKey MonitorKeyOf(const std::vector<xxAtom*>& atoms);
};
