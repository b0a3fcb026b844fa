// The tool's output writers: text gathered in blocks, and JSON written as it is made.
#pragma once

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "com/oleauto.h"
#include "datamodel/describe.h"
#include "datamodel/object.h"
#include "host/diagnostics.h"
#include "tools/cartovane/session.h"
#include "utilities/trajectory.h"

namespace cartovane::tool {

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
    void Integer(int value) {
        char text[text::kNumberTextSize];
        Put({text, static_cast<std::size_t>(text::WriteNumber(text, text + sizeof text, value) - text)});
    }
    // "%.4f", without the C library's formatting machinery (a double has up to 309 digits
    // before the point).
    void Fixed4(double value) {
        char text[320 + text::kNumberTextSize];
        Put({text, static_cast<std::size_t>(text::WriteFixed(text, text + sizeof text, value, 4) - text)});
    }
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
    template <class Range>
    void Integers(const Range& values) {
        BeginArray();
        for (auto v : values) Integer(v);
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

// " cell a b c alpha beta gamma", each "%.4f".
inline void CellText(BlockWriter& out, const xxCellParameters& cell) {
    out.Put(" cell");
    for (double v : {cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma}) {
        out.Put(' ');
        out.Fixed4(v);
    }
}

inline void CellObject(JsonWriter& json, const xxCellParameters& cell) {
    json.BeginObject();
    const std::pair<const char*, double> parameters[] = {{"a", cell.a},         {"b", cell.b},       {"c", cell.c},
                                                         {"alpha", cell.alpha}, {"beta", cell.beta}, {"gamma", cell.gamma}};
    for (const auto& [key, value] : parameters) {
        json.Key(key);
        json.Number(value);
    }
    json.EndObject();
}

// The members every document of the tool begins with: "result", "error" and "diagnostics".
inline void OutcomeMembers(JsonWriter& json, const Outcome& outcome, const std::vector<host::DiagnosticMessage>& diagnostics) {
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
}

// "type" and "frames" (the count) of a trajectory.
inline void TrajectoryMembers(JsonWriter& json, std::string_view type, int frames) {
    json.Key("type");
    json.String(type);
    json.Key("frames");
    json.Integer(frames);
}

// "energy", "time", "third" and "timeStep" of a frame, null where it gave nothing.
inline void ResultMembers(JsonWriter& json, const xxTrajectory::FrameResults& results) {
    const std::pair<const char*, const std::optional<double>*> members[] = {
        {"energy", &results.energy}, {"time", &results.time}, {"third", &results.third}, {"timeStep", &results.timeStep}};
    for (const auto& [key, value] : members) {
        json.Key(key);
        if (*value) json.Number(**value);
        else json.Null();
    }
}

}  // namespace cartovane::tool
