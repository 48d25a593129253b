// SendRequestAndGetResponse, URLEncodeRequest and the multipart stub,
// against the scripted server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "kvinet.h"
#include "net_test_util.h"
#include "netfixtures.h"

namespace
{
using nettest::CountTrace;

const std::string kResponseFile = "/var/tmp/exchange.out";
const std::string kPutBody = "/tmp/curlPut.req";
const std::string kBodyField = R"("body": "{\"query\":\"status\"}")";
const std::string kJsonType = R"("Content-Type": "application/json; charset=utf-8")";

struct Outcome
{
    BOOLEAN bResult = FALSE;
    std::unique_ptr<char, decltype(&std::free)> response{nullptr, &std::free}; // memory mode copy
    bool bResponseTouched = false;
    DWORD dwcb = 12345;
};

// One Init and one exchange, response in memory (mode != 1) or in the file.
Outcome Exchange(HTTP_REQ_VERB eVerb, BOOLEAN mode = 0, const std::string& strUrl = netfx::ScriptedUrl("api"),
                 const std::string& strResponseFile = kResponseFile)
{
    static char s_cSentinel = 0;
    Outcome o;
    CKVInet inet;
    EXPECT_EQ(TRUE, inet.InitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, eVerb));
    CHAR* pszResponse = &s_cSentinel;
    o.bResult = inet.SendRequestAndGetResponse(R"({"query":"status"})", mode, strResponseFile.c_str(), &pszResponse,
                                               o.dwcb);
    if ((o.bResponseTouched = pszResponse != &s_cSentinel))
        o.response.reset(pszResponse);
    return o;
}

// The response as delivered: in the file in mode 1, in memory otherwise.
std::string Delivered(const Outcome& o, BOOLEAN mode)
{
    return mode == 1 ? netfx::ReadFile(kResponseFile) : o.response ? o.response.get() : "<none>";
}

// Every request the scripted server logged holds each of vFields (as text).
void ExpectRequests(size_t nExpected, const std::vector<std::string>& vFields, const char* pcszAbsent = "\x01")
{
    const std::vector<std::string> vRequests = netfx::ScriptedRequests();
    EXPECT_EQ(nExpected, vRequests.size());
    for (const std::string& strLine : vRequests)
    {
        for (const std::string& strField : vFields)
            EXPECT_NE(std::string::npos, strLine.find(strField)) << strLine;
        EXPECT_EQ(std::string::npos, strLine.find(pcszAbsent)) << strLine;
    }
}

class ExchangeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(nettest::RemoveTree(kResponseFile));
        nettest::ClearTrace();
    }
};

// One body delivered in the three modes: memory and traced (0), file (1),
// memory and not traced (2); every POST carries the body and its headers.
TEST_F(ExchangeTest, PostDeliversTheBodyInEveryMode)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "abcdefg"}]})"));
    for (BOOLEAN mode : {BOOLEAN(0), BOOLEAN(1), BOOLEAN(2)})
    {
        SCOPED_TRACE(int(mode));
        SetUp();
        const Outcome o = Exchange(HTTP_REQ_VERB_POST, mode);
        EXPECT_EQ(TRUE, o.bResult);
        EXPECT_EQ(7u, o.dwcb);
        EXPECT_EQ(mode == 1, o.bResponseTouched == false);
        EXPECT_EQ(mode == 1, nettest::Exists(kResponseFile));
        EXPECT_EQ(mode == 0 ? 1u : 0u, CountTrace("INFO", "abcdefg"));
        EXPECT_EQ(mode == 1 ? 1u : 0u, CountTrace("INFO", "Writing response to: " + kResponseFile));
        EXPECT_EQ("abcdefg", Delivered(o, mode));
    }
    ExpectRequests(3, {R"("method": "POST")", kJsonType, R"("Transfer-Encoding": "chunked")",
                       R"("Cache-Control": "no-cache")", R"("Connection": "Keep-Alive")", kBodyField});
}

// Ten non-200 answers make exactly ten transfers; a refused connection is
// not retried.
TEST_F(ExchangeTest, RetryRules)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 500, "body": "busy"}]})"));
    const Outcome o = Exchange(HTTP_REQ_VERB_POST);
    EXPECT_EQ(FALSE, o.bResult);
    EXPECT_FALSE(o.bResponseTouched);
    EXPECT_EQ(12345u, o.dwcb);
    EXPECT_EQ(10u, netfx::ScriptedRequests().size());
    EXPECT_EQ(1u, CountTrace("ERROR",
                             "CURL is failed either for attempts exceeded reason or for other reason Attempts(10)."));

    nettest::ClearTrace();
    EXPECT_EQ(FALSE, Exchange(HTTP_REQ_VERB_POST, 0, "http://127.0.0.1:9/api").bResult);
    EXPECT_EQ(1u, CountTrace("INFO", "All options set. Before curl_easy_perform."));
    EXPECT_EQ(1u, CountTrace("ERROR",
                             "CURL is failed either for attempts exceeded reason or for other reason Attempts(0)."));
}

// An empty success is an empty text in memory but a failure in a file; a
// body is cut at its first NUL byte.
TEST_F(ExchangeTest, EmptyAndNulBodies)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200}]})"));
    const Outcome inMemory = Exchange(HTTP_REQ_VERB_POST, 0);
    EXPECT_EQ(TRUE, inMemory.bResult);
    EXPECT_EQ("", Delivered(inMemory, 0));
    EXPECT_EQ(0u, inMemory.dwcb);
    EXPECT_EQ(FALSE, Exchange(HTTP_REQ_VERB_POST, 1).bResult);
    EXPECT_EQ(1u, CountTrace("ERROR", "Error Writing file."));
    EXPECT_TRUE(nettest::Exists(kResponseFile)); // created, then left in place

    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body_hex": "414200434400"}]})"));
    for (BOOLEAN mode : {BOOLEAN(0), BOOLEAN(1)})
    {
        const Outcome o = Exchange(HTTP_REQ_VERB_POST, mode);
        EXPECT_EQ(TRUE, o.bResult);
        EXPECT_EQ(2u, o.dwcb);
        EXPECT_EQ("AB", Delivered(o, mode));
    }
}

// Each retry sends the whole body again (a PUT rewinds its body file) and
// returns the last answer; the PUT body file is removed on every path.
TEST_F(ExchangeTest, RetriesResendTheBodyAndPutLeavesNoBodyFile)
{
    for (const auto& [eVerb, pcszMethod, nTimes] :
         {std::make_tuple(HTTP_REQ_VERB_POST, "POST", 1), std::make_tuple(HTTP_REQ_VERB_PUT, "PUT", 2)})
    {
        SCOPED_TRACE(pcszMethod);
        ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 503, "body": "later", "times": )" +
                                         std::to_string(nTimes) + R"(}, {"status": 200, "body": "stored"}]})"));
        const Outcome o = Exchange(eVerb);
        EXPECT_EQ(TRUE, o.bResult);
        EXPECT_EQ("stored", Delivered(o, 0));
        EXPECT_EQ(6u, o.dwcb);
        EXPECT_FALSE(nettest::Exists(kPutBody));
        ExpectRequests(nTimes + 1, {R"("method": ")" + std::string(pcszMethod) + "\"", kBodyField, kJsonType});
    }
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 404}]})"));
    EXPECT_EQ(FALSE, Exchange(HTTP_REQ_VERB_PUT).bResult);
    EXPECT_FALSE(nettest::Exists(kPutBody));
    EXPECT_EQ(FALSE, Exchange(HTTP_REQ_VERB_PUT, 0, "http://127.0.0.1:9/api").bResult);
    EXPECT_FALSE(nettest::Exists(kPutBody));
}

// A GET has no body: none of the body headers, or the server would wait
// for a chunked body that never comes. 4 is not a verb: Init stores GET.
TEST_F(ExchangeTest, GetSendsNoBodyAndNoBodyHeaders)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "got"}]})"));
    EXPECT_EQ(TRUE, Exchange(HTTP_REQ_VERB_GET).bResult);
    EXPECT_EQ(TRUE, Exchange(static_cast<HTTP_REQ_VERB>(4)).bResult);
    EXPECT_EQ(2u, CountTrace("INFO", "m_eHttpReqVerb : 1"));
    ExpectRequests(2, {R"("method": "GET")", R"("body_len": 0)"}, "Content-Type");
    ExpectRequests(2, {}, "Transfer-Encoding");
}

TEST_F(ExchangeTest, BadArgumentsOrResponseFileFailTheCall)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "ok"}]})"));
    CKVInet inet;
    ASSERT_EQ(TRUE, inet.InitKVInet(netfx::ScriptedUrl("api").c_str(), nullptr, 0, nullptr, nullptr,
                                    HTTP_REQ_VERB_POST));
    DWORD dwcb = 0;
    EXPECT_EQ(FALSE, inet.SendRequestAndGetResponse("x", 0, nullptr, nullptr, dwcb));
    EXPECT_EQ(1u, CountTrace("ERROR", "Invalid i/p parameters."));
    EXPECT_EQ(0u, netfx::ScriptedRequests().size()) << "refused before any transfer";

    EXPECT_EQ(FALSE, Exchange(HTTP_REQ_VERB_POST, 1, netfx::ScriptedUrl("api"), "/var/tmp/missing-dir/out").bResult);
    EXPECT_EQ(1u, CountTrace("ERROR", "Error opening file."));
}

TEST(URLEncodeRequestTest, EncodesAllButUnreservedCharactersAndEquals)
{
    CKVInet inet;
    for (const auto& [pcszIn, pcszOut] : {std::make_pair("x y=z&w~-_.AZaz09", "x%20y=z%26w~-_.AZaz09"),
                                          std::make_pair("\na/b+c%\xe9\x80", "%0aa%2fb%2bc%25%e9%80"),
                                          std::make_pair("", "")})
        EXPECT_EQ(pcszOut, inet.URLEncodeRequest(pcszIn)) << pcszIn;
}

TEST(MultipartTest, ReturnsFalseAndWritesNeitherOutput)
{
    CKVInet inet;
    MULTIPART_REQUEST vRequest = {{FIELD_TYPE_NORMAL, "name", "value"}, {FIELD_TYPE_FILE, "f", "/etc/hostname"}};
    CHAR cSentinel = 0;
    CHAR* pszResponse = &cSentinel;
    DWORD dwcb = 77;
    EXPECT_EQ(FALSE, inet.SendMultipartRequestAndGetResponse(vRequest, &pszResponse, dwcb));
    EXPECT_EQ(&cSentinel, pszResponse);
    EXPECT_EQ(77u, dwcb);
}
} // namespace
