// Class identifiers of the library's 31 components and its type library.
#pragma once

#include "com/types.h"

namespace cartovane {

inline constexpr GUID LIBID_SDCartovane = com::MakeGuid("{9245E386-3F5E-67B0-7741-95B15E6E14E4}");

inline constexpr CLSID CLSID_QORImportExport = com::MakeGuid("{9245E388-3F5E-67B0-7741-95B15E6E14E4}");
inline constexpr CLSID CLSID_HistImportExport = com::MakeGuid("{9245E38B-3F5E-67B0-7741-95B15E6E14E4}");
inline constexpr CLSID CLSID_ARCImportExport = com::MakeGuid("{9245E38A-3F5E-67B0-7741-95B15E6E14E4}");
inline constexpr CLSID CLSID_CARImportExport = com::MakeGuid("{9245E389-3F5E-67B0-7741-95B15E6E14E4}");
inline constexpr CLSID CLSID_XTLImportExport = com::MakeGuid("{C95EDC22-7269-4F39-A932-6258839AF8A5}");
inline constexpr CLSID CLSID_TRJImportExport = com::MakeGuid("{9245E390-3F5E-67B0-7741-95B15E6E14E4}");
inline constexpr CLSID CLSID_XSDImportExport = com::MakeGuid("{9245E38D-3F5E-67B0-7741-95B15E6E14E4}");
inline constexpr CLSID CLSID_XTDImportExport = com::MakeGuid("{9245E38E-3F5E-67B0-7741-95B15E6E14E4}");
inline constexpr CLSID CLSID_XODImportExport = com::MakeGuid("{65EB42D1-EC6E-489B-9C2F-D8D256A91511}");
inline constexpr CLSID CLSID_MSDImportExport = com::MakeGuid("{2D8D3B51-B717-11D5-A05A-009027425E6B}");
inline constexpr CLSID CLSID_MTDImportExport = com::MakeGuid("{E17C5D12-7107-428F-AF86-324CC61C9F85}");
inline constexpr CLSID CLSID_GSDImportExport = com::MakeGuid("{E4DC0D46-0FC5-4942-9CB8-4CCCAD1412A8}");
inline constexpr CLSID CLSID_PeriodicTableImportExport = com::MakeGuid("{9245E38F-3F5E-67B0-7741-95B15E6E14E4}");
inline constexpr CLSID CLSID_BeadTypesImportExport = com::MakeGuid("{A6325379-6911-4543-9FC7-9951263EB9BC}");
inline constexpr CLSID CLSID_BinaryImportExport = com::MakeGuid("{77E7CDB0-0371-11D5-814E-0050048794DE}");
inline constexpr CLSID CLSID_ChemistryXMLImportExport = com::MakeGuid("{79921210-6978-11D6-9603-00D0B72E0719}");
inline constexpr CLSID CLSID_XSDToXODImport = com::MakeGuid("{5CE3F03A-1A3B-4150-AEDC-56F133113D03}");
inline constexpr CLSID CLSID_QORToXODImport = com::MakeGuid("{9240B04C-612D-434C-80D0-B97C2DC4F0BB}");
inline constexpr CLSID CLSID_CARToXODImport = com::MakeGuid("{7093786A-C822-4DE3-AA2B-CD4B60BCCFCF}");
inline constexpr CLSID CLSID_XTLToXODImport = com::MakeGuid("{D5CDDC9E-16DA-4981-83C0-91528C40B8EF}");
inline constexpr CLSID CLSID_ChemistryXMLToXODImport = com::MakeGuid("{EB67CBE0-B484-4FF3-A77E-1BEF0A60BF60}");
inline constexpr CLSID CLSID_PlurionCollImpExp = com::MakeGuid("{B9A29DE2-0F14-4864-B951-88A0FAE7B38E}");
inline constexpr CLSID CLSID_DPDDenImpExp = com::MakeGuid("{E2419AEA-FE86-4C06-8920-F6EF6EB30262}");
inline constexpr CLSID CLSID_DPDXyzImpExp = com::MakeGuid("{A55B160A-0D96-4861-BDB0-FCD6BB8B0CE2}");
inline constexpr CLSID CLSID_DPDParImpExp = com::MakeGuid("{C5470C32-A23D-45B8-817D-A814F926969B}");
inline constexpr CLSID CLSID_PlurionParImpExp = com::MakeGuid("{9F4DD8B7-C28D-4E3B-AD41-BEF1CD02D68D}");
inline constexpr CLSID CLSID_PlurionMaskImpExp = com::MakeGuid("{1A64C2B9-3129-4580-B76D-EF906E47E07B}");
inline constexpr CLSID CLSID_GranvexImpExp = com::MakeGuid("{63C8BCC8-6047-4390-BE45-BC4A58D515E7}");
inline constexpr CLSID CLSID_MSDToXSDExport = com::MakeGuid("{26A7AC28-50DB-4027-BF7E-EDF2945237BB}");
inline constexpr CLSID CLSID_MTDToXTDExport = com::MakeGuid("{7D307D58-B87D-4D65-B83A-0BB7D9695D2D}");
inline constexpr CLSID CLSID_XSDToMSDExport = com::MakeGuid("{DAB0898A-A76D-4155-BF34-828C46FD8174}");

}  // namespace cartovane
