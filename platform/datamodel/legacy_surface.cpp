#include "datamodel/legacy_surface.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "datamodel/property_bits.h"

const xxPropertyTemplate<xxPoint3d> xxLegacySurfaceObject::m_pptXYZ("XYZ", &xxLegacySurfaceObject::Class,
                                                                     XX_FIELD(xxLegacySurfaceObject, xyz_),
                                                                     xxPropertyBit::kSurfaceXYZ);

XX_IMPLEMENT_CLASS(xxLegacySurfaceObject, "LegacySurfaceObject", xxObject, 1, &xxLegacySurfaceObject::m_pptXYZ)

void xxLegacySurfaceObject::SetXYZ(const xxPoint3d& position) {
    xyz_ = position;
    AssignedMask() |= m_pptXYZ.Mask();
}

void xxLegacySurfaceObject::SetTriangleMesh(xxTriangleMesh mesh) {
    if (!mesh.IndicesAreValid()) throw Cfx::CfxResult(E_INVALIDARG, "A triangle names a vertex the mesh does not have");
    mesh_ = std::make_unique<xxTriangleMesh>(std::move(mesh));
}

// The mesh goes as flat arrays: six numbers per vertex (position, normal), one packed ARGB
// colour per vertex, three indices per triangle.
void xxLegacySurfaceObject::Save(xxOutput& out) const {
    xxObject::Save(out);
    out.WriteValue("HasMesh", mesh_ != nullptr, false);
    if (!mesh_) return;
    std::vector<float> points;
    std::vector<std::uint32_t> colors;
    std::vector<std::uint32_t> triangles;
    points.reserve(mesh_->Vertices().size() * 6);
    colors.reserve(mesh_->Vertices().size());
    for (const xxVertN& v : mesh_->Vertices()) {
        points.insert(points.end(), {v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y, v.normal.z});
        colors.push_back(v.color.GetARGB());
    }
    triangles.reserve(mesh_->Triangles().size() * 3);
    for (const xxTriangleIndex& t : mesh_->Triangles()) triangles.insert(triangles.end(), {t.a, t.b, t.c});
    out.WriteArray("MeshPoints", points);
    out.WriteULong32Array("MeshColors", colors);
    out.WriteULong32Array("MeshTriangles", triangles);
    out.WriteULong32Value("MeshColor", mesh_->GetColor().GetARGB());
    out.WriteValue("MeshPlanar", mesh_->IsPlanar());
    out.WriteValue("MeshMappedColors", mesh_->HasMappedColors());
}

void xxLegacySurfaceObject::Load(xxInput& in) {
    xxObject::Load(in);
    mesh_.reset();
    bool hasMesh = false;
    in.ReadValue("HasMesh", hasMesh, false);
    if (!hasMesh) return;
    std::vector<float> points;
    std::vector<std::uint32_t> colors;
    std::vector<std::uint32_t> triangles;
    std::uint32_t color = 0;
    bool planar = false, mapped = false;
    in.ReadArray("MeshPoints", points);
    in.ReadULong32Array("MeshColors", colors);
    in.ReadULong32Array("MeshTriangles", triangles);
    in.ReadULong32Value("MeshColor", color);
    in.ReadValue("MeshPlanar", planar);
    in.ReadValue("MeshMappedColors", mapped);
    if (points.size() % 6 != 0 || colors.size() != points.size() / 6 || triangles.size() % 3 != 0)
        throw std::invalid_argument("LegacySurfaceObject has a mesh whose lists do not match (" +
                                    std::to_string(points.size()) + " numbers, " + std::to_string(colors.size()) +
                                    " colours, " + std::to_string(triangles.size()) + " indices)");
    xxTriangleMesh mesh;
    mesh.Vertices().reserve(colors.size());
    for (std::size_t i = 0; i < colors.size(); ++i) {
        xxVertN& v = mesh.Vertices().emplace_back();
        const float* p = &points[6 * i];
        v.position = {p[0], p[1], p[2]};
        v.normal = {p[3], p[4], p[5]};
        v.color.SetARGB(colors[i]);
    }
    mesh.Triangles().reserve(triangles.size() / 3);
    for (std::size_t i = 0; i < triangles.size(); i += 3)
        mesh.Triangles().push_back({triangles[i], triangles[i + 1], triangles[i + 2]});
    if (!mesh.IndicesAreValid()) throw std::invalid_argument("LegacySurfaceObject has a triangle beyond its vertices");
    xxColor c;
    c.SetARGB(color);
    mesh.SetColor(c);
    mesh.SetPlanar(planar);
    mesh.SetMappedColors(mapped);
    mesh.SetOwnerOID(GetOID());
    mesh_ = std::make_unique<xxTriangleMesh>(std::move(mesh));
}
