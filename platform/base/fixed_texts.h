// The address ranges of the loaded modules' read-only segments, where string literals lie: a
// text there keeps its characters while the modules stay loaded, so a cache that met it once
// knows it again by its address alone. Taken when made: keep one only as long as no module can
// be unloaded (one load, save or copy).
#pragma once

#include <link.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class FixedTexts {
public:
    FixedTexts() {
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void* data) {
                auto& ranges = *static_cast<std::vector<Range>*>(data);
                for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
                    const ElfW(Phdr)& h = info->dlpi_phdr[i];
                    if (h.p_type != PT_LOAD || (h.p_flags & PF_W) || !h.p_memsz) continue;
                    const std::uintptr_t begin = info->dlpi_addr + h.p_vaddr;
                    ranges.push_back({begin, begin + h.p_memsz});
                }
                return 0;
            },
            &ranges_);
    }
    bool Holds(const char* text) const {
        const auto a = reinterpret_cast<std::uintptr_t>(text);
        for (const Range& r : ranges_)
            if (a >= r.begin && a < r.end) return true;
        return false;
    }

private:
    struct Range {
        std::uintptr_t begin, end;
    };
    std::vector<Range> ranges_;
};
