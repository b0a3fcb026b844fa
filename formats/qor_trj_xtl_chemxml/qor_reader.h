// The QOR reader: a QOR model file from any standard stream into the data-model tree under a
// target object, its cross-references (bonds, charge groups, fixed atoms) resolved after the
// last line.
#pragma once

#include <istream>
#include <string>
#include <string_view>

#include "com/types.h"
#include "datamodel/graphics.h"
#include "utilities/load.h"

class xxLoadQOR : public xxLoad {
public:
    xxBool IsFileExtension(std::string extension) const override { return extension == "qor"; }
    std::string GetFileExtension() const override { return "qor"; }
    std::string GetFileFilter() const override { return "Dravik4 Files (*.qor) |*.qor|"; }
    // True when the first line (after a byte-order mark) begins with the header's prefix; the
    // stream is left where it was.
    xxBool IsLoadable(std::istream& in) const override;
    // Format errors are reported with their message identifier (CfxReportError, E_UNEXPECTED,
    // the QOR component's class) and returned; a value the data model refuses throws its
    // Cfx::CfxResult with the line number added. Warnings (dummy conversions, bonds that
    // cannot be made) go to the warning message, each text once. name names repeat units
    // that have no name of their own; "xxx" when empty.
    HRESULT LoadObjectFromStreamHR(std::istream& in, xxObject* target, std::string name) override;

    // The colour of a legacy colour index (the text as atoi reads it): 0 when it is 1 to 16 and
    // the colour was set (opaque), else 1 with the colour unchanged.
    static int LegacyColorIndex(std::string_view text, xxColor& color);
};
