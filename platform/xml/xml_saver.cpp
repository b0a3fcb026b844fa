#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

#include "xml/xml.h"

namespace {

constexpr std::size_t kFlushSize = 1 << 16;

[[noreturn]] void NotUtf8() { throw xmlException("Text to write is not valid UTF-8"); }

// The length of the valid UTF-8 sequence at text[i] (2 to 4 bytes), or a throw. Overlong
// forms, surrogates, code points above U+10FFFF and the non-characters U+FFFE / U+FFFF are
// refused: XML 1.0 cannot carry them.
std::size_t Utf8Sequence(std::string_view text, std::size_t i) {
    auto byte = [&](std::size_t k) -> unsigned {
        if (i + k >= text.size()) NotUtf8();
        unsigned b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) NotUtf8();
        return b & 0x3F;
    };
    unsigned lead = static_cast<unsigned char>(text[i]);
    unsigned cp;
    std::size_t n;
    if (lead >= 0xC2 && lead <= 0xDF) {
        cp = ((lead & 0x1F) << 6) | byte(1);
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        cp = ((lead & 0x0F) << 12) | (byte(1) << 6) | byte(2);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) NotUtf8();
        n = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        cp = ((lead & 0x07) << 18) | (byte(1) << 12) | (byte(2) << 6) | byte(3);
        if (cp < 0x10000 || cp > 0x10FFFF) NotUtf8();
        n = 4;
    } else {
        NotUtf8();
    }
    return n;
}

}  // namespace

namespace {

// What each byte needs: 0 nothing, 1 a reference in attribute values, 2 a reference always,
// 3 it cannot be written, 4 it starts a UTF-8 sequence to check.
constexpr std::array<unsigned char, 256> kByteClass = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = 3;
    t['\t'] = t['\n'] = t['"'] = 1;
    t['\r'] = t['&'] = t['<'] = t['>'] = 2;
    for (int c = 0x80; c < 0x100; ++c) t[c] = 4;
    return t;
}();

// Whether any of the 8 bytes at p is not of class 0 (exact: no byte of class 0 is reported).
bool MayNeedEscape(const unsigned char* p) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if (w & kHighs) return true;
    auto hasZero = [](std::uint64_t v) { return ((v - kOnes) & ~v & kHighs) != 0; };
    return ((w - kOnes * 0x20) & ~w & kHighs) != 0  // a byte below 0x20
           || hasZero(w ^ (kOnes * '&')) || hasZero(w ^ (kOnes * '<')) || hasZero(w ^ (kOnes * '>')) ||
           hasZero(w ^ (kOnes * '"'));
}

}  // namespace

void xmlAppendEscaped(std::string& out, std::string_view text, bool attribute) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t run = 0;  // start of the bytes not copied yet
    for (std::size_t i = 0; i < n;) {
        if (i + 8 <= n && !MayNeedEscape(bytes + i)) {  // most texts need nothing: 8 bytes a step
            i += 8;
            continue;
        }
        const unsigned char k = kByteClass[bytes[i]];
        if (k == 0) {
            ++i;
            continue;
        }
        if (k == 4) {
            i += Utf8Sequence(text, i);
            continue;
        }
        const unsigned char c = bytes[i];
        if (k == 3) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", c);
            throw xmlException(std::string("Character ") + code + " cannot be written in XML");
        }
        const char* replacement = nullptr;
        switch (c) {
        case '&': replacement = "&amp;"; break;
        case '<': replacement = "&lt;"; break;
        case '>': replacement = "&gt;"; break;
        case '"': replacement = attribute ? "&quot;" : nullptr; break;
        case '\t': replacement = attribute ? "&#9;" : nullptr; break;
        case '\n': replacement = attribute ? "&#10;" : nullptr; break;
        case '\r': replacement = "&#13;"; break;
        default: break;
        }
        if (replacement) {
            out.append(text.data() + run, i - run);
            out += replacement;
            run = i + 1;
        }
        ++i;
    }
    out.append(text.data() + run, n - run);
}

xmlTreeSaver::xmlTreeSaver(std::ostream& out, xmlTree& tree, bool indent) : out_(out), tree_(tree), indent_(indent) {}

xmlTreeSaver::~xmlTreeSaver() = default;

void xmlTreeSaver::Flush() {
    if (buffer_.empty()) return;
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
    if (!out_) throw xmlException("Unable to write the XML stream");
}

void xmlTreeSaver::WriteHeader(int encoding, int header) {
    // Type 1 is UTF-8 as well: the only encoding written.
    if (encoding != kXmlEncodingUtf8 && encoding != 1) throw xmlException("Unknown XML encoding type " + std::to_string(encoding));
    if (header == kXmlHeaderDeclaration) buffer_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    else if (header != kXmlHeaderNone) throw xmlException("Unknown XML header type " + std::to_string(header));
}

void xmlTreeSaver::WriteStartTag(const xmlElement& element, bool empty, std::size_t depth) {
    if (indent_ && depth) {
        buffer_ += '\n';
        buffer_.append(depth, '\t');
    }
    buffer_ += '<';
    buffer_ += element.GetName();
    for (const auto& [cls, value] : element.Attributes()) {
        buffer_ += cls->Written();
        xmlAppendEscaped(buffer_, value, true);
        buffer_ += '"';
    }
    if (empty) buffer_ += "/>";
    else buffer_ += '>';
}

void xmlTreeSaver::WriteEndTag(const xmlElement& element, std::size_t depth) {
    if (indent_) {
        buffer_ += '\n';
        buffer_.append(depth, '\t');
    }
    buffer_ += "</";
    buffer_ += element.GetName();
    buffer_ += '>';
}

// ---- element by element -----------------------------------------------------------------------

void xmlTreeSaver::BeginSave(int encoding, int header) {
    const xmlElement* root = tree_.GetDocumentElement();
    if (!root) throw xmlException("No document element to save");
    open_.clear();
    WriteHeader(encoding, header);
    open_.push_back({root, false});
}

void xmlTreeSaver::StartPending() {
    Open& top = open_.back();
    if (!top.started) {
        WriteStartTag(*top.element, false, open_.size() - 1);
        top.started = true;
    }
}

void xmlTreeSaver::BeginElement(const xmlElement& element) {
    if (open_.empty()) throw xmlException("BeginElement outside a save");
    StartPending();
    open_.push_back({&element, false});
}

// An element never started has no element children: it is written empty, or with its text.
void xmlTreeSaver::CloseTop() {
    const Open& top = open_.back();
    std::size_t depth = open_.size() - 1;
    if (top.started) {
        WriteEndTag(*top.element, depth);
        return;
    }
    std::string text = leafText_ ? top.element->GetLeafText() : std::string();
    WriteStartTag(*top.element, text.empty(), depth);
    if (!text.empty()) {
        xmlAppendEscaped(buffer_, text, false);
        buffer_ += "</";
        buffer_ += top.element->GetName();
        buffer_ += '>';
    }
}

void xmlTreeSaver::EndElement(const xmlElement& element) {
    if (open_.size() < 2 || open_.back().element != &element)
        throw xmlException("Element '" + element.GetName() + "' ends out of order");
    CloseTop();
    open_.pop_back();
    if (buffer_.size() >= kFlushSize) Flush();
}

void xmlTreeSaver::EndSave() {
    if (open_.size() != 1) throw xmlException("EndSave with elements still open");
    CloseTop();
    open_.clear();
    buffer_ += '\n';
    Flush();
}

// ---- the whole tree ---------------------------------------------------------------------------

bool xmlTreeSaver::Save(int encoding, int header) {
    // The same calls as a streaming writer makes, walked without recursion.
    BeginSave(encoding, header);
    struct Step {
        const xmlElement* element;
        std::size_t next;
    };
    std::vector<Step> path{{tree_.GetDocumentElement(), 0}};
    while (!path.empty()) {
        Step& step = path.back();
        if (step.next < step.element->ChildCount()) {
            const xmlElement* child = step.element->Child(step.next++).AsElement();
            if (!child) continue;  // text: written with its leaf element
            BeginElement(*child);
            path.push_back({child, 0});
        } else {
            const xmlElement* done = step.element;
            path.pop_back();
            if (!path.empty()) EndElement(*done);
        }
    }
    EndSave();
    return static_cast<bool>(out_);
}
