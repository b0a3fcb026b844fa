#include "documents/xsd_format.h"

#include <limits>

#include "datamodel/value_types.h"
#include "xml/xml.h"

void RepeatListWriter::Close() {
    if (repeats_) {
        out_ += ",x";
        out_ += std::to_string(repeats_);
        repeats_ = 0;
    }
}

void RepeatListWriter::Add(std::string text) {
    if (any_ && text == previous_) {
        ++repeats_;
        return;
    }
    Close();
    if (any_) out_ += ',';
    out_ += text;
    previous_ = std::move(text);
    any_ = true;
}

std::string RepeatListWriter::Finish() {
    Close();
    return std::move(out_);
}

std::string StringListText(const std::vector<std::string>& items, const char* name) {
    std::vector<std::string> escaped;
    escaped.reserve(items.size());
    for (const std::string& item : items) {
        if (item.empty())
            throw xmlException(std::string("An empty string cannot be written in the string list '") + name + "'");
        escaped.push_back(EscapeToken(item, ',', '\\'));
    }
    return ConcatenateStrings(escaped, ",");
}

std::string ReferenceListText(const std::vector<std::uint32_t>& ids) {
    std::string out;
    if (ids.size() < 10) {
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (i) out += ',';
            out += std::to_string(ids[i]);
        }
        return out;
    }
    out = "ci(" + std::to_string(ids.size()) + "):";
    bool firstRun = true;
    for (std::size_t i = 0; i < ids.size();) {
        std::uint32_t id = ids[i];
        std::size_t n = 1;
        if (i + 1 < ids.size() && ids[i + 1] == id) {
            while (i + n < ids.size() && ids[i + n] == id) ++n;
            if (!firstRun) out += ',';
            out += std::to_string(n) + "x" + std::to_string(id);
        } else if (i + 1 < ids.size() && ids[i + 1] == id + 1u) {
            while (i + n < ids.size() && ids[i + n] == id + static_cast<std::uint32_t>(n)) ++n;
            if (!firstRun) out += ',';
            out += std::to_string(n) + "+" + std::to_string(id);
        } else {
            if (!firstRun) out += ',';
            out += std::to_string(id);
        }
        firstRun = false;
        i += n;
    }
    return out;
}

