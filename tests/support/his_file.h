// Makes HIS trajectory files (the binary history of a molecular-dynamics run) for tests, on the
// record writer: the header records H1 to H14 with frame 0, then five records per later frame.
// Every value a reader uses is distinct per frame (coordinates k + i/10 and the like), so a
// misaligned read shows. Faults come from the writer's hooks on the result.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/binary_records.h"

namespace cvtest {

struct HisParameters {
    double version = 2.9;           // V: >= 2.6 lists movable atoms, >= 2.9 has 5-character names
    int atoms = 2;                  // N
    std::vector<int> movable;       // 1-based numbers; empty: every atom (M = N)
    int k1 = 0, k2 = 0, g = 0, k5 = 0, k6 = 0, e = 0;
    int frames = 1;
    double timeStep = 1000;         // stored; a reader divides it by 1000
    int stepsBetweenFrames = 10;    // I
    int firstStep = 0;              // S
    bool reversed = false;          // the other byte order
    bool periodic = true;           // a non-zero cell

    int MovableCount() const { return movable.empty() ? atoms : static_cast<int>(movable.size()); }
    // The atoms a later frame stores: the movable ones, or all before version 2.6.
    int StoredPerFrame() const { return AtLeast(2.6) ? MovableCount() : atoms; }
    bool AtLeast(double v) const { return version > v || std::fabs(version - v) <= 1e-4; }

    // The values frame i carries.
    static std::array<double, 3> Energies(int i) { return {-100.0 - i, -60.0 - i, -40.0 + i}; }  // total, potential, kinetic
    std::array<double, 6> Cell(int i) const {
        if (!periodic) return {};
        return {10 + i / 10.0, 11 + i / 10.0, 12 + i / 10.0, 1.5, 1.6, 1.7};
    }
    // Stress block b (0 to 5) of frame i, 9 values.
    static std::array<double, 9> Stress(int i, int b) {
        std::array<double, 9> s{};
        for (int k = 0; k < 9; ++k) s[static_cast<std::size_t>(k)] = 1000.0 * (b + 1) + 10.0 * k + i / 10.0;
        return s;
    }
    // Coordinate c (0, 1, 2) of atom k (0-based) in frame i; velocities are the negatives.
    static float Position(int i, int k, int c) { return static_cast<float>(k + 1) + static_cast<float>(c) * 100.0f + static_cast<float>(i) / 10.0f; }
};

struct HisFile {
    BinaryRecordWriter writer;
    std::size_t velocityEnd = 0;              // P: just after frame 0's velocity data
    std::vector<std::size_t> frameFlags;      // offset of each frame's flag value (frame 0: 4)
    std::vector<std::size_t> frameEnergies;   // offset of each frame's energy data
};

inline HisFile MakeHis(const HisParameters& params) {
    HisFile out{BinaryRecordWriter(params.reversed), 0, {}, {}};
    BinaryRecordWriter& w = out.writer;
    const int m = params.MovableCount();
    auto energy = [&](int i) {
        out.frameEnergies.push_back(w.Size() + 4);
        w.Begin();
        const auto e = HisParameters::Energies(i);
        w.Doubles({e[0], e[1], e[2]});
        const int extras = params.e + params.g + params.e * params.g + 4 * params.g + 2;
        for (int k = 0; k < extras; ++k) w.Double(0.5 * k + i);
        for (int b = 0; b < 6; ++b)
            for (double v : HisParameters::Stress(i, b)) w.Double(v);
        w.End();
    };
    auto atoms = [&](int i, const std::vector<int>& which, float sign) {
        w.Begin();
        for (int k : which)
            for (int c = 0; c < 3; ++c) w.Float(sign * HisParameters::Position(i, k, c));
        w.End();
    };
    std::vector<int> all, stored;
    for (int k = 0; k < params.atoms; ++k) all.push_back(k);
    if (!params.AtLeast(2.6) || params.movable.empty()) stored = all;
    else
        for (int number : params.movable) stored.push_back(number - 1);

    out.frameFlags.push_back(4);
    w.Begin().Int(0).End();                                          // H1
    w.Begin().Text("HIS test file", 80).Double(params.version).End();  // H2
    w.Begin().Text("second title", 80).End();                        // H3
    w.Begin().Text("third title", 80).End();                         // H4
    w.Begin().Int(params.k1);                                          // H5
    for (int k = 0; k < params.k1; ++k) w.Text("K" + std::to_string(k), 4);
    for (int k = 0; k < params.k1; ++k) w.Double(k);
    w.End();
    w.Begin().Int(params.k2);  // H6
    for (int k = 0; k < params.k2; ++k) w.Text("L" + std::to_string(k), 4);
    w.End();
    w.Begin().Int(params.atoms);  // H7
    for (int k = 0; k < params.atoms; ++k) w.Int(k + 1);
    for (int k = 0; k < params.atoms; ++k) w.Text("A" + std::to_string(k + 1), params.AtLeast(2.9) ? 5 : 4);
    w.End();
    w.Begin().Int(0).Int(m);  // H8
    if (params.AtLeast(2.6))
        for (int k = 0; k < m; ++k) w.Int(params.movable.empty() ? k + 1 : params.movable[static_cast<std::size_t>(k)]);
    w.End();
    w.Begin().Int(params.g);  // H9
    for (int k = 0; k < 2 * params.g; ++k) w.Int(k);
    w.End();
    w.Begin().Int(params.k5);  // H10
    for (int k = 0; k < 3 * params.k5; ++k) w.Int(k);
    w.End();
    w.Begin().Int(params.k6).End();  // H11
    if (params.k6 > 0) {             // H12
        w.Begin();
        for (int k = 0; k < 2 * params.k6; ++k) w.Int(k);
        w.End();
    }
    w.Begin();  // H13: the cell and its 9 values, 18 more, then what a reader skips
    for (double v : params.Cell(0)) w.Double(v);
    for (int k = 0; k < 27; ++k) w.Double(k < 9 ? 0.25 * k : 0.0);
    w.Zeros(32928).Int(0).Doubles({0, 0, 0, 0}).Int(0).Doubles({0, 0, 0, 0, 0, 0}).Ints({0, 0, 0, 0, 0, 0});
    w.End();
    w.Begin().Int(params.e).Double(params.timeStep).Int(params.stepsBetweenFrames).Int(params.firstStep).End();  // H14
    energy(0);
    atoms(0, all, 1.0f);
    atoms(0, all, -1.0f);
    out.velocityEnd = w.Size() - 4;

    for (int i = 1; i < params.frames; ++i) {
        out.frameFlags.push_back(w.Size() + 4);
        w.Begin().Int(1).End();  // F1
        energy(i);               // F2
        w.Begin();               // F3
        for (double v : params.Cell(i)) w.Double(v);
        for (int k = 0; k < 9; ++k) w.Double(0.25 * k + i);
        w.End();
        atoms(i, stored, 1.0f);   // F4
        atoms(i, stored, -1.0f);  // F5
    }
    return out;
}

}  // namespace cvtest
