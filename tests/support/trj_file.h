// Writes TRJ trajectory files for the tests, benchmarks and fuzz targets, straight from the
// format's record table: any version, either byte order (every number reversed, every text as
// it stands), optional title lists and records, velocities and forces per frame, and the offsets
// of the header's counts so that a test can patch them. Every frame has values of its own (time
// 10 i, coordinates k + i / 10, ...), so that a frame read from the wrong place shows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/binary_records.h"

namespace cvtest {

struct TrjParameters {
    int version = 3000;
    bool reversed = false;
    int periodicity = 0;          // the flags record's first entry, as written
    std::array<int, 8> flags{};   // [1] ... [7]: F1 ... F7 as written
    std::vector<std::string> titles1, titles2;  // from version 311
    int titlePadding = 0;         // bytes after each title list's lines
    int totalAtoms = 2;           // below 200 the counts' first entry, else the second array's first
    int moveCount = 2;            // below 200: NMOVE
    std::vector<int> movingIds{1, 2};  // from 200
    int molecules = 1;
    std::string text1, text2;
    int frames = 3;
    std::function<bool(int)> velocities = [](int) { return false; };
    std::function<bool(int)> forces = [](int) { return false; };

    int Moving() const { return version < 200 ? moveCount : static_cast<int>(movingIds.size()); }
    bool Periodic() const { return periodicity != 0; }
    bool Wide() const { return version >= 2001; }  // f64 coordinates

    // ---- what frame i holds ----
    static double Time(int i) { return 10.0 * i; }
    static double Third(int i) { return 0.5 + i; }
    static double Temperature(int i) { return 300.0 + i; }
    static double Total(int i) { return -100.0 - i; }
    static double Kinetic(int i) { return 50.0 + i; }
    static double Term(int i, int k) { return k + 0.25 + i; }
    // Moving atom k, axis 0 ... 2: positions k + i / 10 (+ axis / 4), velocities and forces apart.
    static double Position(int i, int k, int axis) { return k + i / 10.0 + axis / 4.0; }
    static double Velocity(int i, int k, int axis) { return -1.0 - k - i / 10.0 - axis / 8.0; }
    static double Force(int i, int k, int axis) { return 100.0 + k + i + axis / 2.0; }
    // c0 ... c5: a triclinic cell that turns a little with i.
    static std::array<double, 6> Cell(int i) { return {10.0 + i, 11.0 + i, 12.0 + i, 0.5, 1.0 + 0.1 * i, 1.5}; }
    static std::array<double, 6> CellVelocity(int i) {
        return {0.01 + i, 0.02 + i, 0.03 + i, 0.04 + i, 0.05 + i, 0.06 + i};
    }
    static std::array<double, 6> Stress(int i) { return {1.0 + i, 2.0 + i, 3.0 + i, 4.0 + i, 5.0 + i, 6.0 + i}; }
};

// Payload sizes of frame records 1 ... 9 ([0] unused, 0: absent), from the table.
inline std::array<int, 10> TrjRecordSizes(const TrjParameters& p) {
    const int v = p.version;
    auto f = [&](int i) { return p.version >= 151 && p.flags[static_cast<std::size_t>(i)] != 0 && (i < 5 || v >= 300); };
    const bool periodic = p.Periodic() && v >= 151;
    std::array<int, 10> r{};
    r[1] = v <= 2001 ? 272 : v < 3000 ? 492 : 500;
    r[2] = v >= 2000 ? 96 : v >= 155 ? 48 : 0;
    const int wide = v >= 2010 ? 32 : v >= 300 ? 24 : 20;
    if (f(2) && f(5)) r[3] = wide;
    if (f(2) && !f(5)) r[4] = wide;
    if (v < 220) r[5] = f(3) ? 20 : 0;
    else if (periodic) r[5] = v >= 2010 ? 176 : (v == 2000 || v == 2001) ? 128 : 56;
    if (periodic) r[6] = v >= 2000 ? 116 : (v == 210 || (v >= 300 && v <= 1999)) ? 60 : 52;
    if (periodic && f(6)) r[7] = v >= 2010 ? 24 : 20;
    if (f(7)) r[8] = v >= 2010 ? 8 : 4;
    if (f(4)) r[9] = 56;
    return r;
}

struct TrjFile {
    BinaryRecordWriter writer;
    // Offsets of values a test patches (in the file).
    std::size_t versionAt = 8;
    std::optional<std::size_t> titleCountAt, titleLengthAt, flagsAt, countsAt, nmolAt, nmoveAt;
    std::size_t text1At = 0, text2At = 0;
    std::size_t headerEnd = 0;
    std::vector<std::size_t> frames;  // each frame's first payload

    std::string Bytes() const { return writer.Bytes(); }
};

inline TrjFile MakeTrj(const TrjParameters& p) {
    TrjFile out;
    out.writer = BinaryRecordWriter(p.reversed);
    BinaryRecordWriter& w = out.writer;
    const int v = p.version;
    w.Begin().Text("TRJ ", 4).Int(v);
    for (int k = 1; k < 20; ++k) w.Int(0);
    w.End();
    if (v >= 311) {
        for (const auto* lines : {&p.titles1, &p.titles2}) {
            w.Begin();
            if (!out.titleLengthAt) {
                out.titleLengthAt = w.RecordStart(w.NumRecords() - 1);
                out.titleCountAt = w.Size();
            }
            w.Int(static_cast<std::int32_t>(lines->size()));
            for (const std::string& line : *lines) w.Text(line, 80);
            w.Zeros(static_cast<std::size_t>(p.titlePadding)).End();
        }
    }
    if (v >= 151) {
        w.Begin();
        out.flagsAt = w.Size();
        w.Int(p.periodicity);
        for (std::size_t i = 1; i < (v < 300 ? 5u : 8u); ++i) w.Int(p.flags[i]);
        w.End();
    }
    if (v < 200) {
        w.Begin();
        out.countsAt = w.Size();
        w.Ints({p.totalAtoms, p.moveCount, 0, 0}).End();
    } else {
        w.Begin();
        out.nmolAt = w.Size();
        w.Int(p.molecules);
        for (int m = 0; m < p.molecules; ++m) w.Int(m + 7);
        for (int m = 0; m < p.molecules; ++m) w.Int(m == 0 ? p.totalAtoms : 1);
        for (int m = 0; m < p.molecules; ++m) w.Text("MOL" + std::to_string(m), 8);
        w.End().Begin();
        out.nmoveAt = w.Size();
        w.Int(static_cast<std::int32_t>(p.movingIds.size()));
        for (int id : p.movingIds) w.Int(id);
        w.End();
    }
    w.Begin();
    out.text1At = w.Size();
    w.Int(static_cast<std::int32_t>(p.text1.size())).Text(p.text1, p.text1.size()).End().Begin();
    out.text2At = w.Size();
    w.Int(static_cast<std::int32_t>(p.text2.size())).Text(p.text2, p.text2.size()).End();
    out.headerEnd = w.Size() - 4;

    const std::array<int, 10> r = TrjRecordSizes(p);
    const int n = p.Moving();
    auto block = [&](auto value, int i) {
        for (int axis = 0; axis < 3; ++axis) {
            w.Begin();
            for (int k = 0; k < n; ++k) {
                if (p.Wide()) w.Double(value(i, k, axis));
                else w.Float(static_cast<float>(value(i, k, axis)));
            }
            w.End();
        }
    };
    for (int i = 0; i < p.frames; ++i) {
        const bool vel = p.velocities(i), frc = v >= 2002 && p.forces(i);
        w.Begin();
        out.frames.push_back(w.Size());
        if (v >= 2002) {
            w.Double(TrjParameters::Time(i)).Zeros(4).Double(TrjParameters::Temperature(i)).Zeros(8);
            w.Double(TrjParameters::Third(i)).Zeros(16);
            for (int k = 0; k < 24; ++k) w.Double(TrjParameters::Term(i, k));
        } else {
            w.Float(static_cast<float>(TrjParameters::Time(i))).Zeros(20).Float(static_cast<float>(TrjParameters::Third(i)));
        }
        w.Zeros(192).Double(TrjParameters::Total(i)).Double(TrjParameters::Kinetic(i)).Zeros(v >= 3000 ? 32 : 24);
        w.Int(vel ? 1 : 0);
        if (v >= 2002) w.Int(frc ? 1 : 0);
        w.Zeros(8).End();
        for (std::size_t rec = 2; rec <= 9; ++rec) {
            const int size = r[rec];
            if (size == 0) continue;
            w.Begin();
            const std::size_t start = w.Size();
            if (rec == 5 && v >= 220) {
                w.Zeros((v >= 2000 && v <= 2001) || v >= 2010 ? 16 : 8);
                for (double c : TrjParameters::Cell(i)) {
                    if (v >= 2010) w.Double(c);
                    else w.Float(static_cast<float>(c));
                }
                if (v >= 2010)
                    for (double c : TrjParameters::CellVelocity(i)) w.Double(c);
            } else if (rec == 6) {
                w.Int(0);
                for (double s : TrjParameters::Stress(i)) w.Double(s);
            }
            w.Zeros(static_cast<std::size_t>(size) - (w.Size() - start)).End();
        }
        block(TrjParameters::Position, i);
        if (vel) block(TrjParameters::Velocity, i);
        if (frc) block(TrjParameters::Force, i);
    }
    return out;
}

// What is wrong with a file the writer made for p: its length words, or a frame record whose
// size differs from the table; nothing when it is sound.
inline std::optional<std::string> ValidateTrj(const TrjFile& file, const TrjParameters& p) {
    const RecordLayout layout = ValidateRecords(file.writer.Bytes(), p.reversed);
    if (layout.problem) return layout.problem;
    const std::array<int, 10> r = TrjRecordSizes(p);
    std::size_t at = 0;
    while (at < layout.starts.size() && layout.starts[at] + 4 != (file.frames.empty() ? 0 : file.frames[0])) ++at;
    for (int i = 0; i < p.frames; ++i) {
        std::vector<std::size_t> want;
        for (std::size_t rec = 1; rec <= 9; ++rec)
            if (r[rec] > 0) want.push_back(static_cast<std::size_t>(r[rec]));
        const int blocks = 1 + (p.velocities(i) ? 1 : 0) + (p.version >= 2002 && p.forces(i) ? 1 : 0);
        for (int b = 0; b < 3 * blocks; ++b) want.push_back(static_cast<std::size_t>(p.Moving()) * (p.Wide() ? 8 : 4));
        for (std::size_t size : want) {
            if (at >= layout.sizes.size()) return "frame " + std::to_string(i) + " is missing records";
            if (layout.sizes[at] != size)
                return "frame " + std::to_string(i) + ": a record of " + std::to_string(layout.sizes[at]) +
                       " bytes where the table has " + std::to_string(size);
            ++at;
        }
    }
    if (at != layout.sizes.size()) return "records after the last frame";
    return std::nullopt;
}

}  // namespace cvtest
