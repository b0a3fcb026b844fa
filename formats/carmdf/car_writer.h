// The CAR/MDF writer: a model as a CAR text on the host's output stream and, beside the CAR
// file on disk, its MDF companion (topology, symmetry, atom sets).
#pragma once

#include <ctime>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <set>
#include <unordered_set>
#include <vector>

#include "base/name_index.h"
#include "datamodel/geometry.h"
#include "datamodel_extras/carmdf_atom_order.h"
#include "formats/carmdf/carmdf_text.h"
#include "host/diagnostics.h"
#include "host/stream.h"
#include "utilities/load.h"

class xxBondable;
class xxCompleteRestriction;
class xxPiSystem;
class xxSet;
class xxSymmetryDefinition;
class xxSymmetryElement;

class xxSaveCAR : public xxSave {
public:
    // The local time the "!DATE" and "!Date:" lines show.
    using Clock = std::function<std::tm()>;
    // The system's local time, the clock a writer starts with.
    static std::tm LocalTime();
    // The clock of this writer's date lines (tests fix it so files compare byte for byte); an
    // empty clock restores the system's local time.
    void SetClock(Clock clock);
    // The host stream under the CAR text. Once the CAR text is written, what the stream still
    // holds is flushed; once the MDF is complete too, before the new MDF takes the old one's
    // place, the stream is committed. A failure of either fails the export (message 400) with
    // neither file replaced. Without one the CAR stream is the caller's to flush and commit.
    void SetCarStream(ISBStream* stream);

    xxSaveCAR();
    ~xxSaveCAR() override;

    // Writes object (the document's tree root) to car and its MDF beside fileName, the path of
    // the CAR file. allSetsWritten comes back false when an atom set could not be written whole
    // (the warnings are posted on diagnostics, which may be null). With unixFormat both files end
    // their lines with LF (car must then be a binary stream); otherwise car is expected to turn
    // LF into CR LF and the MDF gets CR LF written out. The MDF is written to a temporary file
    // and takes its file's place only once both files are complete (host::FileMode::Write); when
    // it cannot be written the export fails with message 408 and no file is replaced. False
    // when the export failed; its message is reported (CfxReportError).
    xxBool WriteCarAndMdf(std::ostream& car, xxObject& object, const std::string& fileName,
                          ISBDiagnosticsConnection* diagnostics, xxBool& allSetsWritten, xxBool unixFormat);

    // The MDF beside a CAR path: the last path component's extension replaced by ".mdf", or
    // ".mdf" appended when the component has none (false then).
    static bool DeriveMdfPath(std::string_view carPath, std::string& mdfPath);

private:
    struct Connection {
        const xxBondable* partner;
        double order;
    };
    // Finds a partner among the connections of the record being written.
    struct PartnerMatch {
        const std::vector<Connection>* connections;
        bool operator()(std::uint32_t entry, const xxBondable* partner) const {
            return (*connections)[entry].partner == partner;
        }
    };

    bool PrepareModel(xxObject& object);
    void WriteCarHeader(std::ostream& car);
    bool WriteCarCellLine(std::ostream& car);
    bool WriteCarAtoms(std::ostream& car);

    bool WriteMdf(const std::string& mdfPath);
    void WriteMdfHeader();
    void WriteMdfColumns();
    bool WriteMdfRecords();
    bool WriteMdfAtoms(std::size_t position);
    void CollectBonds(const xxBondable& object);
    bool WriteConnection(const Connection& connection, std::size_t position);
    void WriteMdfSymmetry();

    // Atom sets.
    void WriteSetSection();
    void BeginAtomSetSection();
    bool WriteMdfAtomSets(const xxSet& set, const std::string& name);
    void WriteBackboneList(std::size_t firstPosition, std::size_t endPosition, std::string_view moleculeName);
    void WriteFixedAtomsSubset();
    void WritePseudoAtomLists();
    void WriteAtomNameList(const std::vector<const xxObject*>& objects, bool sixPerLine);
    bool FindCommonSymmetryElements(std::vector<const xxObject*>& tuple) const;
    std::vector<const xxObject*> CollectSymmetryParents(const std::vector<xxObject*>& objects) const;
    std::string MakeAlphaNumericName(const xxObject& firstMember, const std::string& piName);
    bool AddTupleIfNew(const std::vector<const xxObject*>& tuple);
    bool QualifiedName(const xxObject& object, std::string& name) const;
    // The sets, fixed-atom restrictions or pseudo-atoms to write, in tree order.
    template <class T>
    std::vector<T*> ObjectsToWrite();
    void CollectListed();
    void Warn(const std::string& text) const;

    void Line();  // ends the line being built in mdfText_
    void FlushMdf(bool force);

    // The parent an image stands for; the object itself without symmetry.
    const xxObject* SymmetryParent(const xxObject& object) const;

    // What one export works with, set afresh by each WriteCarAndMdf.
    struct ExportState {
        ISBDiagnosticsConnection* diagnostics = nullptr;
        bool crlf = true;
        std::tm now{};

        xxSymmetrySystem* symmetry = nullptr;
        const xxSymmetryDefinition* definition = nullptr;
        bool threeD = false;
        bool twoD = false;
        bool namedGroup = false;
        int dimension = 0;
        xxTransformMatrix toCarOrientation;
        bool transform = false;

        // The MDF as a host file stream, replaced on commit; mdfFailed once a write failed.
        CfxComPtr<ISBStream> mdf;
        bool mdfFailed = false;
        cartovane::carmdf::TextBuffer mdfText;
        bool atomSetHeader = false;
        bool setFailed = false;
        // Positions of the backbone atoms, ascending; noted by WriteMdfRecords.
        std::vector<std::size_t> backbonePositions;
        // Tuples written for the current set, in one orientation.
        std::set<std::vector<const xxObject*>> writtenTuples;
        bool listedCollected = false;
        std::vector<xxSet*> listedSets;
        std::vector<xxCompleteRestriction*> listedRestrictions;
        std::vector<xxPiSystem*> listedPiSystems;
    };

    Clock clock_ = &LocalTime;
    ISBStream* carStream_ = nullptr;  // the caller's
    ExportState state_;
    // Resets itself on each DefineAtomOrder.
    xxCarMdfAtomOrder order_;
    // Scratch of one record: its connections, and an index of them by partner once there are
    // too many for a scan (a metal centre, a pi system).
    std::vector<Connection> bonds_;
    cartovane::NameIndex<std::uint32_t, PartnerMatch, const xxBondable*, cartovane::MixedHash> bondIndex_{
        PartnerMatch{&bonds_}};
    std::string typeScratch_;
    // What the atom order collects for the atom-set section, by place.
    static constexpr std::size_t kCollectedSets = 0, kCollectedRestrictions = 1, kCollectedPiSystems = 2;
    // Generated pseudo-atom names.
    std::unordered_set<std::string> pseudoAtomNames_;
};
