// The host's diagnostics: components post warnings and errors on named connections; the
// container root's manager keeps them and hands them to whoever shows them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "com/object.h"
#include "host/interfaces.h"

inline constexpr IID IID_ISBDiagnosticsConnection = com::MakeGuid("{887E4C88-D840-4056-A01D-1E616FE0D673}");
inline constexpr IID IID_ISBDiagnosticsManager = com::MakeGuid("{887E4C89-D840-4056-A01D-1E616FE0D673}");

// Severities as components pass them.
enum : LONG { SB_DIAG_INFORMATION = 0, SB_DIAG_NOTE = 1, SB_DIAG_WARNING = 2, SB_DIAG_ERROR = 3 };

struct ISBDiagnosticsConnection : IUnknown {
    virtual HRESULT PostMessage(LONG severity, BSTR text) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;

protected:
    ~ISBDiagnosticsConnection() = default;
};
CV_DECLARE_IID(ISBDiagnosticsConnection, IID_ISBDiagnosticsConnection);

struct ISBDiagnosticsManager : IUnknown {
    // A connection whose messages carry source as their origin.
    virtual HRESULT GetConnection(BSTR source, ISBDiagnosticsConnection** connection) = 0;

protected:
    ~ISBDiagnosticsManager() = default;
};
CV_DECLARE_IID(ISBDiagnosticsManager, IID_ISBDiagnosticsManager);

namespace host {

struct DiagnosticMessage {
    std::string source;
    LONG severity;
    std::string text;
};

// The manager the container root hands out: keeps every message in posting order and passes
// each to an optional listener as it arrives.
class DiagnosticsManager final : public com::ComObject<ISBDiagnosticsManager> {
public:
    using Listener = std::function<void(const DiagnosticMessage&)>;
    static CfxComPtr<DiagnosticsManager> Create();

    HRESULT GetConnection(BSTR source, ISBDiagnosticsConnection** connection) override;

    void SetListener(Listener listener) { listener_ = std::move(listener); }
    const std::vector<DiagnosticMessage>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }
    void Post(DiagnosticMessage message);

private:
    DiagnosticsManager() = default;
    std::vector<DiagnosticMessage> messages_;
    Listener listener_;
};

}  // namespace host
