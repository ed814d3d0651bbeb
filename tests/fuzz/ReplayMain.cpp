// Runs a fuzz target's checks over input files, for compilers without libFuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    // An empty file inserts nothing, which marks the copy failed; only the source's state tells.
    if (in.is_open()) bytes << in.rdbuf();
    if (!in.is_open() || in.bad()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(2);
    }
    // A buffer of exactly the input's size, as libFuzzer passes it, so an
    // over-read is caught by a sanitizer here too.
    std::string text = bytes.str();
    auto exact = std::make_unique<std::uint8_t[]>(text.size());
    std::copy(text.begin(), text.end(), exact.get());
    LLVMFuzzerTestOneInput(exact.get(), text.size());
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    replay(entry.path());
                    ++count;
                }
            }
        } else {
            replay(path);
            ++count;
        }
    }
    std::printf("replayed %d inputs\n", count);
    return 0;
}
