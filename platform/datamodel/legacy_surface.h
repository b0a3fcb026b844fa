// A triangulated surface of an older model file: a position and a mesh of coloured vertices.
#pragma once

#include <memory>

#include "datamodel/graphics.h"
#include "datamodel/object.h"

class xxLegacySurfaceObject : public xxObject {
    XX_DECLARE_CLASS(xxLegacySurfaceObject)
public:
    static const xxPropertyTemplate<xxPoint3d> m_pptXYZ;

    xxLegacySurfaceObject() = default;

    xxPoint3d GetXYZ() const override { return xyz_; }
    void SetXYZ(const xxPoint3d& position) override;

    // Null until a mesh is given.
    const xxTriangleMesh* GetTriangleMesh() const { return mesh_.get(); }
    // Throws Cfx::CfxResult E_INVALIDARG for a mesh whose triangles name vertices it lacks.
    void SetTriangleMesh(xxTriangleMesh mesh);

    // The position and the mesh (vertices, triangles, colours and flags) beside the name and ID.
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;

private:
    xxPoint3d xyz_;
    std::unique_ptr<xxTriangleMesh> mesh_;
};
