// The periodic table: symbols, names, standard atomic weights and covalent radii.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "datamodel/isotopes.h"

struct xxElement {
    int number;                  // atomic number; 0 is the unknown element
    std::string_view symbol;
    std::string_view name;
    double mass;                 // standard atomic weight (u); mass number of the longest-lived
                                 // isotope for elements without a standard weight
    double covalentRadius;       // single-bond covalent radius (Angstrom)

    double GetAtomicWeight() const noexcept { return mass; }
    // The element's isotopes as the process's periodic table has them, by mass number: those of
    // kIsotopeTable until an imported table gives the element its own.
    std::span<const xxIsotope> Isotopes() const noexcept;
    // The isotope of that mass number; null when the table has none.
    const xxIsotope* FindIsotope(int massNumber) const noexcept;
    bool HasIsotope(int massNumber) const noexcept { return FindIsotope(massNumber) != nullptr; }
};

// Masses: IUPAC standard atomic weights (conventional values where IUPAC gives an interval).
// Radii: Cordero et al. (2008) for Z <= 96 (sp3 carbon, low-spin Mn/Fe/Co), Pyykko and Atsumi
// (2009) single-bond radii beyond.
inline constexpr std::array<xxElement, 119> kElementTable{{
    {0, "Xx", "Unknown", 0.0, 0.0},
    {1, "H", "Hydrogen", 1.008, 0.31},
    {2, "He", "Helium", 4.002602, 0.28},
    {3, "Li", "Lithium", 6.94, 1.28},
    {4, "Be", "Beryllium", 9.0121831, 0.96},
    {5, "B", "Boron", 10.81, 0.84},
    {6, "C", "Carbon", 12.011, 0.76},
    {7, "N", "Nitrogen", 14.007, 0.71},
    {8, "O", "Oxygen", 15.999, 0.66},
    {9, "F", "Fluorine", 18.998403163, 0.57},
    {10, "Ne", "Neon", 20.1797, 0.58},
    {11, "Na", "Sodium", 22.98976928, 1.66},
    {12, "Mg", "Magnesium", 24.305, 1.41},
    {13, "Al", "Aluminium", 26.9815385, 1.21},
    {14, "Si", "Silicon", 28.085, 1.11},
    {15, "P", "Phosphorus", 30.973761998, 1.07},
    {16, "S", "Sulfur", 32.06, 1.05},
    {17, "Cl", "Chlorine", 35.45, 1.02},
    {18, "Ar", "Argon", 39.948, 1.06},
    {19, "K", "Potassium", 39.0983, 2.03},
    {20, "Ca", "Calcium", 40.078, 1.76},
    {21, "Sc", "Scandium", 44.955908, 1.70},
    {22, "Ti", "Titanium", 47.867, 1.60},
    {23, "V", "Vanadium", 50.9415, 1.53},
    {24, "Cr", "Chromium", 51.9961, 1.39},
    {25, "Mn", "Manganese", 54.938044, 1.39},
    {26, "Fe", "Iron", 55.845, 1.32},
    {27, "Co", "Cobalt", 58.933194, 1.26},
    {28, "Ni", "Nickel", 58.6934, 1.24},
    {29, "Cu", "Copper", 63.546, 1.32},
    {30, "Zn", "Zinc", 65.38, 1.22},
    {31, "Ga", "Gallium", 69.723, 1.22},
    {32, "Ge", "Germanium", 72.630, 1.20},
    {33, "As", "Arsenic", 74.921595, 1.19},
    {34, "Se", "Selenium", 78.971, 1.20},
    {35, "Br", "Bromine", 79.904, 1.20},
    {36, "Kr", "Krypton", 83.798, 1.16},
    {37, "Rb", "Rubidium", 85.4678, 2.20},
    {38, "Sr", "Strontium", 87.62, 1.95},
    {39, "Y", "Yttrium", 88.90584, 1.90},
    {40, "Zr", "Zirconium", 91.224, 1.75},
    {41, "Nb", "Niobium", 92.90637, 1.64},
    {42, "Mo", "Molybdenum", 95.95, 1.54},
    {43, "Tc", "Technetium", 98.0, 1.47},
    {44, "Ru", "Ruthenium", 101.07, 1.46},
    {45, "Rh", "Rhodium", 102.90550, 1.42},
    {46, "Pd", "Palladium", 106.42, 1.39},
    {47, "Ag", "Silver", 107.8682, 1.45},
    {48, "Cd", "Cadmium", 112.414, 1.44},
    {49, "In", "Indium", 114.818, 1.42},
    {50, "Sn", "Tin", 118.710, 1.39},
    {51, "Sb", "Antimony", 121.760, 1.39},
    {52, "Te", "Tellurium", 127.60, 1.38},
    {53, "I", "Iodine", 126.90447, 1.39},
    {54, "Xe", "Xenon", 131.293, 1.40},
    {55, "Cs", "Caesium", 132.90545196, 2.44},
    {56, "Ba", "Barium", 137.327, 2.15},
    {57, "La", "Lanthanum", 138.90547, 2.07},
    {58, "Ce", "Cerium", 140.116, 2.04},
    {59, "Pr", "Praseodymium", 140.90766, 2.03},
    {60, "Nd", "Neodymium", 144.242, 2.01},
    {61, "Pm", "Promethium", 145.0, 1.99},
    {62, "Sm", "Samarium", 150.36, 1.98},
    {63, "Eu", "Europium", 151.964, 1.98},
    {64, "Gd", "Gadolinium", 157.25, 1.96},
    {65, "Tb", "Terbium", 158.92535, 1.94},
    {66, "Dy", "Dysprosium", 162.500, 1.92},
    {67, "Ho", "Holmium", 164.93033, 1.92},
    {68, "Er", "Erbium", 167.259, 1.89},
    {69, "Tm", "Thulium", 168.93422, 1.90},
    {70, "Yb", "Ytterbium", 173.045, 1.87},
    {71, "Lu", "Lutetium", 174.9668, 1.87},
    {72, "Hf", "Hafnium", 178.49, 1.75},
    {73, "Ta", "Tantalum", 180.94788, 1.70},
    {74, "W", "Tungsten", 183.84, 1.62},
    {75, "Re", "Rhenium", 186.207, 1.51},
    {76, "Os", "Osmium", 190.23, 1.44},
    {77, "Ir", "Iridium", 192.217, 1.41},
    {78, "Pt", "Platinum", 195.084, 1.36},
    {79, "Au", "Gold", 196.966569, 1.36},
    {80, "Hg", "Mercury", 200.592, 1.32},
    {81, "Tl", "Thallium", 204.38, 1.45},
    {82, "Pb", "Lead", 207.2, 1.46},
    {83, "Bi", "Bismuth", 208.98040, 1.48},
    {84, "Po", "Polonium", 209.0, 1.40},
    {85, "At", "Astatine", 210.0, 1.50},
    {86, "Rn", "Radon", 222.0, 1.50},
    {87, "Fr", "Francium", 223.0, 2.60},
    {88, "Ra", "Radium", 226.0, 2.21},
    {89, "Ac", "Actinium", 227.0, 2.15},
    {90, "Th", "Thorium", 232.0377, 2.06},
    {91, "Pa", "Protactinium", 231.03588, 2.00},
    {92, "U", "Uranium", 238.02891, 1.96},
    {93, "Np", "Neptunium", 237.0, 1.90},
    {94, "Pu", "Plutonium", 244.0, 1.87},
    {95, "Am", "Americium", 243.0, 1.80},
    {96, "Cm", "Curium", 247.0, 1.69},
    {97, "Bk", "Berkelium", 247.0, 1.68},
    {98, "Cf", "Californium", 251.0, 1.68},
    {99, "Es", "Einsteinium", 252.0, 1.65},
    {100, "Fm", "Fermium", 257.0, 1.67},
    {101, "Md", "Mendelevium", 258.0, 1.73},
    {102, "No", "Nobelium", 259.0, 1.76},
    {103, "Lr", "Lawrencium", 266.0, 1.61},
    {104, "Rf", "Rutherfordium", 267.0, 1.57},
    {105, "Db", "Dubnium", 268.0, 1.49},
    {106, "Sg", "Seaborgium", 269.0, 1.43},
    {107, "Bh", "Bohrium", 270.0, 1.41},
    {108, "Hs", "Hassium", 269.0, 1.34},
    {109, "Mt", "Meitnerium", 278.0, 1.29},
    {110, "Ds", "Darmstadtium", 281.0, 1.28},
    {111, "Rg", "Roentgenium", 282.0, 1.21},
    {112, "Cn", "Copernicium", 285.0, 1.22},
    {113, "Nh", "Nihonium", 286.0, 1.36},
    {114, "Fl", "Flerovium", 289.0, 1.43},
    {115, "Mc", "Moscovium", 290.0, 1.62},
    {116, "Lv", "Livermorium", 293.0, 1.75},
    {117, "Ts", "Tennessine", 294.0, 1.65},
    {118, "Og", "Oganesson", 294.0, 1.57},
}};

inline constexpr int kMaxElementNumber = 118;

class xxPeriodicTable;

// Lookups for file readers and the data model. Find* return null when nothing matches; Get*
// throw a CfxResult (E_INVALIDARG) naming what was asked for. Symbols and names match without
// regard to case, so "CL", "cl" and "Cl" are all chlorine. They answer from the process's
// periodic table, the built-in table above until one is imported; entries stay where they are,
// so a pointer to one stays valid (its texts change with an import).
class xxElementFactory {
public:
    static std::span<const xxElement> Table() noexcept;
    static const xxElement& Unknown() noexcept { return Table()[0]; }

    // The process-wide periodic table as a data-model object (periodic_table.h).
    static xxPeriodicTable& Instantiate();
    // What the lookups answer for one element (0..kMaxElementNumber), as the periodic table
    // sets it, isotopes included (one per mass number; kept sorted); and back to the built-in
    // table. Setting an element's isotopes moves them, so earlier isotope pointers of that
    // element are invalid then.
    static void SetElementData(int number, std::string_view symbol, std::string_view name, double mass,
                               double covalentRadius, std::span<const xxIsotope> isotopes);
    static void ResetElementData();

    static const xxElement* FindElementByType(int number) noexcept;
    static const xxElement* FindElement(std::string_view symbol) noexcept;
    static const xxElement* FindElementByName(std::string_view name) noexcept;

    static const xxElement& GetElementByType(int number);
    static const xxElement& GetElement(std::string_view symbol);
    static const xxElement& GetElementByName(std::string_view name);
};
