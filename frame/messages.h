// Message identifiers: readers and writers report these; the host asks for their texts.
#pragma once

#include <cstdint>

namespace cartovane::msg {

inline constexpr std::int32_t IMPORT_FAIL = 201;
inline constexpr std::int32_t EXPORT_FAIL = 202;
inline constexpr std::int32_t CARSAVE = 400;
inline constexpr std::int32_t CARSAVE_NO_CELL_INFO = 401;
inline constexpr std::int32_t CARSAVE_WRONG_CELL_INFO = 402;
inline constexpr std::int32_t CARSAVE_WRONG_CELL_DIM = 403;
inline constexpr std::int32_t CARSAVE_CAR_TITLE = 404;
inline constexpr std::int32_t CARSAVE_CAR_PBC = 405;
inline constexpr std::int32_t CARSAVE_NO_MOLE = 406;
inline constexpr std::int32_t CARSAVE_CAR_ATOM = 407;
inline constexpr std::int32_t CARSAVE_MDF_FILE = 408;
inline constexpr std::int32_t CARSAVE_MDF_TITLE = 409;
inline constexpr std::int32_t CARSAVE_MDF_COLUMN = 410;
inline constexpr std::int32_t CARSAVE_MDF_ATOM = 411;
inline constexpr std::int32_t CARSAVE_MDF_SYM = 412;
inline constexpr std::int32_t CARSAVE_MDF_ATOMSET = 413;
inline constexpr std::int32_t CARLOAD = 450;
inline constexpr std::int32_t CARLOAD_MDF_FILE = 451;
inline constexpr std::int32_t CARLOAD_CAR_FORMAT = 452;
inline constexpr std::int32_t CARLOAD_MDF_FORMAT = 453;
inline constexpr std::int32_t CARLOAD_MDF_TOPLG = 454;
inline constexpr std::int32_t CARLOAD_MDF_SYM = 455;
inline constexpr std::int32_t CARLOAD_MDF_ATOMSET = 456;
inline constexpr std::int32_t CARLOAD_MDF_FILEOPEN = 457;
inline constexpr std::int32_t CARLOAD_SYM_BUILD = 458;
inline constexpr std::int32_t CARLOAD_MDF_COLUMN = 459;
inline constexpr std::int32_t CARLOAD_MDF_ATOMREC = 460;
inline constexpr std::int32_t CARLOAD_MDF_ATOM_ECLINE = 461;
inline constexpr std::int32_t CARLOAD_MDF_ATOM_NOLINE = 462;
inline constexpr std::int32_t CARLOAD_MDF_ATOM_ENTRY = 463;
inline constexpr std::int32_t CARLOAD_FILE_STREAM = 464;
inline constexpr std::int32_t CARLOAD_NUMBER_ATOMS = 465;
inline constexpr std::int32_t CARFILE_EMPTY = 466;
inline constexpr std::int32_t CARLOAD_MDF_SUBUNIT_NAMES = 467;
inline constexpr std::int32_t QORLOAD_UNKEOF = 501;
inline constexpr std::int32_t QORLOAD_BADVERS = 502;
inline constexpr std::int32_t QORLOAD_NOHEADER = 503;
inline constexpr std::int32_t QORLOAD_BAD3D = 504;
inline constexpr std::int32_t QORLOAD_BAD2D = 505;
inline constexpr std::int32_t QORLOAD_REPSYMAT = 506;
inline constexpr std::int32_t QORLOAD_REPTRNAT = 507;
inline constexpr std::int32_t QORLOAD_REPSYMBND = 508;
inline constexpr std::int32_t QORLOAD_ATOMAT = 509;
inline constexpr std::int32_t QORLOAD_BONDAT = 510;
inline constexpr std::int32_t QORLOAD_MODELAT = 511;
inline constexpr std::int32_t QORLOAD_LINKAT = 512;
inline constexpr std::int32_t QORLOAD_SURFOBJ = 513;
inline constexpr std::int32_t QORLOAD_SURFVRT = 514;
inline constexpr std::int32_t QORLOAD_SURFNRM = 515;
inline constexpr std::int32_t QORLOAD_SURFNRM2 = 516;
inline constexpr std::int32_t QORLOAD_SURFTRI = 517;
inline constexpr std::int32_t QORLOAD_SURFTRI2 = 518;
inline constexpr std::int32_t QORLOAD_SURFTRI3 = 519;
inline constexpr std::int32_t QORLOAD_SURFTRI4 = 520;
inline constexpr std::int32_t QORLOAD_SURFPLN = 521;
inline constexpr std::int32_t QORLOAD_SUBUAT = 522;
inline constexpr std::int32_t QORLOAD_SYMMAT = 523;
inline constexpr std::int32_t QORLOAD_SYMOPAT = 524;
inline constexpr std::int32_t QORLOAD_DUMMAT = 525;
inline constexpr std::int32_t QORLOAD_SURFAT = 527;
inline constexpr std::int32_t QORFILE_EMPTY = 528;
inline constexpr std::int32_t QORLOAD_ADVICE = 599;
inline constexpr std::int32_t ARCLOAD_DATE = 600;
inline constexpr std::int32_t DPDXYZLOAD_LOADERROR = 615;

}  // namespace cartovane::msg

namespace cartovane {

// The text of a message identifier, or null when it has none.
const char* MessageText(std::int32_t id) noexcept;

}  // namespace cartovane
