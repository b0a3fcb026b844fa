// The XML document components (XSD, XTD, XOD, MSD, MTD, GSD), their shared base and the XSD
// insertion component.
#pragma once

#include <string>

#include "frame/clsids.h"
#include "frame/component_frame.h"
#include "utilities/insert_physical_system.h"

class xxSymmetrySystem;
class xxTrajectory;

namespace cartovane {

// Reads and writes host documents as XML documents and settles their trajectories: an import
// gives a trajectory document a default trajectory or takes the trajectories out of a
// structure document's scope; an export of one of the host's 3-D document classes is handed to
// a copy of the document that exports itself through the XSD component; an export of a
// trajectory document copies the trajectory files beside the saved file. Failures report with
// the XSD component's class identifier, whichever component calls.
class XSDBaseImportExport : public ConnectedImporterExporterFrame {
public:
    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;
    HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;

    static xxSymmetrySystem* FindMatterSymmetrySystem(const xxTreeRoot& tree);
    // The first trajectory child; else one inside the matter symmetry system, when there is
    // one, else the first trajectory anywhere below the root.
    static xxTrajectory* FindTrajectory(const xxTreeRoot& tree);
    static bool HasValidTrajectory(const xxTreeRoot& tree);
    // True only while an export is handed to a document copy.
    static bool HandOffInProgress();

protected:
    XSDBaseImportExport() = default;

    void EnsureDefaultTrajectory(xxTreeRoot& tree);
    void ScopeTrajectoryFiles(ISBDocumentRoot* document);
    CfxComPtr<ISBDocumentRoot> CreateTargetDocument(REFCLSID documentClass, ISBDocumentRoot* source);
    void CopyDependentTrajectoryFiles(const xxTreeRoot& tree, const std::string& targetPath);

    bool trajectoryDocument_ = false;

private:
    HRESULT HandOff(REFCLSID documentClass, ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args);
};

enum class TrajectoryFlag { Clear, Set, Untouched };

// Creates and releases the host's own import component ("SDCartovane.SDImport") when the host
// registers one; nothing of it can fail the import.
void PreCreateSDImport();

// One XML document component: its class identifier, the flag it writes before every call, and
// the prefix of its import failures.
template <const CLSID& Clsid, TrajectoryFlag Flag, const char* Prefix>
class XmlDocumentComponent final : public XSDBaseImportExport {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<XmlDocumentComponent>(out); }

    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override {
        return Cfx::Guarded(Clsid, IID_ISBImporter, [&]() -> HRESULT {
            Cfx::WithinPrefixedLevels(Prefix, [&] {
                if (!root) throw E_INVALIDARG;
                if (Clsid == CLSID_XTDImportExport) PreCreateSDImport();
                WriteFlag();
                Finish(XSDBaseImportExport::Import(stream, root, args));
            });
            return S_OK;
        });
    }
    HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override {
        return Cfx::Guarded(Clsid, IID_ISBExporter, [&]() -> HRESULT {
            if (!root) throw E_INVALIDARG;
            WriteFlag();
            Finish(XSDBaseImportExport::Export(stream, root, args));
            return S_OK;
        });
    }

    bool TrajectoryDocument() const { return trajectoryDocument_; }

private:
    void WriteFlag() {
        if constexpr (Flag != TrajectoryFlag::Untouched) trajectoryDocument_ = Flag == TrajectoryFlag::Set;
    }
    // The base's failure, with the description it recorded, thrown again.
    static void Finish(HRESULT hr) {
        if (hr != S_OK) Cfx::SetLastError(hr);
        if (!FAILED(hr)) return;
        if constexpr (Flag == TrajectoryFlag::Untouched) Cfx::CfxResult::LastErrorCheckNotS_OK(hr);
        else Cfx::CfxResult::LastError();
    }
};

inline constexpr char kXSDPrefix[] = "Unable to process XSD content";
inline constexpr char kXTDPrefix[] = "Unable to process XTD content";
inline constexpr char kXODPrefix[] = "Unable to process XOD content";
inline constexpr char kMSDPrefix[] = "Unable to process MSD content";
inline constexpr char kMTDPrefix[] = "Unable to process MTD content";
inline constexpr char kGSDPrefix[] = "Unable to process GSD content";

using XSDImportExport = XmlDocumentComponent<CLSID_XSDImportExport, TrajectoryFlag::Clear, kXSDPrefix>;
using XTDImportExport = XmlDocumentComponent<CLSID_XTDImportExport, TrajectoryFlag::Set, kXTDPrefix>;
using XODImportExport = XmlDocumentComponent<CLSID_XODImportExport, TrajectoryFlag::Untouched, kXODPrefix>;
using MSDImportExport = XmlDocumentComponent<CLSID_MSDImportExport, TrajectoryFlag::Clear, kMSDPrefix>;
using MTDImportExport = XmlDocumentComponent<CLSID_MTDImportExport, TrajectoryFlag::Set, kMTDPrefix>;
using GSDImportExport = XmlDocumentComponent<CLSID_GSDImportExport, TrajectoryFlag::Clear, kGSDPrefix>;

class XSDToXODImport final : public InsertPhysicalSystemImport {
public:
    static HRESULT CreateInstance(CCfxUnknown** out) { return CreateOnHeap<XSDToXODImport>(out); }
    XSDToXODImport() : InsertPhysicalSystemImport(CLSID_XSDImportExport) {}
    std::string GetImporterProgID() const override { return "SDCartovane.XSDImportExport"; }
};

}  // namespace cartovane
