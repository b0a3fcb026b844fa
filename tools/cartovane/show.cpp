#include "tools/cartovane/show.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "com/oleauto.h"
#include "datamodel/atomistic.h"
#include "datamodel/describe.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "tools/cartovane/output.h"

namespace cartovane::tool {

namespace {

void PropertyValue(JsonWriter& json, const xxPropertyBase& p, const xxObject& object) {
    std::string text = p.GetFromDifferentType(object);
    xxPoint3d point;
    double number = 0;
    int integer = 0;
    unsigned natural = 0;
    bool flag = false;
    switch (p.Type()) {
    case xxValueType::Bool:
        if (xxValueText::FromText(text, flag)) return json.Bool(flag);
        break;
    case xxValueType::Int:
        if (xxValueText::FromText(text, integer)) return json.Integer(integer);
        break;
    case xxValueType::UnsignedInt:
    case xxValueType::Color:  // its packed 0xAARRGGBB
        if (xxValueText::FromText(text, natural)) return json.Integer(natural);
        break;
    case xxValueType::Double:
        if (xxValueText::FromText(text, number)) return json.Number(number);
        break;
    case xxValueType::Point3d:
        if (xxValueText::FromText(text, point)) return json.Point(point);
        break;
    case xxValueType::Matrix3x3:
        if (xxMatrix3x3 tensor; xxValueText::FromText(text, tensor)) return json.Numbers(tensor.Values());  // row by row
        break;
    default:
        break;
    }
    json.String(text);
}

std::array<int, 4> Rgba(const xxColor& c) { return {c.R(), c.G(), c.B(), c.A()}; }

void OptionalId(JsonWriter& json, const std::optional<int>& id) {
    if (id) json.Integer(*id);
    else json.Null();
}

// "#ID", or "-" for none.
void IdText(BlockWriter& out, const std::optional<int>& id) {
    if (!id) return out.Put('-');
    out.Put('#');
    out.Integer(*id);
}

void ObjectJson(JsonWriter& json, const xxObject& object) {
    json.BeginObject();
    json.Key("class");
    json.String(object.GetClass().GetName());
    json.Key("name");
    json.String(object.GetName());
    json.Key("id");
    json.Integer(object.GetID());
    json.Key("properties");
    json.BeginObject();
    for (const xxPropertyBase* p : object.PropertyTemplates()) {
        if (!p->IsAssigned(object)) continue;
        json.Key(p->Name());
        PropertyValue(json, *p, object);
    }
    json.EndObject();
    xxDescription d = DescribeObject(object);
    if (d.element) {
        json.Key("element");
        json.String(*d.element);
        json.Key("xyz");
        json.Point(d.xyz);
        json.Key("charge");
        json.Number(d.charge);
    }
    if (d.bondAtoms) {
        json.Key("atoms");
        json.BeginArray();
        json.Integer(d.bondAtoms->first);
        json.Integer(d.bondAtoms->second);
        json.EndArray();
        json.Key("order");
        json.Number(d.bondOrder);
    }
    if (d.cell) {
        json.Key("cell");
        CellObject(json, *d.cell);
        json.Key("group");
        json.String(d.group);
        if (!d.qualifier.empty()) {
            json.Key("qualifier");
            json.String(d.qualifier);
        }
    }
    if (d.mesh) {
        json.Key("mesh");
        json.BeginObject();
        json.Key("vertices");
        json.Integer(d.mesh->vertices);
        json.Key("triangles");
        json.Integer(d.mesh->triangles);
        json.Key("color");
        json.Integers(Rgba(d.mesh->color));
        json.EndObject();
    }
    if (d.repeatUnit) {
        json.Key("head");
        OptionalId(json, d.head);
        json.Key("tail");
        OptionalId(json, d.tail);
    }
    if (d.chargeGroup) {
        json.Key("members");
        json.Integers(d.members);
        json.Key("center");
        OptionalId(json, d.center);
    }
    // A trajectory frame's values kept beside the objects: the cell's change and the matter's
    // velocities relative to it and forces.
    if (const auto* system = object.As<xxSymmetrySystem>()) {
        const xxSymmetryDefinition& definition = system->GetSymmetryDefinition();
        const xxPoint3d velocities[] = {definition.GetVector1Velocity(), definition.GetVector2Velocity(),
                                        definition.GetVector3Velocity()};
        if (std::any_of(std::begin(velocities), std::end(velocities), [](const xxPoint3d& v) { return v != xxPoint3d{}; })) {
            json.Key("vectorVelocities");
            json.BeginArray();
            for (const xxPoint3d& v : velocities) json.Point(v);
            json.EndArray();
        }
    }
    if (object.IsA(xxMatter::classType)) {
        for (const auto* detached : {&xxMatter::m_pptRelativeVelocity, &xxMatter::m_pptForce}) {
            if (!detached->IsAssigned(object)) continue;
            json.Key(detached == &xxMatter::m_pptForce ? "force" : "relativeVelocity");
            json.Point(detached->GetValue(object));
        }
    }
    json.Key("children");
    json.BeginArray();
    if (const auto* node = object.As<xxTreeNode>())
        for (const auto& child : node->Children()) ObjectJson(json, *child);
    json.EndArray();
    json.EndObject();
}

void PrintLine(BlockWriter& out, const xxObject& object, std::size_t depth, const ShownFrame* shown) {
    out.Spaces(2 * depth);
    out.Put(object.GetClass().GetName());
    if (!object.GetName().empty()) {
        out.Put(" \"");
        out.Put(object.GetName());
        out.Put('"');
    }
    out.Put(" #");
    out.Integer(object.GetID());
    xxDescription d = DescribeObject(object);
    if (d.element) {
        out.Put(' ');
        out.Put(*d.element);
        out.Put(" (");
        out.Fixed4(d.xyz.x);
        out.Put(", ");
        out.Fixed4(d.xyz.y);
        out.Put(", ");
        out.Fixed4(d.xyz.z);
        out.Put(") charge ");
        out.Fixed4(d.charge);
    }
    if (d.bondAtoms) {
        out.Put(" atoms ");
        out.Integer(d.bondAtoms->first);
        out.Put('-');
        out.Integer(d.bondAtoms->second);
        out.Put(" order ");
        // As a stream prints a double: "%g", six significant digits.
        char text[32];
        auto end = std::to_chars(text, text + sizeof text, d.bondOrder, std::chars_format::general, 6).ptr;
        out.Put({text, static_cast<std::size_t>(end - text)});
    }
    if (d.cell) {
        CellText(out, *d.cell);
        out.Put(" group ");
        out.Put(d.group);
        // The setting a file chose (an origin, the axes), where the group has several.
        if (!d.qualifier.empty()) {
            out.Put(" [");
            out.Put(d.qualifier);
            out.Put(']');
        }
    }
    if (d.mesh) {
        out.Put(" mesh ");
        out.Integer(static_cast<int>(d.mesh->vertices));
        out.Put(" vertices ");
        out.Integer(static_cast<int>(d.mesh->triangles));
        out.Put(" triangles color ");
        const std::array<int, 4> rgba = Rgba(d.mesh->color);
        for (std::size_t i = 0; i < rgba.size(); ++i) {
            out.Put(i == 0 ? '(' : ' ');
            out.Integer(rgba[i]);
        }
        out.Put(')');
    }
    if (d.repeatUnit) {
        out.Put(" head ");
        IdText(out, d.head);
        out.Put(" tail ");
        IdText(out, d.tail);
    }
    if (d.chargeGroup) {
        out.Put(" members");
        for (int id : d.members) {
            out.Put(" #");
            out.Integer(id);
        }
        out.Put(" center ");
        IdText(out, d.center);
    }
    if (shown && shown->trajectory == &object) {
        out.Put(" type \"");
        out.Put(shown->type);
        out.Put("\" frame ");
        out.Integer(shown->frame);
        out.Put(" of ");
        out.Integer(shown->frames);
    }
    out.Put('\n');
    if (const auto* node = object.As<xxTreeNode>())
        for (const auto& child : node->Children()) PrintLine(out, *child, depth + 1, shown);
}

void TrajectoryJson(JsonWriter& json, const ShownFrame& shown) {
    if (!shown.trajectory) return json.Null();
    json.BeginObject();
    TrajectoryMembers(json, shown.type, shown.frames);
    json.Key("frame");
    if (shown.frame > 0) json.Integer(shown.frame);
    else json.Null();
    ResultMembers(json, shown.results);
    json.EndObject();
}

}  // namespace

void PrintTree(std::ostream& out, const xxObject& root, const ShownFrame* shown) {
    BlockWriter writer(out);
    PrintLine(writer, root, 0, shown);
}

void PrintJson(std::ostream& out, const Outcome& outcome, const std::vector<host::DiagnosticMessage>& diagnostics,
               const xxObject* root, const ShownFrame* shown) {
    BlockWriter writer(out);
    JsonWriter json(writer);
    json.BeginObject();
    OutcomeMembers(json, outcome, diagnostics);
    if (shown) {
        json.Key("trajectory");
        TrajectoryJson(json, *shown);
    }
    json.Key("document");
    if (root) ObjectJson(json, *root);
    else json.Null();
    json.EndObject();
    writer.Put('\n');
}

}  // namespace cartovane::tool
