// Replays a seed corpus through a fuzz target in the builds without
// libFuzzer: every file of every directory named on the command line, once,
// in name order. A broken property aborts, so the test fails.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

int main(int argc, char* argv[])
{
    std::set<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i)
        for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
            inputs.insert(entry.path());
    for (const auto& path : inputs)
    {
        std::ifstream file(path, std::ios::binary);
        const std::string data{std::istreambuf_iterator<char>(file), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
