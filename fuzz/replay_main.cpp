// Runs a fuzz target over the files of its corpus, without a fuzzing engine, so that CI
// replays every input that once found a fault.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const auto& entry : fs::directory_iterator(argv[i], ec))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
        } else if (fs::is_regular_file(argv[i], ec)) {
            inputs.emplace_back(argv[i]);
        }
        if (ec) {
            std::fprintf(stderr, "%s: %s\n", argv[i], ec.message().c_str());
            return 2;
        }
    }
    if (inputs.empty()) {  // a corpus that went missing must not pass unnoticed
        std::fprintf(stderr, "no inputs found\n");
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!in.eof() && in.fail()) {
            std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
            return 2;
        }
        static const std::uint8_t empty = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &empty : reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
