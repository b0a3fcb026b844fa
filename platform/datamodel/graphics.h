// Values of the graphics data: colours and triangle meshes (surfaces, iso-surfaces, field
// colours). Plain values, owned by the objects that show them.
#pragma once

#include <cstdint>
#include <vector>

#include "base/text.h"

// A colour of 8-bit red, green, blue and alpha (255 opaque).
class xxColor {
public:
    constexpr xxColor() = default;
    constexpr xxColor(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) : r_(r), g_(g), b_(b), a_(a) {}

    static const xxColor White;

    constexpr std::uint8_t R() const { return r_; }
    constexpr std::uint8_t G() const { return g_; }
    constexpr std::uint8_t B() const { return b_; }
    constexpr std::uint8_t A() const { return a_; }

    // Packed 0xRRGGBB; setting it keeps alpha, bits above the 24 are ignored.
    constexpr std::uint32_t GetRGB() const { return std::uint32_t{r_} << 16 | std::uint32_t{g_} << 8 | std::uint32_t{b_}; }
    constexpr void SetRGB(std::uint32_t rgb) {
        r_ = static_cast<std::uint8_t>(rgb >> 16);
        g_ = static_cast<std::uint8_t>(rgb >> 8);
        b_ = static_cast<std::uint8_t>(rgb);
    }
    // Packed 0xAARRGGBB.
    constexpr std::uint32_t GetARGB() const { return std::uint32_t{a_} << 24 | GetRGB(); }
    constexpr void SetARGB(std::uint32_t argb) {
        SetRGB(argb);
        a_ = static_cast<std::uint8_t>(argb >> 24);
    }
    // Alpha from a fraction: clamped to 0..1 (NaN gives 0), stored as 255 a rounded.
    constexpr void SetA(double a) {
        const double clamped = a >= 1 ? 1.0 : (a > 0 ? a : 0.0);
        a_ = static_cast<std::uint8_t>(cartovane::text::RoundHalfAwayFromZero(255 * clamped));
    }
    constexpr double GetAFraction() const { return a_ / 255.0; }

    friend constexpr bool operator==(const xxColor&, const xxColor&) = default;

private:
    std::uint8_t r_ = 0, g_ = 0, b_ = 0, a_ = 255;
};

inline constexpr xxColor xxColor::White{255, 255, 255};

// A point or direction of single-precision numbers, as meshes keep them.
struct xxPoint3df {
    float x = 0, y = 0, z = 0;
    friend constexpr bool operator==(const xxPoint3df&, const xxPoint3df&) = default;
};

// A mesh vertex: position, colour and normal.
struct xxVertN {
    xxPoint3df position;
    xxColor color = xxColor::White;
    xxPoint3df normal;
    friend constexpr bool operator==(const xxVertN&, const xxVertN&) = default;
};

// The three vertices of a triangle, as indices into the mesh's vertex list.
struct xxTriangleIndex {
    std::uint32_t a = 0, b = 0, c = 0;
    friend constexpr bool operator==(const xxTriangleIndex&, const xxTriangleIndex&) = default;
};

// A triangle mesh: vertices, triangles over them, the colour of the whole, and the object
// number of the object the mesh belongs to.
class xxTriangleMesh {
public:
    std::vector<xxVertN>& Vertices() { return vertices_; }
    const std::vector<xxVertN>& Vertices() const { return vertices_; }
    std::vector<xxTriangleIndex>& Triangles() { return triangles_; }
    const std::vector<xxTriangleIndex>& Triangles() const { return triangles_; }

    // True when every triangle names vertices the mesh has.
    bool IndicesAreValid() const {
        const auto n = vertices_.size();
        for (const xxTriangleIndex& t : triangles_)
            if (t.a >= n || t.b >= n || t.c >= n) return false;
        return true;
    }

    std::uint64_t GetOwnerOID() const { return ownerOID_; }
    void SetOwnerOID(std::uint64_t oid) { ownerOID_ = oid; }
    // A flat mesh (all normals one direction).
    bool IsPlanar() const { return planar_; }
    void SetPlanar(bool planar) { planar_ = planar; }
    // The vertex colours stand for mapped values rather than the surface's own colour.
    bool HasMappedColors() const { return mappedColors_; }
    void SetMappedColors(bool mapped) { mappedColors_ = mapped; }
    const xxColor& GetColor() const { return color_; }
    void SetColor(const xxColor& color) { color_ = color; }

    friend bool operator==(const xxTriangleMesh&, const xxTriangleMesh&) = default;

private:
    std::vector<xxVertN> vertices_;
    std::vector<xxTriangleIndex> triangles_;
    std::uint64_t ownerOID_ = 0;
    bool planar_ = false;
    bool mappedColors_ = false;
    xxColor color_ = xxColor::White;
};
