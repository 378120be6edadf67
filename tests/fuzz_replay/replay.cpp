// Replays the saved inputs of one fuzz target through its entry point, without the fuzzing
// engine: every file named on the command line (or found in a folder named there) is read and
// handed over once. An input that once crashed the target crashes this program again, and a
// failing run names the file. The targets' scratch files go to a folder of this run's own,
// removed at the end.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
        } else {
            inputs.emplace_back(argv[i]);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 2;
    }
    std::string scratch = (fs::temp_directory_path() / "fuzz-replay-XXXXXX").string();
    if (!::mkdtemp(scratch.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    ::setenv("TMPDIR", scratch.c_str(), 1);
    for (const fs::path& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 2;
        }
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
