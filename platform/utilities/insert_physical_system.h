// The base of the insertion components: imports a file through another component into a
// scratch document of the target's class, then moves the content into the target document.
#pragma once

#include <string>

#include "cfx/ccfx.h"
#include "host/documents.h"
#include "host/interfaces.h"

class InsertPhysicalSystemImport : public CCfxUnknown,
                                   public ISupportErrorInfo,
                                   public ISBImporter,
                                   public CSBContainerRootConsumerImpl {
public:
    HRESULT QueryInterface(REFIID iid, void** out) override { return ControllingUnknown()->QueryInterface(iid, out); }
    ULONG AddRef() override { return ControllingUnknown()->AddRef(); }
    ULONG Release() override { return ControllingUnknown()->Release(); }

    HRESULT DelegatedQueryInterface(REFIID iid, void** out) override;
    HRESULT FinalConstruct() override { return S_OK; }
    void FinalRelease() override {}
    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

    HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) override;

    // The version-independent ProgID of the component that reads the source.
    virtual std::string GetImporterProgID() const = 0;

protected:
    // Failures are reported with the reading component's class identifier.
    explicit InsertPhysicalSystemImport(const CLSID& reportingClass) : reportingClass_(reportingClass) {}

private:
    CLSID reportingClass_;
};
