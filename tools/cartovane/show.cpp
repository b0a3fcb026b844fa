#include "tools/cartovane/show.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "datamodel/describe.h"

namespace cartovane::tool {

namespace {

using nlohmann::ordered_json;

ordered_json PropertyValue(const xxPropertyBase& p, const xxObject& object) {
    std::string text = p.GetFromDifferentType(object);
    xxPoint3d point;
    double number = 0;
    int integer = 0;
    unsigned natural = 0;
    bool flag = false;
    switch (p.Type()) {
    case xxValueType::Bool:
        if (xxValueText::FromText(text, flag)) return flag;
        break;
    case xxValueType::Int:
        if (xxValueText::FromText(text, integer)) return integer;
        break;
    case xxValueType::UnsignedInt:
        if (xxValueText::FromText(text, natural)) return natural;
        break;
    case xxValueType::Double:
        if (xxValueText::FromText(text, number)) return number;
        break;
    case xxValueType::Point3d:
        if (xxValueText::FromText(text, point)) return ordered_json::array({point.x, point.y, point.z});
        break;
    case xxValueType::Matrix3x3:
        if (xxMatrix3x3 tensor; xxValueText::FromText(text, tensor)) return tensor.Values();  // row by row
        break;
    default:
        break;
    }
    return text;
}

ordered_json ObjectJson(const xxObject& object) {
    ordered_json j;
    j["class"] = object.GetClass().GetName();
    j["name"] = object.GetName();
    j["id"] = object.GetID();
    ordered_json properties = ordered_json::object();
    for (const xxPropertyBase* p : object.PropertyTemplates())
        if (p->IsAssigned(object)) properties[p->Name()] = PropertyValue(*p, object);
    j["properties"] = properties;
    xxDescription d = DescribeObject(object);
    if (d.element) {
        j["element"] = *d.element;
        j["xyz"] = ordered_json::array({d.xyz.x, d.xyz.y, d.xyz.z});
        j["charge"] = d.charge;
    }
    if (d.bondAtoms) {
        j["atoms"] = ordered_json::array({d.bondAtoms->first, d.bondAtoms->second});
        j["order"] = d.bondOrder;
    }
    if (d.cell) {
        j["cell"] = {{"a", d.cell->a}, {"b", d.cell->b}, {"c", d.cell->c},
                     {"alpha", d.cell->alpha}, {"beta", d.cell->beta}, {"gamma", d.cell->gamma}};
        j["group"] = d.group;
    }
    ordered_json children = ordered_json::array();
    if (const auto* node = object.As<xxTreeNode>())
        for (const auto& child : node->Children()) children.push_back(ObjectJson(*child));
    j["children"] = children;
    return j;
}

void PrintLine(std::ostream& out, const xxObject& object, int depth) {
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << object.GetClass().GetName();
    if (!object.GetName().empty()) out << " \"" << object.GetName() << '"';
    out << " #" << object.GetID();
    xxDescription d = DescribeObject(object);
    char text[160];
    if (d.element) {
        std::snprintf(text, sizeof text, " %s (%.4f, %.4f, %.4f) charge %.4f", d.element->c_str(), d.xyz.x, d.xyz.y,
                      d.xyz.z, d.charge);
        out << text;
    }
    if (d.bondAtoms) out << " atoms " << d.bondAtoms->first << "-" << d.bondAtoms->second << " order " << d.bondOrder;
    if (d.cell) {
        std::snprintf(text, sizeof text, " cell %.4f %.4f %.4f %.4f %.4f %.4f group %s", d.cell->a, d.cell->b,
                      d.cell->c, d.cell->alpha, d.cell->beta, d.cell->gamma, d.group.c_str());
        out << text;
    }
    out << '\n';
    if (const auto* node = object.As<xxTreeNode>())
        for (const auto& child : node->Children()) PrintLine(out, *child, depth + 1);
}

}  // namespace

void PrintTree(std::ostream& out, const xxObject& root) { PrintLine(out, root, 0); }

void PrintJson(std::ostream& out, const Outcome& outcome, const std::vector<host::DiagnosticMessage>& diagnostics,
               const xxObject* root) {
    ordered_json j;
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08X", static_cast<unsigned>(outcome.hr));
    j["result"] = hr;
    j["error"] = outcome.error.empty() ? ordered_json(nullptr) : ordered_json(outcome.error);
    ordered_json posted = ordered_json::array();
    for (const host::DiagnosticMessage& m : diagnostics)
        posted.push_back({{"source", m.source}, {"severity", m.severity}, {"text", m.text}});
    j["diagnostics"] = posted;
    j["document"] = root ? ObjectJson(*root) : ordered_json(nullptr);
    out << j.dump(2) << '\n';
}

}  // namespace cartovane::tool
