// Records by object address, for the serialisers that follow millions of objects. Records lie in
// chunks in the order first added (stable addresses, numbered from 0); an open-addressing index
// of 8-byte slots (record number and the address's hash) finds them. Linear probing, and erasing
// shifts the run back, so no tombstones build up. Objects met one after the other mostly lie one
// after the other in memory, so slots by address keep lookups close together, and the high bits
// part separate heap regions. The slots sit on large blocks: a big table is probed at random.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "base/chunked_list.h"
#include "base/huge_pages.h"

template <class Key, class Record>
class AddressTable {
public:
    // Room for that many records, so that a table of a known size need not regrow its index.
    void Reserve(std::size_t records) {
        std::size_t slots = 1024;
        while (3 * slots < 4 * (records + 1)) slots *= 2;
        if (slots > slots_.size()) Rehash(slots);
        entries_.reserve(records);
    }

    // The number of key's record, value-initialised when new; `inserted` says which.
    std::uint32_t FindOrAdd(const Key* key, bool& inserted) {
        if (4 * (size_ + 1) > 3 * slots_.size()) Rehash(slots_.empty() ? 1024 : slots_.size() * 2);
        const std::uint32_t hash = Hash(key);
        Slot& slot = slots_[Probe(key, hash)];
        inserted = slot.entry == 0;
        if (!inserted) return slot.entry - 1;
        if (entries_.size() >= 0xFFFFFFFEu) throw std::length_error("too many objects for an address table");
        const auto entry = static_cast<std::uint32_t>(entries_.size());
        entries_.emplace_back() = {key, Record{}};
        slot = {entry + 1, hash};
        ++size_;
        return entry;
    }
    Record* Find(const Key* key) {
        Slot* slot = SlotOf(key);
        return slot ? &entries_[slot->entry - 1].record : nullptr;
    }
    const Record* Find(const Key* key) const { return const_cast<AddressTable&>(*this).Find(key); }

    // Record number i; null unless it is key's.
    Record* At(std::uint32_t i, const Key* key) {
        Entry& e = entries_[i];
        return e.key == key ? &e.record : nullptr;
    }
    Record& At(std::uint32_t i) { return entries_[i].record; }
    // The key of record number i; null once erased.
    const Key* KeyAt(std::uint32_t i) const { return entries_[i].key; }
    // Records ever added, erased ones included.
    std::size_t Numbers() const { return entries_.size(); }

    void Erase(const Key* key) {
        Slot* slot = SlotOf(key);
        if (!slot) return;
        entries_[slot->entry - 1] = Entry{};
        const std::size_t mask = slots_.size() - 1;
        auto i = static_cast<std::size_t>(slot - slots_.data());
        // Later slots of the run move into the hole when their home does not lie after it.
        for (std::size_t j = (i + 1) & mask; slots_[j].entry; j = (j + 1) & mask) {
            const std::size_t home = slots_[j].hash & mask;
            if (((j - home) & mask) >= ((j - i) & mask)) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = Slot{};
        --size_;
    }
    void Clear() {
        entries_.clear();
        slots_ = {};
        size_ = 0;
    }

    // f(key, record) for every record not erased, in the order added.
    template <class F>
    void ForEach(F&& f) {
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (Entry& e = entries_[i]; e.key) f(e.key, e.record);
    }

private:
    struct Entry {
        const Key* key = nullptr;  // null once erased
        Record record;
    };
    struct Slot {
        std::uint32_t entry = 0;  // number + 1; 0 when empty
        std::uint32_t hash = 0;
    };
    static std::uint32_t Hash(const Key* key) {
        const auto a = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
        // Added, not xor-ed: the high bits then shift a region's slots without reordering them,
        // so objects met in address order probe the slots in order.
        return static_cast<std::uint32_t>((a >> 4) + (a >> 32));
    }
    // The slot that holds key, or the empty slot that ends its run.
    std::size_t Probe(const Key* key, std::uint32_t hash) const {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = hash & mask;
        while (slots_[i].entry && !(slots_[i].hash == hash && entries_[slots_[i].entry - 1].key == key))
            i = (i + 1) & mask;
        return i;
    }
    Slot* SlotOf(const Key* key) {
        if (slots_.empty()) return nullptr;
        Slot& slot = slots_[Probe(key, Hash(key))];
        return slot.entry ? &slot : nullptr;
    }
    void Rehash(std::size_t slots) {  // a power of two
        auto old = std::move(slots_);
        slots_.assign(slots, Slot{});
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (!s.entry) continue;
            std::size_t i = s.hash & mask;
            while (slots_[i].entry) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    ChunkedList<Entry, 1024> entries_;  // growing copies nothing
    std::vector<Slot, LargeBlockAllocator<Slot>> slots_;
    std::size_t size_ = 0;
};
