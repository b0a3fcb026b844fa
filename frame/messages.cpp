#include "frame/messages.h"

#include <algorithm>
#include <iterator>


namespace {

struct Message {
    std::int32_t id;
    const char* text;
};

// Constant and sorted by identifier: nothing to build, nothing to fail, never seen half-filled.
constexpr Message kMessages[] = {
    {cartovane::msg::IMPORT_FAIL, "%s file import failure."},
    {cartovane::msg::EXPORT_FAIL, "%s file export failure."},
    {cartovane::msg::CARSAVE, "Car/Mdf File Writer: errors in writing the file."},
    {cartovane::msg::CARSAVE_NO_CELL_INFO, "Car/Mdf File Writer Error: no  PBC cell in the system."},
    {cartovane::msg::CARSAVE_WRONG_CELL_INFO, "Car/Mdf File Writer Error: only one symmetry system could be exported into one car/mdf file."},
    {cartovane::msg::CARSAVE_WRONG_CELL_DIM, "Car/Mdf File Writer Error: only three and two dimensional periodic systems could be exported."},
    {cartovane::msg::CARSAVE_CAR_TITLE, "Car/Mdf File Writer Error: failed in writing out the CAR file title."},
    {cartovane::msg::CARSAVE_CAR_PBC, "Car/Mdf File Writer Error: failed in retrieving and writing the PBC cell information."},
    {cartovane::msg::CARSAVE_NO_MOLE, "Car/Mdf File Writer Error: there is no molecule in the system."},
    {cartovane::msg::CARSAVE_CAR_ATOM, "Car/Mdf File Writer Error: failed in writing out CAR file atom information."},
    {cartovane::msg::CARSAVE_MDF_FILE, "Car/Mdf File Writer Error: can't create the corresponding .mdf file name using input .car name."},
    {cartovane::msg::CARSAVE_MDF_TITLE, "Car/Mdf File Writer Error: failed in writing out the MDF file title and date."},
    {cartovane::msg::CARSAVE_MDF_COLUMN, "Car/Mdf File Writer Error: failed in writing out the @column."},
    {cartovane::msg::CARSAVE_MDF_ATOM, "Car/Mdf File Writer Error: failed in writing atom information into the MDF file."},
    {cartovane::msg::CARSAVE_MDF_SYM, "Car/Mdf File Writer Error: failed in writing symmetry information into the MDF file."},
    {cartovane::msg::CARSAVE_MDF_ATOMSET, "Car/Mdf File Writer Error: failed in writing out the AtomSet information into the MDF file."},
    {cartovane::msg::CARLOAD, "Car/Mdf File Loader Errors."},
    {cartovane::msg::CARLOAD_MDF_FILE, "Car/Mdf File Loader Error: the file name is in-correct, need to end with .car."},
    {cartovane::msg::CARLOAD_CAR_FORMAT, "Car/Mdf File Loader Error: Car file is not in archive format 2 or 3."},
    {cartovane::msg::CARLOAD_MDF_FORMAT, "Car/Mdf File Loader Error: not a MDF type 3 or 4 file."},
    {cartovane::msg::CARLOAD_MDF_TOPLG, "Car/Mdf File Loader Error: failed in reading MDF Topology Section."},
    {cartovane::msg::CARLOAD_MDF_SYM, "Car/Mdf File Loader Error: failed in reading the MDF Symmetry section."},
    {cartovane::msg::CARLOAD_MDF_ATOMSET, "Car/Mdf File Loader Error: failed in reading the MDF AtomSet setction."},
    {cartovane::msg::CARLOAD_MDF_FILEOPEN, "Car/Mdf File Loader Error: could not open the MDF file, please make sure the file exists."},
    {cartovane::msg::CARLOAD_SYM_BUILD, "Car/Mdf File Loader Error: failed to build the symmetry system with PBC."},
    {cartovane::msg::CARLOAD_MDF_COLUMN, "Car/Mdf File Loader Error: failed in reading the @COLUMN section."},
    {cartovane::msg::CARLOAD_MDF_ATOMREC, "Car/Mdf File Loader Error: failed in reading the atoms in MDF file, please check the format of this section."},
    {cartovane::msg::CARLOAD_MDF_ATOM_ECLINE, "Car/Mdf File Loader Error: blank or comment line in MDF atom records. "},
    {cartovane::msg::CARLOAD_MDF_ATOM_NOLINE, "Car/Mdf File Loader Warning: no blank line after the @molecule."},
    {cartovane::msg::CARLOAD_MDF_ATOM_ENTRY, "Car/Mdf File Loader Error: failed in reading the atom records in MDF file."},
    {cartovane::msg::CARLOAD_FILE_STREAM, "Car/Mdf File Loader Error: cannot load this format through a URL."},
    {cartovane::msg::CARLOAD_NUMBER_ATOMS, "Car/Mdf File Loader Error: car and mdf files have different number of atoms."},
    {cartovane::msg::CARFILE_EMPTY, "The selected CAR file is empty"},
    {cartovane::msg::CARLOAD_MDF_SUBUNIT_NAMES, "Car/Mdf File Loader Error: Residue names in MDF file do not match those in CAR file."},
    {cartovane::msg::QORLOAD_UNKEOF, "QOR File Loader Error: Encountered unexpected end of file."},
    {cartovane::msg::QORLOAD_BADVERS, "QOR File Loader Error: Can not import version 1 qor files. \nPlease re-create using a newer version of Dravik4."},
    {cartovane::msg::QORLOAD_NOHEADER, "QOR File Loader Error: No valid header found in specified input file."},
    {cartovane::msg::QORLOAD_BAD3D, "QOR Dile Loader Error: Problem constructing 3D symmetry system"},
    {cartovane::msg::QORLOAD_BAD2D, "QOR File Loader Error: Problem constructing 2D symmetry system"},
    {cartovane::msg::QORLOAD_REPSYMAT, "QOR File Loader Error: Problem replicating symmetry atoms"},
    {cartovane::msg::QORLOAD_REPTRNAT, "QOR File Loader Error: Problem replicating translational atoms"},
    {cartovane::msg::QORLOAD_REPSYMBND, "QOR File Loader Error: Problem replicating symmetry bonds"},
    {cartovane::msg::QORLOAD_ATOMAT, "QOR File Loader Error: Unexpected end of file reading Atom Attributes"},
    {cartovane::msg::QORLOAD_BONDAT, "QOR File Loader Error: Unexpected end of file reading Bond Attributes"},
    {cartovane::msg::QORLOAD_MODELAT, "QOR File Loader Error: Unexpected end of file reading Model Attributes"},
    {cartovane::msg::QORLOAD_LINKAT, "QOR File Loader Error: Unexpected end of file reading Linkage Attributes"},
    {cartovane::msg::QORLOAD_SURFOBJ, "QOR File Loader Error: Unexpected object encountered inside Surface object."},
    {cartovane::msg::QORLOAD_SURFVRT, "QOR File Loader Error: Verticies not in triplets or have bad format inside Surface object."},
    {cartovane::msg::QORLOAD_SURFNRM, "QOR File Loader Error: Too few normals  inside Surface object."},
    {cartovane::msg::QORLOAD_SURFNRM2, "QOR File Loader Error: Normals not in triplets or have bad format inside Surface object."},
    {cartovane::msg::QORLOAD_SURFTRI, "QOR File Loader Error: Triangle index not in triplets or have bad format inside Surface object."},
    {cartovane::msg::QORLOAD_SURFTRI2, "QOR File Loader Error: Triangle Index value does not relate to Triangle Vertex (out of bounds), error inside Surface object."},
    {cartovane::msg::QORLOAD_SURFTRI3, "QOR File Loader Error: Too few Color items in color-list, error inside Surface object."},
    {cartovane::msg::QORLOAD_SURFTRI4, "QOR File Loader Error: Color item in color-list bad format, error inside Surface object."},
    {cartovane::msg::QORLOAD_SURFPLN, "QOR File Loader Error: Plane-Normals not in triplets or have bad format inside Surface object."},
    {cartovane::msg::QORLOAD_SUBUAT, "QOR File Loader Error: Unexpected end of file reading Subunit Attributes."},
    {cartovane::msg::QORLOAD_SYMMAT, "QOR File Loader Error: Unexpected end of file reading Symmetry Attributes."},
    {cartovane::msg::QORLOAD_SYMOPAT, "QOR File Loader Error: Unexpected end of file reading Symmetry Operator Attributes."},
    {cartovane::msg::QORLOAD_DUMMAT, "QOR File Loader Error: Unexpected end of file reading Dummay Atom Attributes."},
    {cartovane::msg::QORLOAD_SURFAT, "QOR File Loader Error: Unexpected end of file reading Isosurface Attributes"},
    {cartovane::msg::QORFILE_EMPTY, "The selected QOR file is empty"},
    {cartovane::msg::QORLOAD_ADVICE, "Check your input file or contact technical support."},
    {cartovane::msg::ARCLOAD_DATE, "Unknown format encountered while trying to read date & time stamp from ARC file"},
    {cartovane::msg::DPDXYZLOAD_LOADERROR, "DPDXyz File Loader Error: Cannot import file. Probably due to read errors or file format errors."},
};

static_assert(std::is_sorted(std::begin(kMessages), std::end(kMessages),
                             [](const Message& a, const Message& b) { return a.id < b.id; }));

}  // namespace

const char* cartovane::MessageText(std::int32_t id) noexcept {
    const Message* it = std::lower_bound(std::begin(kMessages), std::end(kMessages), id,
                                         [](const Message& m, std::int32_t key) { return m.id < key; });
    return (it != std::end(kMessages) && it->id == id) ? it->text : nullptr;
}
