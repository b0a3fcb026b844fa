// Writes binary files made of length-framed records, [int32 n][n bytes][int32 n], in either
// byte order, for the tests of the binary trajectory readers; and checks such files. Faults are
// made on purpose afterwards: a length word that lies, a value patched over (a wrong flag, a
// bad count), a file cut short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_swap.h"

namespace cvtest {

class BinaryRecordWriter {
public:
    // reversed: every value (length words included) in the byte order opposite to ours.
    explicit BinaryRecordWriter(bool reversed = false) : reversed_(reversed) {}

    bool Reversed() const { return reversed_; }

    // Opens a record; the values up to End are its data.
    BinaryRecordWriter& Begin() {
        if (open_) throw std::logic_error("a record is open already");
        open_ = true;
        records_.push_back({bytes_.size(), 0});
        Put<std::int32_t>(0);  // the leading length word, set by End
        return *this;
    }
    // Closes the record: both length words give its data size.
    BinaryRecordWriter& End() {
        if (!open_) throw std::logic_error("no record is open");
        open_ = false;
        Record& r = records_.back();
        r.size = bytes_.size() - r.start - 4;
        const auto length = static_cast<std::int32_t>(r.size);
        Put(length);
        PatchAt(r.start, length);
        return *this;
    }

    BinaryRecordWriter& Int(std::int32_t v) { return Put(v); }
    BinaryRecordWriter& Float(float v) { return Put(v); }
    BinaryRecordWriter& Double(double v) { return Put(v); }
    template <class T>
    BinaryRecordWriter& Values(std::span<const T> values) {
        for (const T& v : values) Put(v);
        return *this;
    }
    BinaryRecordWriter& Ints(std::initializer_list<std::int32_t> v) { return Values(std::span(v.begin(), v.size())); }
    BinaryRecordWriter& Doubles(std::initializer_list<double> v) { return Values(std::span(v.begin(), v.size())); }
    BinaryRecordWriter& Floats(std::initializer_list<float> v) { return Values(std::span(v.begin(), v.size())); }
    // A fixed-width text, blank-padded or cut, without a terminator; never reversed.
    BinaryRecordWriter& Text(std::string_view text, std::size_t width) {
        std::string field(text.substr(0, width));
        field.resize(width, ' ');
        bytes_ += field;
        return *this;
    }
    // n bytes of zeros (space a reader skips).
    BinaryRecordWriter& Zeros(std::size_t n) {
        bytes_.append(n, '\0');
        return *this;
    }

    // ---- where things are ----
    std::size_t Size() const { return bytes_.size(); }
    std::size_t NumRecords() const { return records_.size(); }
    // The offset of record i's leading length word, and of its first data byte.
    std::size_t RecordStart(std::size_t i) const { return records_.at(i).start; }
    std::size_t DataStart(std::size_t i) const { return records_.at(i).start + 4; }
    std::size_t DataSize(std::size_t i) const { return records_.at(i).size; }

    // ---- faults ----
    // Overwrites the 4-byte value at offset (in the file's byte order): a wrong flag, a bad
    // count, a lying length word.
    void PatchInt32(std::size_t offset, std::int32_t v) { PatchAt(offset, v); }
    void PatchDouble(std::size_t offset, double v) { PatchAt(offset, v); }
    // Record i's leading (or trailing) length word says length.
    void SetLengthWord(std::size_t i, std::int32_t length, bool trailing = false) {
        const Record& r = records_.at(i);
        PatchAt(trailing ? r.start + 4 + r.size : r.start, length);
    }

    const std::string& Bytes() const {
        if (open_) throw std::logic_error("a record is still open");
        return bytes_;
    }
    // The first n bytes: a file cut short.
    std::string Truncated(std::size_t n) const { return Bytes().substr(0, n); }

private:
    struct Record {
        std::size_t start;  // the leading length word
        std::size_t size;   // data bytes
    };

    template <class T>
    BinaryRecordWriter& Put(T v) {
        char raw[sizeof(T)];
        std::memcpy(raw, &v, sizeof v);
        if (reversed_) cartovane::ByteSwapEach(raw, sizeof v, 1);
        bytes_.append(raw, sizeof raw);
        return *this;
    }
    template <class T>
    void PatchAt(std::size_t offset, T v) {
        if (offset + sizeof(T) > bytes_.size()) throw std::out_of_range("patch beyond the written bytes");
        std::memcpy(bytes_.data() + offset, &v, sizeof v);
        if (reversed_) cartovane::ByteSwapEach(bytes_.data() + offset, sizeof v, 1);
    }

    bool reversed_;
    bool open_ = false;
    std::string bytes_;
    std::vector<Record> records_;
};

// The records of a file as its length words lay them out; a problem when they do not tile it:
// a negative or overlong length, a trailing word that differs from the leading one, bytes left
// over that make no record.
struct RecordLayout {
    std::vector<std::size_t> starts;  // offsets of the leading length words
    std::vector<std::size_t> sizes;   // data bytes of each
    std::optional<std::string> problem;
};

inline RecordLayout ValidateRecords(std::string_view bytes, bool reversed) {
    RecordLayout out;
    auto word = [&](std::size_t at) {
        std::int32_t v;
        std::memcpy(&v, bytes.data() + at, sizeof v);
        if (reversed) cartovane::ByteSwap4(v);
        return v;
    };
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::string where = "record " + std::to_string(out.starts.size()) + " at byte " + std::to_string(at);
        if (bytes.size() - at < 8) {
            out.problem = where + ": " + std::to_string(bytes.size() - at) + " bytes left, too few for a record";
            return out;
        }
        const std::int32_t length = word(at);
        if (length < 0 || static_cast<std::size_t>(length) > bytes.size() - at - 8) {
            out.problem = where + ": length " + std::to_string(length) + " does not fit the file";
            return out;
        }
        const auto n = static_cast<std::size_t>(length);
        if (const std::int32_t trailing = word(at + 4 + n); trailing != length) {
            out.problem = where + ": length " + std::to_string(length) + " closed by " + std::to_string(trailing);
            return out;
        }
        out.starts.push_back(at);
        out.sizes.push_back(n);
        at += n + 8;
    }
    return out;
}

}  // namespace cvtest
