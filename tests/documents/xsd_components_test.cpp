// The XML document components through the host stand-in: imports and their error texts, the
// trajectory treatments, the export hand-off to a document copy, dependent files.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "datamodel/atomistic.h"
#include "documents/xsd_components.h"
#include "frame/clsids.h"
#include "library/component_table.h"
#include "host/document_copy.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/car_lines.h"
#include "support/his_file.h"
#include "support/host_doubles.h"
#include "support/recording_stream.h"
#include "support/library_components.h"
#include "support/play_loader.h"
#include "support/temp_dir.h"
#include "utilities/trajectory.h"

namespace cartovane {
namespace {

constexpr char kXSD[] = "SDCartovane.XSDImportExport";
constexpr char kXTD[] = "SDCartovane.XTDImportExport";
constexpr char kXOD[] = "SDCartovane.XODImportExport";
constexpr char kMSD[] = "SDCartovane.MSDImportExport";
constexpr char kMTD[] = "SDCartovane.MTDImportExport";
constexpr char kGSD[] = "SDCartovane.GSDImportExport";

struct Component {
    const char* progId;
    const CLSID* clsid;
    const char* tag;  // XSD, XTD, ...
    bool trajectoryDocument;
};
const Component kComponents[] = {
    {kXSD, &CLSID_XSDImportExport, "XSD", false}, {kXTD, &CLSID_XTDImportExport, "XTD", true},
    {kXOD, &CLSID_XODImportExport, "XOD", false}, {kMSD, &CLSID_MSDImportExport, "MSD", false},
    {kMTD, &CLSID_MTDImportExport, "MTD", true},  {kGSD, &CLSID_GSDImportExport, "GSD", false},
};

class XmlDocumentComponents : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = cvtest::TestContainerRoot::Create();
        Cfx::ClearLastError();
    }

    template <class Interface>
    CfxComPtr<Interface> Create(const char* progId) {
        return cvtest::CreateConnected<Interface>(progId, *root.Get());
    }

    // Two bonded atoms and a trajectory.
    static CfxComPtr<host::Model3dDocument> Model(const char* progId = kAtomistic3dDocumentProgID) {
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(progId);
        xxTreeRoot& tree = document->Tree();
        tree.SetName("model");
        auto& o = tree.CreateChild<xxAtom3d>("O");
        o.SetName("O1");
        o.SetXYZ({1, 2, 3});
        auto& h = tree.CreateChild<xxAtom3d>("H");
        h.SetName("H1");
        h.SetXYZ({1.5, 2, 3});
        tree.CreateChild<xxBond>().Connect(o, h);
        auto& trajectory = tree.CreateChild<xxTrajectory>();
        trajectory.SetTrajectoryType("trj");
        return document;
    }

    HRESULT Export(const char* progId, ISBStream* stream, ISBDocumentRoot* document, const VARIANT& args = {}) {
        return Create<ISBExporter>(progId)->Export(stream, document, args);
    }
    HRESULT Import(const char* progId, ISBStream* stream, ISBDocumentRoot* document) {
        return Create<ISBImporter>(progId)->Import(stream, document, VARIANT{});
    }
    static ISBDocumentRoot* Root(const CfxComPtr<host::Model3dDocument>& d) { return static_cast<ISBDocumentRoot*>(d.Get()); }

    // What a trajectory export writes: directly, never handed off.
    std::string Direct(const CfxComPtr<host::Model3dDocument>& document) {
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
        EXPECT_EQ(Export(kXTD, stream.Get(), Root(document)), S_OK);
        return ToString(host::MemoryStreamBytes(stream.Get()));
    }
    static std::string ToString(const std::vector<char>& bytes) { return {bytes.begin(), bytes.end()}; }
    static std::size_t Count(const xxTreeRoot& tree, unsigned type) {
        std::size_t n = 0;
        tree.ForEachDescendent([&](xxObject& o) {
            n += o.IsA(type) ? 1 : 0;
            return true;
        });
        return n;
    }

    CfxComPtr<cvtest::TestContainerRoot> root;
};

// ---- the export hand-off ----------------------------------------------------

TEST_F(XmlDocumentComponents, StructureExportsOfThe3dClassesAreHandedToACopyThatWritesDirectly) {
    struct Case {
        const char* component;
        const char* documentClass;
    };
    for (const Case& c : {Case{kXSD, kAtomistic3dDocumentProgID}, Case{kXOD, kAtomistic3dDocumentProgID},
                          Case{kMSD, kMeso3dDocumentProgID}, Case{kGSD, kMeso3dDocumentProgID},
                          Case{kXSD, kMeso3dDocumentProgID}}) {
        SCOPED_TRACE(std::string(c.component) + " / " + c.documentClass);
        root = cvtest::TestContainerRoot::Create();
        root->Documents().wrapCreated = true;
        CfxComPtr<host::Model3dDocument> document = Model(c.documentClass);
        std::string direct = Direct(document);

        CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
        CfxVariant args(std::int32_t{7});
        // The nested export runs once: the copy is made once and exports once.
        root->Documents().created.clear();
        HRESULT hr = Export(c.component, stream.Get(), Root(document), args.Get());
        ASSERT_EQ(hr, S_OK) << Cfx::GetLastError().description;
        ASSERT_EQ(root->Documents().created, std::vector<std::string>{c.documentClass});
        cvtest::ForwardingDocument& copy = *root->Documents().lastCopy.Get();
        ASSERT_EQ(copy.exports.size(), 1u);
        EXPECT_EQ(copy.exports[0].exporter, "SDCartovane.XSDImportExport");
        EXPECT_EQ(copy.exports[0].argsType, VT_I4);
        EXPECT_FALSE(XSDBaseImportExport::HandOffInProgress());

        // The copy holds the whole model but its trajectory.
        std::string written = ToString(host::MemoryStreamBytes(stream.Get()));
        EXPECT_NE(direct.find("<Trajectory"), std::string::npos);
        EXPECT_EQ(written.find("<Trajectory"), std::string::npos) << written;
        EXPECT_NE(written.find("Name=\"O1\""), std::string::npos);
        EXPECT_NE(written.find("<Bond"), std::string::npos);
        // The source keeps its trajectory.
        EXPECT_EQ(Count(document->Tree(), xxTrajectory::classType), 1u);
    }
}

TEST_F(XmlDocumentComponents, TheHandOffFlagIsSetOnlyDuringTheNestedExport) {
    root->Documents().wrapCreated = true;
    CfxComPtr<host::Model3dDocument> document = Model();
    std::vector<bool> seen;
    root->Documents().onCopyExport = [&] { seen.push_back(XSDBaseImportExport::HandOffInProgress()); };
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    EXPECT_FALSE(XSDBaseImportExport::HandOffInProgress());
    ASSERT_EQ(Export(kXSD, stream.Get(), Root(document)), S_OK);
    EXPECT_EQ(seen, std::vector<bool>{true});
    EXPECT_FALSE(XSDBaseImportExport::HandOffInProgress());

    // Refused ISBDocumentExport: its HRESULT comes back, nothing is written, the flag is clear.
    root->Documents().refuseExportOfCopies = true;
    CfxComPtr<ISBStream> refused = host::CreateMemoryStream();
    EXPECT_EQ(Export(kXSD, refused.Get(), Root(document)), E_NOINTERFACE);
    EXPECT_TRUE(host::MemoryStreamBytes(refused.Get()).empty());
    EXPECT_FALSE(XSDBaseImportExport::HandOffInProgress());
}

TEST_F(XmlDocumentComponents, NoHandOffForTrajectoryExportsOrOtherDocumentClasses) {
    struct Case {
        const char* component;
        const char* documentProgId;  // what the document claims to be
        HRESULT expected;
    };
    for (const Case& c : {
             Case{kXTD, kAtomistic3dDocumentProgID, S_OK},
             Case{kMTD, kMeso3dDocumentProgID, S_OK},
             // The MTD component's class differs from the mesoscale document's in one digit.
             Case{kXSD, "SDCartovane.MTDImportExport", S_OK},
             Case{kGSD, "SDCartovane.CARImportExport", S_OK},
             // A class the host does not know fails the export with what the lookup recorded.
             Case{kMSD, "Nobody.Nothing", CO_E_CLASSSTRING},
         }) {
        SCOPED_TRACE(std::string(c.component) + " / " + c.documentProgId);
        root->Documents().created.clear();
        CfxComPtr<cvtest::ForwardingDocument> document = cvtest::ForwardingDocument::Over(Model());
        document->progId = c.documentProgId;
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
        EXPECT_EQ(Export(c.component, stream.Get(), static_cast<ISBDocumentRoot*>(document.Get())), c.expected);
        EXPECT_TRUE(root->Documents().created.empty());
        EXPECT_EQ(host::MemoryStreamBytes(stream.Get()).empty(), FAILED(c.expected));
    }
}

TEST_F(XmlDocumentComponents, ACopyIsDeepAndItsBondsJoinItsOwnAtoms) {
    CfxComPtr<host::Model3dDocument> source = Model();
    CfxComPtr<host::Model3dDocument> copy = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    ASSERT_EQ(source->CopyInto(Root(copy)), S_OK);
    EXPECT_EQ(copy->Tree().GetName(), "model");
    std::vector<xxBond*> bonds = copy->Tree().DescendentsOf<xxBond>();
    ASSERT_EQ(bonds.size(), 1u);
    for (xxBondable* end : bonds[0]->GetAtoms()) {
        ASSERT_NE(end, nullptr);
        EXPECT_TRUE(end->IsDescendentOf(copy->Tree()));
    }
    EXPECT_EQ(Direct(copy), Direct(source));
    // Another document class is refused.
    CfxComPtr<host::Model3dDocument> meso = host::Model3dDocument::Create(kMeso3dDocumentProgID);
    EXPECT_EQ(source->CopyInto(Root(meso)), E_INVALIDARG);
}

// ---- imports ------------------------------------------------------------------

TEST_F(XmlDocumentComponents, ImportFailuresCarryTheComponentsPrefixAndReportItsClass) {
    const std::string invalidArg = Cfx::CfxResult::StandardDescription(E_INVALIDARG);
    struct Case {
        const char* component;
        const char* text;
        bool nullRoot;
        bool nullTree;
        HRESULT expected;
        std::string description;  // prefix match when it ends in " - "
    };
    const Case cases[] = {
        {kMTD, "<XSD><unclosed", false, false, E_FAIL,
         "Unable to process MTD content - Unable to parse XSD as valid XML - "},
        {kXSD, "", false, false, E_UNEXPECTED, "Unable to process XSD content - Empty Document"},
        {kXOD, "<XSD/>", true, false, E_INVALIDARG, "Unable to process XOD content - " + invalidArg},
        {kGSD, "<XSD/>", false, true, E_UNEXPECTED, "Unable to process GSD content - Cannot access underlying document."},
        {kXTD, "<XSD/>", true, false, E_INVALIDARG, "Unable to process XTD content - " + invalidArg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.component);
        CfxComPtr<cvtest::ForwardingDocument> document =
            cvtest::ForwardingDocument::Over(host::Model3dDocument::Create(kAtomistic3dDocumentProgID));
        document->nullTree = c.nullTree;
        cvtest::RecordingStream stream(c.text);
        HRESULT hr = Import(c.component, &stream, c.nullRoot ? nullptr : static_cast<ISBDocumentRoot*>(document.Get()));
        EXPECT_EQ(hr, c.expected);
        const Cfx::LastErrorRecord& last = Cfx::GetLastError();
        const std::string& d = last.description;
        if (c.description.ends_with(" - ")) {
            EXPECT_EQ(d.substr(0, c.description.size()), c.description);
            EXPECT_GT(d.size(), c.description.size()) << "the parser's text";
        } else {
            EXPECT_EQ(d, c.description);
        }
        EXPECT_EQ(last.iid, IID_ISBImporter);
        for (const Component& k : kComponents)
            if (std::string(k.progId) == c.component) {
                EXPECT_EQ(last.clsid, *k.clsid);
            }
    }
}

TEST_F(XmlDocumentComponents, ExportFailuresCarryNoPrefix) {
    for (const Component& k : kComponents) {
        SCOPED_TRACE(k.tag);
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
        EXPECT_EQ(Export(k.progId, stream.Get(), nullptr), E_INVALIDARG);
        EXPECT_EQ(Cfx::GetLastError().description, Cfx::CfxResult::StandardDescription(E_INVALIDARG));
        EXPECT_EQ(Cfx::GetLastError().clsid, *k.clsid);
        EXPECT_EQ(Cfx::GetLastError().iid, IID_ISBExporter);
    }
    // A null tree is the bare HRESULT.
    CfxComPtr<cvtest::ForwardingDocument> document = cvtest::ForwardingDocument::Over(Model());
    document->nullTree = true;
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    EXPECT_EQ(Export(kXTD, stream.Get(), static_cast<ISBDocumentRoot*>(document.Get())), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, Cfx::CfxResult::StandardDescription(E_UNEXPECTED));
}

TEST_F(XmlDocumentComponents, ImportsKeepOrDropTrajectoriesByTheComponentsFlag) {
    CfxComPtr<host::Model3dDocument> source = Model();
    const std::string saved = Direct(source);
    for (const Component& k : kComponents) {
        SCOPED_TRACE(k.tag);
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream({saved.begin(), saved.end()});
        ASSERT_EQ(Import(k.progId, stream.Get(), Root(document)), S_OK) << Cfx::GetLastError().description;
        EXPECT_EQ(Count(document->Tree(), xxAtom3d::classType), 2u);
        // Trajectory documents keep theirs; structure documents take it out of the scope.
        EXPECT_EQ(Count(document->Tree(), xxTrajectory::classType), k.trajectoryDocument ? 1u : 0u);
    }
}

TEST_F(XmlDocumentComponents, ATrajectoryDocumentWithoutTrajectoryGetsNoneWhenNoTypeIsValid) {
    CfxComPtr<host::Model3dDocument> source = Model();
    source->Tree().RemoveDescendents();
    source->Tree().CreateChild<xxAtom3d>("C");
    const std::string saved = Direct(source);
    for (const char* component : {kXTD, kMTD}) {
        SCOPED_TRACE(component);
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream({saved.begin(), saved.end()});
        EXPECT_EQ(Import(component, stream.Get(), Root(document)), S_OK);
        EXPECT_EQ(Count(document->Tree(), xxTrajectory::classType), 0u);
        EXPECT_EQ(Count(document->Tree(), xxAtom3d::classType), 1u);
    }
}

// A trajectory document saved without a trajectory takes the first file beside it, "<stem>.his"
// before "<stem>.arc", that fits its model; none that fits leaves the document without.
TEST_F(XmlDocumentComponents, ATrajectoryDocumentWithoutTrajectoryTakesTheFirstFileBesideItThatFits) {
    CfxComPtr<host::Model3dDocument> source = Model();
    source->Tree().ChildrenOf<xxTrajectory>().front()->Delete();
    const std::string saved = Direct(source);
    using cvtest::carmdf::ArcText;
    using cvtest::carmdf::MovingFrame;
    struct His {
        int atoms;  // the model has 2
        bool periodic;
    };
    struct Case {
        const char* what;
        std::optional<His> his;
        std::optional<std::vector<int>> arc;  // the molecules of the ARC file's frames
        const char* type;                     // of the trajectory kept; null: none
    };
    const Case cases[] = {
        {"an ARC file of two atoms, as the model", {}, std::vector<int>{2}, "arc"},
        {"an ARC file of three atoms", {}, std::vector<int>{3}, nullptr},
        {"a HIS file that fits", His{2, false}, {}, "his"},
        {"a HIS file of more atoms", His{3, false}, {}, nullptr},
        {"a HIS file with a cell the model does not have", His{2, true}, {}, nullptr},
        {"HIS and ARC files that fit: HIS first", His{2, false}, std::vector<int>{2}, "his"},
        {"a HIS file that does not fit, an ARC file that does", His{3, false}, std::vector<int>{2}, "arc"},
    };
    for (const char* component : {kXTD, kMTD})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(component) + ", " + c.what);
            cvtest::TempDir dir;
            if (c.arc) dir.Put("saved.arc", ArcText({}, {MovingFrame(0, *c.arc, -1), MovingFrame(1, *c.arc, -2)}));
            if (c.his) {
                cvtest::HisParameters params;
                params.atoms = c.his->atoms;
                params.periodic = c.his->periodic;
                params.frames = 2;
                dir.Put("saved.his", cvtest::MakeHis(params).writer.Bytes());
            }
            CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
            document->SetURL(dir.File("saved.xtd"));
            CfxComPtr<ISBStream> stream = host::CreateMemoryStream({saved.begin(), saved.end()});
            ASSERT_EQ(Import(component, stream.Get(), Root(document)), S_OK) << Cfx::GetLastError().description;
            std::vector<xxTrajectory*> trajectories = document->Tree().ChildrenOf<xxTrajectory>();
            ASSERT_EQ(trajectories.size(), c.type ? 1u : 0u);
            if (!c.type) continue;
            xxTrajectory& t = *trajectories.front();
            EXPECT_EQ(t.GetTrajectoryType(), c.type);
            EXPECT_EQ(t.GetNumFrames(), 2);
            ASSERT_TRUE(t.SetCurrentFrame(2));
            const std::vector<xxAtom3d*> atoms = document->Tree().ChildrenOf<xxAtom3d>();
            ASSERT_EQ(atoms.size(), 2u);
            if (std::string_view(c.type) == "arc") {
                EXPECT_NEAR(atoms[1]->GetXYZ().y, 2.01, 1e-9);
                EXPECT_EQ(t.GetFrameResults().energy, -2);
            } else {
                EXPECT_EQ(atoms[1]->GetXYZ(), (xxPoint3d{cvtest::HisParameters::Position(1, 1, 0),
                                                         cvtest::HisParameters::Position(1, 1, 1),
                                                         cvtest::HisParameters::Position(1, 1, 2)}));
            }
        }
}

// A trajectory saved in a trajectory document plays again from the file of its type beside the
// document it is read into ("PLAYLoader" stands in for the library's loaders here).
TEST_F(XmlDocumentComponents, ASavedTrajectoryPlaysFromTheFileOfItsTypeBesideTheDocument) {
    cvtest::PlayLoader::Controls() = {};
    cvtest::TempDir dir;
    CfxComPtr<host::Model3dDocument> source = Model();
    source->Tree().ChildrenOf<xxTrajectory>().front()->SetTrajectoryType("play");
    const std::string saved = Direct(source);
    dir.Put("saved.play", "-2 - - - 5 6 7 8 9 10\n");
    for (const char* component : {kXTD, kMTD}) {
        SCOPED_TRACE(component);
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        document->SetURL(dir.File("saved.xtd"));
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream({saved.begin(), saved.end()});
        ASSERT_EQ(Import(component, stream.Get(), Root(document)), S_OK) << Cfx::GetLastError().description;
        std::vector<xxTrajectory*> trajectories = document->Tree().ChildrenOf<xxTrajectory>();
        ASSERT_EQ(trajectories.size(), 1u);
        xxTrajectory& t = *trajectories.front();
        ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
        EXPECT_EQ(cvtest::PlayLoader::Controls().initFileNames.back(), dir.File("saved.play"));
        ASSERT_TRUE(t.SetCurrentFrame(1));
        const std::vector<xxAtom3d*> atoms = document->Tree().ChildrenOf<xxAtom3d>();
        ASSERT_EQ(atoms.size(), 2u);
        EXPECT_EQ(atoms[0]->GetXYZ(), (xxPoint3d{5, 6, 7}));
        EXPECT_EQ(atoms[1]->GetXYZ(), (xxPoint3d{8, 9, 10}));
        EXPECT_EQ(t.GetFrameResults().energy, -2);
    }
}

TEST_F(XmlDocumentComponents, AScopeThatNeverEmptiesFailsInsteadOfLoopingForEver) {
    CfxComPtr<cvtest::StuckScopeManager> stuck = CfxComPtr<cvtest::StuckScopeManager>::Adopt(new cvtest::StuckScopeManager());
    root->SetScopeManager(stuck.Get());
    const std::string saved = Direct(Model());
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream({saved.begin(), saved.end()});
    EXPECT_EQ(Import(kXSD, stream.Get(), Root(document)), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description,
              "Unable to process XSD content - Cannot take the trajectories out of the document's scope");
    EXPECT_EQ(stuck->removals, 1);
}

TEST_F(XmlDocumentComponents, TheTrajectoryImportWakesTheHostsImporterOnlyWhenItIsRegistered) {
    using Host = cvtest::HostImporterStandIn;
    const std::string saved = Direct(Model());
    struct Case {
        bool registered;
        bool failCreation;
        int created;
    };
    for (const Case& c : {Case{false, false, 0}, Case{true, false, 1}, Case{true, true, 0}}) {
        SCOPED_TRACE(testing::Message() << c.registered << c.failCreation);
        Host::created = 0;
        Host::failCreation = c.failCreation;
        if (c.registered) Host::Register();
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream({saved.begin(), saved.end()});
        EXPECT_EQ(Import(kXTD, stream.Get(), Root(document)), S_OK);
        EXPECT_EQ(Host::created, c.created);
        EXPECT_EQ(Host::alive, 0);
        // Only the trajectory component wakes it.
        CfxComPtr<ISBStream> again = host::CreateMemoryStream({saved.begin(), saved.end()});
        CfxComPtr<host::Model3dDocument> other = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        EXPECT_EQ(Import(kMTD, again.Get(), Root(other)), S_OK);
        EXPECT_EQ(Host::created, c.created);
        Host::Unregister();
    }
}

TEST_F(XmlDocumentComponents, TheInsertionComponentAddsAnXsdStreamToAnOpenDocument) {
    CfxComPtr<host::Model3dDocument> source = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    auto& molecule = source->Tree().CreateChild<xxMolecule>();
    auto& o = molecule.CreateChild<xxAtom3d>("O");
    auto& h = molecule.CreateChild<xxAtom3d>("H");
    molecule.CreateChild<xxBond>().Connect(o, h);
    const std::string saved = Direct(source);
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    document->Tree().CreateChild<xxAtom3d>("C");
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream({saved.begin(), saved.end()});
    ASSERT_EQ(Import("SDCartovane.XSDToXODImport", stream.Get(), Root(document)), S_OK)
        << Cfx::GetLastError().description;
    EXPECT_EQ(Count(document->Tree(), xxAtom3d::classType), 3u);
    EXPECT_EQ(Count(document->Tree(), xxBond::classType), 1u);
}

// ---- the written stream and the files beside it --------------------------------

TEST_F(XmlDocumentComponents, AFailedOrShortFinalWriteFailsTheExport) {
    struct Case {
        const char* component;
        bool shortWrite;
        const char* description;
    };
    for (const Case& c : {Case{kXTD, false, "XTD save failed. "}, Case{kXTD, true, "XTD save failed. "},
                          Case{kMTD, true, "XTD save failed. "}, Case{kXSD, false, "XSD save failed. "},
                          Case{kGSD, true, "XSD save failed. "}}) {
        SCOPED_TRACE(testing::Message() << c.component << " short " << c.shortWrite);
        CfxComPtr<host::Model3dDocument> document = Model();
        cvtest::RecordingStream stream;
        if (c.shortWrite) {
            stream.SetWriteLimit(10);
        } else {
            stream.FailFrom(cvtest::RecordingStream::Op::Write, 1);
        }
        EXPECT_EQ(Export(c.component, &stream, Root(document)), E_FAIL);
        EXPECT_EQ(Cfx::GetLastError().description, c.description);
        EXPECT_FALSE(XSDBaseImportExport::HandOffInProgress());
    }
}

TEST_F(XmlDocumentComponents, TrajectoryExportsCopyTheTrajectoryFileBesideTheSavedFile) {
    cvtest::TempDir dir;
    std::filesystem::create_directory(dir.Path() / "out");
    const std::string source = dir.File("run.xtd");
    dir.Put("run.trj", "frames");
    struct Case {
        std::string target;  // empty: a memory stream
        int copyCalls;
        bool copied;
    };
    for (const Case& c : {Case{dir.File("out/saved.xtd"), 1, true}, Case{source, 0, false}, Case{"", 0, false}}) {
        SCOPED_TRACE(c.target);
        root->Documents().copyCalls = 0;
        std::filesystem::remove(dir.File("out/saved.trj"));
        CfxComPtr<host::Model3dDocument> document = Model();
        document->SetURL(source);
        CfxComPtr<ISBStream> stream;
        if (c.target.empty()) stream = host::CreateMemoryStream();
        else ASSERT_EQ(host::CreateFileStream(c.target, host::FileMode::Write, stream.Out()), S_OK);
        EXPECT_EQ(Export(kXTD, stream.Get(), Root(document)), S_OK) << Cfx::GetLastError().description;
        stream.Reset();
        EXPECT_EQ(root->Documents().copyCalls, c.copyCalls);
        if (c.copyCalls) {
            EXPECT_EQ(root->Documents().copyTarget, c.target);
            EXPECT_EQ(root->Documents().copyFlags, 128);
        }
        EXPECT_EQ(std::filesystem::exists(dir.File("out/saved.trj")), c.copied);
        if (c.copied) {
            EXPECT_EQ(cvtest::TempDir::Slurp(dir.File("out/saved.trj")), "frames");
        }
    }
    // A structure export copies nothing, even to a file.
    root->Documents().copyCalls = 0;
    CfxComPtr<host::Model3dDocument> document = Model();
    document->SetURL(source);
    CfxComPtr<ISBStream> stream;
    ASSERT_EQ(host::CreateFileStream(dir.File("out/structure.xsd"), host::FileMode::Write, stream.Out()), S_OK);
    EXPECT_EQ(Export(kXSD, stream.Get(), Root(document)), S_OK);
    EXPECT_EQ(root->Documents().copyCalls, 0);
}

}  // namespace
}  // namespace cartovane
