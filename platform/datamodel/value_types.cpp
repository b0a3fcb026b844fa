#include "datamodel/value_types.h"

#include <cmath>
#include <limits>
#include <system_error>

#include "base/text.h"

namespace tx = cartovane::text;

namespace {

template <class N>
void NumberFromString(std::string_view text, N& v, const char* typeName) {
    std::errc ec = tx::ParseExact(text, v);
    if (ec == std::errc()) return;
    throw FromStringException(std::string(text), typeName,
                              ec == std::errc::result_out_of_range ? "value out of range" : "not a number");
}

}  // namespace

namespace xxValueText {
std::string ToText(float v) { return tx::NumberText(v); }
std::string ToText(unsigned char v) { return tx::NumberText(static_cast<unsigned>(v)); }
std::string ToText(short v) { return tx::NumberText(v); }
std::string ToText(unsigned short v) { return tx::NumberText(v); }
bool FromText(std::string_view text, float& v) { return tx::ParseExact(text, v) == std::errc(); }
bool FromText(std::string_view text, unsigned char& v) { return tx::ParseExact(text, v) == std::errc(); }
bool FromText(std::string_view text, short& v) { return tx::ParseExact(text, v) == std::errc(); }
bool FromText(std::string_view text, unsigned short& v) { return tx::ParseExact(text, v) == std::errc(); }
}  // namespace xxValueText

FromStringException::FromStringException(std::string text, std::string conversion, std::string message)
    : std::runtime_error("Unable to convert the value '" + text + "' for type " + conversion + ": Error: " + message),
      text_(std::move(text)),
      conversion_(std::move(conversion)),
      message_(std::move(message)) {}

std::string ToString(float v) { return xxValueText::ToText(v); }
std::string ToString(double v) { return xxValueText::ToText(v); }
std::string ToString(const std::string& v) { return v; }
std::string ToString(const char* v) { return v ? std::string(v) : std::string(); }
std::string ToString(bool v) { return xxValueText::ToText(v); }
std::string ToString(unsigned char v) { return xxValueText::ToText(v); }
std::string ToString(unsigned short v) { return xxValueText::ToText(v); }
std::string ToString(short v) { return xxValueText::ToText(v); }
std::string ToString(unsigned int v) { return xxValueText::ToText(v); }
std::string ToString(int v) { return xxValueText::ToText(v); }

void FromString(std::string_view text, float& v) { NumberFromString(text, v, "float"); }
void FromString(std::string_view text, double& v) { NumberFromString(text, v, "double"); }
void FromString(std::string_view text, std::string& v) { v.assign(text); }
void FromString(std::string_view text, bool& v) {
    if (!xxValueText::FromText(text, v)) throw FromStringException(std::string(text), "bool", "not a truth value");
}
void FromString(std::string_view text, unsigned char& v) { NumberFromString(text, v, "unsigned char"); }
void FromString(std::string_view text, unsigned short& v) { NumberFromString(text, v, "unsigned short"); }
void FromString(std::string_view text, short& v) { NumberFromString(text, v, "short"); }
void FromString(std::string_view text, unsigned int& v) { NumberFromString(text, v, "unsigned int"); }
void FromString(std::string_view text, int& v) { NumberFromString(text, v, "int"); }

std::string ConcatenateStrings(const std::vector<std::string>& items, std::string_view separator) {
    std::size_t size = 0;
    for (const auto& item : items) size += item.size() + separator.size();
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += separator;
        out += items[i];
    }
    return out;
}

bool StrToken::Next(std::string& item) {
    if (done_) return false;
    item.clear();
    while (pos_ < text_.size()) {
        char c = text_[pos_++];
        if (c == escape_ && pos_ < text_.size()) {
            item += text_[pos_++];
        } else if (c == separator_) {
            return true;
        } else {
            item += c;
        }
    }
    done_ = true;
    return true;
}

std::size_t StrToken::CountSeparators() const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text_.size(); ++i) {
        if (text_[i] == escape_) ++i;
        else if (text_[i] == separator_) ++n;
    }
    return n;
}

std::string EscapeToken(std::string_view text, char separator, char escape) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == separator || c == escape) out += escape;
        out += c;
    }
    return out;
}
