// Replays a fuzz target's corpus through its own entry point, in the ordinary (sanitized)
// build: every file of the folder given on the command line is one input, taken in name
// order. A target that finds a breach aborts, so the replay fails as the run did; the
// replay also fails on a folder it cannot read or that holds no input.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size);
// Optional in a target, as with the fuzzing engine.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    // The target's initialisation may rewrite the arguments.
    std::string const folder = argv[1];
    std::error_code error;
    std::vector<std::filesystem::path> inputs;
    for (auto const& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file())
            inputs.push_back(entry.path());
    if (error || inputs.empty()) {
        std::fprintf(stderr, "no input in %s\n", folder.c_str());
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    for (auto const& path : inputs) {
        // The file is closed before the target runs: it holds no descriptor of the replay's.
        std::vector<char> bytes;
        {
            std::ifstream file(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            if (file.bad()) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
        }
        // A block of the input's exact size, so the address checker sees a read past its end.
        std::unique_ptr<std::uint8_t[]> const input(new std::uint8_t[std::max<std::size_t>(bytes.size(), 1)]);
        std::copy(bytes.begin(), bytes.end(), input.get());
        std::fprintf(stderr, "replaying %s\n", path.filename().c_str());
        LLVMFuzzerTestOneInput(input.get(), bytes.size());
    }
    // On the error stream, as the rest: a target may have sent the standard output away.
    std::fprintf(stderr, "%zu inputs replayed from %s\n", inputs.size(), folder.c_str());
    return 0;
}
