// Text forms of the serialisers' value types. Numbers are locale-free; floats and doubles are
// written as the shortest text that reads back to the same value (inf, -inf and nan included).
// The text of a bool is one character, "1" or "0", which list readers rely on.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "datamodel/property.h"

// The value types beyond those of property templates.
namespace xxValueText {
std::string ToText(float v);
std::string ToText(unsigned char v);  // decimal, never a character
std::string ToText(short v);
std::string ToText(unsigned short v);
bool FromText(std::string_view text, float& v);
bool FromText(std::string_view text, unsigned char& v);
bool FromText(std::string_view text, short& v);
bool FromText(std::string_view text, unsigned short& v);
}  // namespace xxValueText

// A text that does not convert to the asked type.
class FromStringException : public std::runtime_error {
public:
    FromStringException(std::string text, std::string conversion, std::string message);

    const std::string& InvalidText() const { return text_; }
    const std::string& Conversion() const { return conversion_; }  // what was converted to
    const std::string& Message() const { return message_; }

private:
    std::string text_;
    std::string conversion_;
    std::string message_;
};

std::string ToString(float v);
std::string ToString(double v);
std::string ToString(const std::string& v);  // the text itself
std::string ToString(const char* v);         // else a literal would pick the bool overload
std::string ToString(bool v);
std::string ToString(unsigned char v);
std::string ToString(unsigned short v);
std::string ToString(short v);
std::string ToString(unsigned int v);
std::string ToString(int v);

// Each throws FromStringException and leaves v unchanged when the text does not convert.
void FromString(std::string_view text, float& v);
void FromString(std::string_view text, double& v);
void FromString(std::string_view text, std::string& v);
void FromString(std::string_view text, bool& v);  // "1", "0", "true", "false"
void FromString(std::string_view text, unsigned char& v);
void FromString(std::string_view text, unsigned short& v);
void FromString(std::string_view text, short& v);
void FromString(std::string_view text, unsigned int& v);
void FromString(std::string_view text, int& v);

std::string ConcatenateStrings(const std::vector<std::string>& items, std::string_view separator);

// Splits a text at a separator; the escape character makes the next character literal and is
// dropped (an escape at the very end stays). Empty items are returned as such.
class StrToken {
public:
    StrToken(std::string_view text, char separator, char escape)
        : text_(text), separator_(separator), escape_(escape) {}

    // The next item; false once the text is used up. A text of n separators has n + 1 items.
    bool Next(std::string& item);
    // Separators in the whole text that are not escaped.
    std::size_t CountSeparators() const;

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    bool done_ = false;
    char separator_;
    char escape_;
};

// The text with every separator and escape character preceded by the escape character, so
// that StrToken gives it back as one item.
std::string EscapeToken(std::string_view text, char separator, char escape);
