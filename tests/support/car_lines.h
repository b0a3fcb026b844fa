// CAR and ARC texts for tests, benchmarks and fuzz seeds: atom lines in the writer's layout (and
// in archive 2's), and whole ARC trajectories built frame by frame.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvtest::carmdf {

// An atom line: archive 3's, 80 columns as the writer lays it out, or archive 2's (x, y, z in
// 15 columns from column 5, the type at 61, the element at 64).
inline std::string AtomLine(std::string_view name, double x, double y, double z, std::string_view residue,
                            std::string_view number, std::string_view type, std::string_view element,
                            double charge, int archive = 3) {
    char line[160];
    std::snprintf(line, sizeof line,
                  archive == 2 ? "%-5.5s%15.9f%15.9f%15.9f %-4.4s%-6.6s%-3.3s%-2.2s%6.3f"
                               : "%-5.5s %14.9f %14.9f %14.9f %-4.4s %-7.7s%-7.7s %-2.2s %6.3f",
                  std::string(name).c_str(), x, y, z, std::string(residue).c_str(), std::string(number).c_str(),
                  std::string(type).c_str(), std::string(element).c_str(), charge);
    return line;
}

// The four header lines of an archive-3 file; periodicity "PBC=ON", "PBC=2D" or "PBC=OFF".
inline std::string CarHeader(std::string_view periodicity) {
    return "!KORVEN archive 3\n" + std::string(periodicity) +
           "\nOrbanite Generated CAR File\n!DATE Thu Dec 10 08:28:00 2026\n";
}

// ---- ARC ----

struct ArcAtom {
    std::string name;
    double x = 0, y = 0, z = 0;
    std::string element = "C";
};

struct ArcFrame {
    std::optional<double> value;                  // the title's number (column 61); nullopt: no title line
    std::vector<std::vector<ArcAtom>> molecules;  // each closed by "end"
    std::array<double, 6> cell{10, 11, 12, 90, 90, 90};  // a b c alpha beta gamma; a b gamma in 2-D files
    std::string title = "Frame";
    std::vector<std::string> comments;  // "!" lines before the atoms
};

struct ArcLayout {
    int archive = 3;
    std::string periodicity = "PBC=OFF";
    std::string lineEnd = "\n";
    bool Periodic() const { return periodicity == "PBC=ON" || periodicity == "PBC=2D"; }
};

inline std::string ArcHeader(const ArcLayout& layout) {
    return "!KORVEN archive " + std::to_string(layout.archive) + layout.lineEnd + layout.periodicity + layout.lineEnd;
}

inline std::string ArcCellLine(const ArcLayout& layout, const std::array<double, 6>& cell) {
    char line[160];
    if (layout.periodicity == "PBC=2D")
        std::snprintf(line, sizeof line, "PBC %10.4f%10.4f%10.4f(p1)", cell[0], cell[1], cell[2]);
    else
        std::snprintf(line, sizeof line, "PBC%10.4f%10.4f%10.4f%10.4f%10.4f%10.4f (P1)", cell[0], cell[1], cell[2],
                      cell[3], cell[4], cell[5]);
    return line;
}

inline std::string ArcFrameText(const ArcLayout& layout, const ArcFrame& frame) {
    const std::string& e = layout.lineEnd;
    std::string out;
    if (frame.value) {
        char title[160];
        std::snprintf(title, sizeof title, "%-61s%.4f", frame.title.c_str(), *frame.value);
        out += title + e;
    }
    out += "!DATE Wed Dec 10 08:28:00 2025" + e;
    if (layout.Periodic()) out += ArcCellLine(layout, frame.cell) + e;
    for (const std::string& c : frame.comments) out += "!" + c + e;
    for (std::size_t m = 0; m < frame.molecules.size(); ++m) {
        const std::string number = std::to_string(m + 1);
        for (const ArcAtom& a : frame.molecules[m])
            out += AtomLine(a.name, a.x, a.y, a.z, "MOL", number, "c3", a.element, 0.125, layout.archive) + e;
        out += "end" + e;
    }
    return out + "end" + e;
}

inline std::string ArcText(const ArcLayout& layout, const std::vector<ArcFrame>& frames) {
    std::string out = ArcHeader(layout);
    for (const ArcFrame& f : frames) out += ArcFrameText(layout, f);
    return out;
}

// Frame f of a model of molecules of the given sizes, every coordinate distinct from frame to
// frame and atom to atom: atom i (from 0, over the model) at (i + f / 10, 2i + f / 100, -i - f / 10).
inline ArcFrame MovingFrame(int f, const std::vector<int>& moleculeSizes, std::optional<double> value) {
    ArcFrame frame;
    frame.value = value;
    int i = 0;
    for (int size : moleculeSizes) {
        std::vector<ArcAtom>& molecule = frame.molecules.emplace_back();
        for (int k = 0; k < size; ++k, ++i)
            molecule.push_back({"C" + std::to_string(k + 1), i + f / 10.0, 2 * i + f / 100.0, -i - f / 10.0});
    }
    frame.cell = {10 + f / 10.0, 11, 12 + f / 100.0, 90, 90.0 + f, 90};
    return frame;
}

}  // namespace cvtest::carmdf
