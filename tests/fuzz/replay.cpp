// Replays seed corpora through a fuzz target in the builds without
// libFuzzer: every file of every directory named on the command line, once.
// A broken property aborts, so the test fails.
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "testkit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

int main(int argc, char* argv[])
{
    size_t nInputs = 0;
    for (int i = 1; i < argc; ++i)
        for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
        {
            const std::string data = tk::Read(entry.path());
            ++nInputs;
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        }
    std::printf("%zu inputs replayed\n", nInputs);
    return nInputs == 0;
}
