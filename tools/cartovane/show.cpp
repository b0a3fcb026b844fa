#include "tools/cartovane/show.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "com/oleauto.h"
#include "datamodel/describe.h"

namespace cartovane::tool {

namespace {

// Output gathered in a block and handed to the stream a block at a time, so that printing a
// large tree costs no stream call per value.
class BlockWriter {
public:
    explicit BlockWriter(std::ostream& out) : out_(out) { block_.reserve(kBlock + 256); }
    ~BlockWriter() { Flush(); }
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    void Put(char c) {
        block_.push_back(c);
        if (block_.size() >= kBlock) Flush();
    }
    void Put(std::string_view text) {
        block_.append(text);
        if (block_.size() >= kBlock) Flush();
    }
    void Spaces(std::size_t n) { block_.append(n, ' '); }
    void Flush() {
        out_.write(block_.data(), static_cast<std::streamsize>(block_.size()));
        block_.clear();
    }

private:
    static constexpr std::size_t kBlock = 1 << 16;
    std::ostream& out_;
    std::string block_;
};

// A JSON document written as it is made, laid out as nlohmann's dump(2) lays it out: two
// spaces per level, one member or element per line, "{}" and "[]" when empty.
class JsonWriter {
public:
    explicit JsonWriter(BlockWriter& out) : out_(out) {}

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    void Key(std::string_view key) {
        Item();
        Quoted(key);
        out_.Put(": ");
        keyed_ = true;
    }

    void Null() { Scalar("null"); }
    void Bool(bool value) { Scalar(value ? "true" : "false"); }
    template <class T>
    void Integer(T value) {
        char text[text::kNumberTextSize];
        Scalar({text, static_cast<std::size_t>(text::WriteNumber(text, text + sizeof text, value) - text)});
    }
    // The shortest text that reads back as the same double, in nlohmann's digits and layout
    // (so the output is what the tool printed when it built the whole document first); JSON
    // has no text for NaN or the infinities, which are null.
    void Number(double value) {
        if (!std::isfinite(value)) return Null();
        char text[64];
        char* end = nlohmann::detail::to_chars(text, text + sizeof text, value);
        Scalar({text, static_cast<std::size_t>(end - text)});
    }
    void String(std::string_view text) {
        BeforeValue();
        Quoted(text);
    }
    template <class Range>
    void Numbers(const Range& values) {
        BeginArray();
        for (double v : values) Number(v);
        EndArray();
    }
    void Point(const xxPoint3d& p) { Numbers(std::array{p.x, p.y, p.z}); }

private:
    void BeforeValue() {
        if (keyed_) keyed_ = false;
        else Item();
    }
    void Scalar(std::string_view text) {
        BeforeValue();
        out_.Put(text);
    }
    // Before a member or element: the separator and the indentation of its line.
    void Item() {
        if (depth_ == 0) return;
        out_.Put(items_[depth_ - 1]++ ? ",\n" : "\n");
        out_.Spaces(2 * depth_);
    }
    void Open(char bracket) {
        BeforeValue();
        out_.Put(bracket);
        if (depth_ == items_.size()) items_.push_back(0);
        items_[depth_++] = 0;
    }
    void Close(char bracket) {
        --depth_;
        if (items_[depth_]) {
            out_.Put('\n');
            out_.Spaces(2 * depth_);
        }
        out_.Put(bracket);
    }
    // JSON text is UTF-8: a text with bytes beyond ASCII has each byte that begins no valid
    // sequence written as U+FFFD.
    void Quoted(std::string_view text) {
        out_.Put('"');
        std::size_t plain = 0;
        while (plain < text.size() && IsPlain(text[plain])) ++plain;
        if (plain == text.size()) out_.Put(text);  // nearly every text: nothing to escape
        else if (IsAscii(text)) Escaped(text);
        else Escaped(com::Utf16ToUtf8(com::Utf8ToUtf16(text)));
        out_.Put('"');
    }
    static bool IsPlain(char c) {
        const auto b = static_cast<unsigned char>(c);
        return b >= 0x20 && b < 0x80 && c != '"' && c != '\\';
    }
    static bool IsAscii(std::string_view text) {
        for (char c : text)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        return true;
    }
    void Escaped(std::string_view text) {
        for (char c : text) {
            switch (c) {
            case '"': out_.Put("\\\""); break;
            case '\\': out_.Put("\\\\"); break;
            case '\b': out_.Put("\\b"); break;
            case '\f': out_.Put("\\f"); break;
            case '\n': out_.Put("\\n"); break;
            case '\r': out_.Put("\\r"); break;
            case '\t': out_.Put("\\t"); break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char code[8];
                    std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
                    out_.Put(code);
                } else {
                    out_.Put(c);
                }
            }
        }
    }

    BlockWriter& out_;
    std::vector<std::size_t> items_;  // members or elements written so far, per open level
    std::size_t depth_ = 0;
    bool keyed_ = false;  // the next value is a member's, after its key
};

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
        json.BeginObject();
        const std::pair<const char*, double> parameters[] = {{"a", d.cell->a},         {"b", d.cell->b},
                                                             {"c", d.cell->c},         {"alpha", d.cell->alpha},
                                                             {"beta", d.cell->beta}, {"gamma", d.cell->gamma}};
        for (const auto& [key, value] : parameters) {
            json.Key(key);
            json.Number(value);
        }
        json.EndObject();
        json.Key("group");
        json.String(d.group);
    }
    json.Key("children");
    json.BeginArray();
    if (const auto* node = object.As<xxTreeNode>())
        for (const auto& child : node->Children()) ObjectJson(json, *child);
    json.EndArray();
    json.EndObject();
}

void Integer(BlockWriter& out, int value) {
    char text[text::kNumberTextSize];
    out.Put({text, static_cast<std::size_t>(text::WriteNumber(text, text + sizeof text, value) - text)});
}

// "%.4f", without the C library's formatting machinery (a double has up to 309 digits before
// the point).
void Fixed4(BlockWriter& out, double value) {
    char text[320 + text::kNumberTextSize];
    out.Put({text, static_cast<std::size_t>(text::WriteFixed(text, text + sizeof text, value, 4) - text)});
}

void PrintLine(BlockWriter& out, const xxObject& object, std::size_t depth) {
    out.Spaces(2 * depth);
    out.Put(object.GetClass().GetName());
    if (!object.GetName().empty()) {
        out.Put(" \"");
        out.Put(object.GetName());
        out.Put('"');
    }
    out.Put(" #");
    Integer(out, object.GetID());
    xxDescription d = DescribeObject(object);
    if (d.element) {
        out.Put(' ');
        out.Put(*d.element);
        out.Put(" (");
        Fixed4(out, d.xyz.x);
        out.Put(", ");
        Fixed4(out, d.xyz.y);
        out.Put(", ");
        Fixed4(out, d.xyz.z);
        out.Put(") charge ");
        Fixed4(out, d.charge);
    }
    if (d.bondAtoms) {
        out.Put(" atoms ");
        Integer(out, d.bondAtoms->first);
        out.Put('-');
        Integer(out, d.bondAtoms->second);
        out.Put(" order ");
        // As a stream prints a double: "%g", six significant digits.
        char text[32];
        auto end = std::to_chars(text, text + sizeof text, d.bondOrder, std::chars_format::general, 6).ptr;
        out.Put({text, static_cast<std::size_t>(end - text)});
    }
    if (d.cell) {
        out.Put(" cell");
        for (double v : {d.cell->a, d.cell->b, d.cell->c, d.cell->alpha, d.cell->beta, d.cell->gamma}) {
            out.Put(' ');
            Fixed4(out, v);
        }
        out.Put(" group ");
        out.Put(d.group);
    }
    out.Put('\n');
    if (const auto* node = object.As<xxTreeNode>())
        for (const auto& child : node->Children()) PrintLine(out, *child, depth + 1);
}

}  // namespace

void PrintTree(std::ostream& out, const xxObject& root) {
    BlockWriter writer(out);
    PrintLine(writer, root, 0);
}

void PrintJson(std::ostream& out, const Outcome& outcome, const std::vector<host::DiagnosticMessage>& diagnostics,
               const xxObject* root) {
    BlockWriter writer(out);
    JsonWriter json(writer);
    json.BeginObject();
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08X", static_cast<unsigned>(outcome.hr));
    json.Key("result");
    json.String(hr);
    json.Key("error");
    if (outcome.error.empty()) json.Null();
    else json.String(outcome.error);
    json.Key("diagnostics");
    json.BeginArray();
    for (const host::DiagnosticMessage& m : diagnostics) {
        json.BeginObject();
        json.Key("source");
        json.String(m.source);
        json.Key("severity");
        json.Integer(m.severity);
        json.Key("text");
        json.String(m.text);
        json.EndObject();
    }
    json.EndArray();
    json.Key("document");
    if (root) ObjectJson(json, *root);
    else json.Null();
    json.EndObject();
    writer.Put('\n');
}

}  // namespace cartovane::tool
