// URLEncodeRequest keeps only unreserved characters and '=' as they are and
// writes every other byte as "%xx" in lower case; decoding gives the input
// (up to its first 0 byte) back.
#include <cctype>
#include <cstring>

#include "fuzz.h"
#include "kvinet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string input = fuzz::Pieces(pData, nSize, 2)[0];
    const auto kept = [](char c) {
        return std::isalnum(c & 0xFF) || (c && std::strchr("-_.~=", c));
    };
    const std::string encoded = CKVInet().URLEncodeRequest(fuzz::Exact(input).get());
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i)
    {
        if (encoded[i] != '%')
        {
            FUZZ_CHECK(kept(encoded[i]));
            decoded += encoded[i];
            continue;
        }
        const std::string hex = encoded.substr(i + 1, 2);
        FUZZ_CHECK(hex.size() == 2 &&
                   hex.find_first_not_of("0123456789abcdef") == std::string::npos);
        decoded += static_cast<char>(std::stoi(hex, nullptr, 16));
        FUZZ_CHECK(!kept(decoded.back()));
        i += 2;
    }
    FUZZ_CHECK(decoded == input);
    return 0;
}
