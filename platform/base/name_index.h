// A hash index from keys to entries that stores no keys: each entry's key is read back from the
// entry (an object's name or address, say) when a probe needs it. Clearing costs nothing however
// large the index grew, so an index can be refilled for every small group of objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

namespace cartovane {

// Matches(value, key) tells whether the entry value has that key; Hash(key) gives its hash.
struct NameHash {
    std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
};

// For addresses and packed integers, whose low bits alone would crowd a few slots.
struct MixedHash {
    std::size_t operator()(std::uint64_t key) const noexcept {
        key ^= key >> 29;
        key *= 0xbf58476d1ce4e5b9ull;
        key ^= key >> 32;
        return static_cast<std::size_t>(key);
    }
    std::size_t operator()(const void* key) const noexcept {
        return (*this)(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key)));
    }
};

// Generation: the type of the stamps that tell live slots from cleared ones; Clear walks the
// slots once every time the stamps wrap.
template <class Value, class Matches, class Key = std::string_view, class Hash = NameHash,
          class Generation = std::uint32_t>
class NameIndex {
public:
    explicit NameIndex(Matches matches = {}) : matches_(std::move(matches)) {}

    std::size_t Size() const noexcept { return size_; }

    void Clear() noexcept {
        size_ = 0;
        if (++generation_ == 0) {  // stamps wrapped: forget them all once
            for (Slot& s : slots_) s.generation = 0;
            generation_ = 1;
        }
    }

    // Room for n entries without growing.
    void Reserve(std::size_t n) {
        std::size_t capacity = 16;
        while (n * 4 > capacity * 3) capacity *= 2;
        if (capacity > slots_.size()) Grow(capacity);
    }

    // Enters value under key unless the key is there already (the first entry stays); true when
    // entered.
    bool Insert(const Key& key, const Value& value) {
        if ((size_ + 1) * 4 > slots_.size() * 3) Grow(slots_.empty() ? 16 : slots_.size() * 2);
        const std::uint32_t h = HashOf(key);
        for (std::size_t i = h & Mask();; i = (i + 1) & Mask()) {
            Slot& s = slots_[i];
            if (s.generation != generation_) {
                s = Slot{h, generation_, value};
                ++size_;
                return true;
            }
            if (s.hash == h && matches_(s.value, key)) return false;
        }
    }

    const Value* Find(const Key& key) const {
        if (size_ == 0) return nullptr;
        const std::uint32_t h = HashOf(key);
        for (std::size_t i = h & Mask();; i = (i + 1) & Mask()) {
            const Slot& s = slots_[i];
            if (s.generation != generation_) return nullptr;
            if (s.hash == h && matches_(s.value, key)) return &s.value;
        }
    }

private:
    struct Slot {
        std::uint32_t hash = 0;
        Generation generation = 0;
        Value value{};
    };

    static std::uint32_t HashOf(const Key& key) noexcept {
        const std::size_t h = Hash{}(key);
        return static_cast<std::uint32_t>(h ^ (h >> 32));
    }
    std::size_t Mask() const noexcept { return slots_.size() - 1; }

    void Grow(std::size_t capacity) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(capacity, Slot{});
        const Generation oldGeneration = generation_;
        generation_ = 1;
        for (const Slot& s : old) {
            if (s.generation != oldGeneration) continue;
            std::size_t i = s.hash & Mask();
            while (slots_[i].generation == generation_) i = (i + 1) & Mask();
            slots_[i] = Slot{s.hash, generation_, s.value};
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    Generation generation_ = 1;
    Matches matches_;
};

}  // namespace cartovane
