// URLEncodeRequest keeps only unreserved characters and '=' as they are and
// writes every other byte as "%xx"; decoding gives the input back.
#include <cctype>
#include <cstring>

#include "fuzz.h"
#include "kvinet.h"

namespace
{
bool Kept(char c) // what is never escaped
{
    return std::isalnum(static_cast<unsigned char>(c)) || (c != 0 && std::strchr("-_.~=", c));
}

int HexDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
           : c >= 'a' && c <= 'f'                      ? c - 'a' + 10
                                                       : -1;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string input = fuzz::Input(pData, nSize).Text();
    CKVInet inet;
    const std::string encoded = inet.URLEncodeRequest(fuzz::Exact(input).get());
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(encoded[i]);
        if (c != '%')
        {
            FUZZ_CHECK(Kept(char(c)));
            decoded += static_cast<char>(c);
            continue;
        }
        FUZZ_CHECK(i + 2 < encoded.size());
        const int iHigh = HexDigit(encoded[i + 1]), iLow = HexDigit(encoded[i + 2]);
        FUZZ_CHECK(iHigh >= 0 && iLow >= 0);
        const char byte = static_cast<char>(iHigh * 16 + iLow);
        FUZZ_CHECK(!Kept(byte));
        decoded += byte;
        i += 2;
    }
    FUZZ_CHECK(decoded == input);
    return 0;
}
