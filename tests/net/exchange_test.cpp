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
const std::string kRequest = R"({"query":"status"})";

struct Outcome
{
    BOOLEAN bResult = FALSE;
    std::unique_ptr<char, decltype(&std::free)> response{nullptr, &std::free}; // memory mode copy
    bool bResponseTouched = false;
    DWORD dwcb = 0;
};

// One Init and one exchange, response in memory (mode != 1) or in the file.
Outcome Exchange(const std::string& strUrl, HTTP_REQ_VERB eVerb, BOOLEAN boWriteResponseFile = 0,
                 const std::string& strResponseFile = kResponseFile)
{
    static char s_cSentinel = 0;
    Outcome outcome;
    CKVInet inet;
    EXPECT_EQ(TRUE, inet.InitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, eVerb));
    CHAR* pszResponse = &s_cSentinel;
    DWORD dwcb = 12345;
    outcome.bResult = inet.SendRequestAndGetResponse(kRequest.c_str(), boWriteResponseFile,
                                                     strResponseFile.c_str(), &pszResponse, dwcb);
    outcome.bResponseTouched = pszResponse != &s_cSentinel;
    if (outcome.bResponseTouched)
        outcome.response.reset(pszResponse);
    outcome.dwcb = dwcb;
    return outcome;
}

// The response as delivered: in the file in mode 1, in memory otherwise.
std::string Delivered(const Outcome& o, BOOLEAN mode)
{
    return mode == 1 ? netfx::ReadFile(kResponseFile) : o.response ? o.response.get() : "<none>";
}

// Fields of the scripted server's JSON log line, found as text.
bool Has(const std::string& strLogLine, const std::string& strFragment)
{
    return strLogLine.find(strFragment) != std::string::npos;
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
        ASSERT_TRUE(nettest::RemoveTree(kResponseFile));
        nettest::ClearTrace();
        const Outcome o = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST, mode);
        EXPECT_EQ(TRUE, o.bResult);
        EXPECT_EQ(7u, o.dwcb);
        EXPECT_EQ(mode == 1, o.bResponseTouched == false);
        EXPECT_EQ(mode == 1, nettest::Exists(kResponseFile));
        EXPECT_EQ(mode == 0 ? 1u : 0u, CountTrace("INFO", "abcdefg"));
        EXPECT_EQ(mode == 1 ? 1u : 0u, CountTrace("INFO", "Writing response to: " + kResponseFile));
        EXPECT_EQ("abcdefg", Delivered(o, mode));
    }
    const std::vector<std::string> vRequests = netfx::ScriptedRequests();
    ASSERT_EQ(3u, vRequests.size());
    for (const std::string& strLine : vRequests)
        for (const char* pcszField :
             {R"("method": "POST")", R"("Content-Type": "application/json; charset=utf-8")",
              R"("Transfer-Encoding": "chunked")", R"("Cache-Control": "no-cache")",
              R"("Connection": "Keep-Alive")", R"("body": "{\"query\":\"status\"}")"})
            EXPECT_TRUE(Has(strLine, pcszField)) << strLine;
}

TEST_F(ExchangeTest, TenAnswersWithoutSuccessMakeExactlyTenTransfers)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 500, "body": "busy"}]})"));
    const Outcome o = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST);
    EXPECT_EQ(FALSE, o.bResult);
    EXPECT_FALSE(o.bResponseTouched);
    EXPECT_EQ(12345u, o.dwcb);
    EXPECT_EQ(10u, netfx::ScriptedRequests().size());
    EXPECT_EQ(1u, CountTrace("ERROR",
                             "CURL is failed either for attempts exceeded reason or for other reason Attempts(10)."));
}

TEST_F(ExchangeTest, RefusedConnectionIsNotRetried)
{
    EXPECT_EQ(FALSE, Exchange("http://127.0.0.1:9/api", HTTP_REQ_VERB_POST).bResult);
    EXPECT_EQ(1u, CountTrace("INFO", "All options set. Before curl_easy_perform."));
    EXPECT_EQ(1u, CountTrace("ERROR",
                             "CURL is failed either for attempts exceeded reason or for other reason Attempts(0)."));
}

TEST_F(ExchangeTest, EmptySuccessIsAnEmptyTextInMemoryButAFailureInAFile)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200}]})"));
    const Outcome inMemory = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST, 0);
    EXPECT_EQ(TRUE, inMemory.bResult);
    ASSERT_TRUE(inMemory.response);
    EXPECT_EQ(std::string(), inMemory.response.get());
    EXPECT_EQ(0u, inMemory.dwcb);

    EXPECT_EQ(FALSE, Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST, 1).bResult);
    EXPECT_EQ(1u, CountTrace("ERROR", "Error Writing file."));
    EXPECT_TRUE(nettest::Exists(kResponseFile)); // created, then left in place
}

TEST_F(ExchangeTest, ResponseIsCutAtItsFirstNulByte)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body_hex": "414200434400"}]})"));
    for (BOOLEAN mode : {BOOLEAN(0), BOOLEAN(1)})
    {
        const Outcome o = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST, mode);
        EXPECT_EQ(TRUE, o.bResult);
        EXPECT_EQ(2u, o.dwcb);
        EXPECT_EQ("AB", Delivered(o, mode));
    }
}

// Each retry sends the whole body again (a PUT rewinds its body file) and
// returns the last answer; the PUT body file is removed on every path.
TEST_F(ExchangeTest, RetriesResendTheBodyAndPutLeavesNoBodyFile)
{
    struct Case
    {
        HTTP_REQ_VERB eVerb;
        const char* pcszMethod;
        const char* pcszScript;
        size_t nTransfers;
    };
    for (const Case& c :
         {Case{HTTP_REQ_VERB_POST, "POST", R"({"/api": [{"status": 503, "body": "later"}, {"status": 200, "body": "stored"}]})", 2},
          Case{HTTP_REQ_VERB_PUT, "PUT",
               R"({"/api": [{"status": 503, "body": "later", "times": 2}, {"status": 200, "body": "stored"}]})", 3}})
    {
        SCOPED_TRACE(c.pcszMethod);
        ASSERT_TRUE(netfx::StartScripted(c.pcszScript));
        const Outcome o = Exchange(netfx::ScriptedUrl("api"), c.eVerb);
        EXPECT_EQ(TRUE, o.bResult);
        EXPECT_EQ("stored", Delivered(o, 0));
        EXPECT_EQ(6u, o.dwcb);
        EXPECT_FALSE(nettest::Exists(kPutBody));
        const std::vector<std::string> vRequests = netfx::ScriptedRequests();
        ASSERT_EQ(c.nTransfers, vRequests.size());
        for (const std::string& strLine : vRequests)
            for (const std::string& strField : {std::string(R"("method": ")") + c.pcszMethod + "\"",
                                                std::string(R"("body": "{\"query\":\"status\"}")"),
                                                std::string(R"("Content-Type": "application/json; charset=utf-8")")})
                EXPECT_TRUE(Has(strLine, strField)) << strLine;
    }

    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 404}]})"));
    EXPECT_EQ(FALSE, Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_PUT).bResult);
    EXPECT_FALSE(nettest::Exists(kPutBody));
    EXPECT_EQ(FALSE, Exchange("http://127.0.0.1:9/api", HTTP_REQ_VERB_PUT).bResult);
    EXPECT_FALSE(nettest::Exists(kPutBody));
}

// A GET has no body: none of the body headers, or the server would wait
// for a chunked body that never comes. 0 and 4 are not verbs: Init stores GET.
TEST_F(ExchangeTest, GetSendsNoBodyAndNoBodyHeaders)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "got"}]})"));
    for (int iVerb : {1, 0, 4})
    {
        nettest::ClearTrace();
        EXPECT_EQ(TRUE, Exchange(netfx::ScriptedUrl("api"), static_cast<HTTP_REQ_VERB>(iVerb)).bResult) << iVerb;
        EXPECT_EQ(1u, CountTrace("INFO", "m_eHttpReqVerb : 1")) << iVerb;
    }
    const std::vector<std::string> vRequests = netfx::ScriptedRequests();
    ASSERT_EQ(3u, vRequests.size());
    for (const std::string& strLine : vRequests)
    {
        EXPECT_TRUE(Has(strLine, R"("method": "GET")")) << strLine;
        EXPECT_TRUE(Has(strLine, R"("body_len": 0)")) << strLine;
        EXPECT_FALSE(Has(strLine, "Transfer-Encoding")) << strLine;
        EXPECT_FALSE(Has(strLine, "Content-Type")) << strLine;
    }
}

TEST_F(ExchangeTest, BadArgumentsOrResponseFileFailTheCall)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "ok"}]})"));
    CKVInet inet;
    ASSERT_EQ(TRUE, inet.InitKVInet(netfx::ScriptedUrl("api").c_str(), nullptr, 0, nullptr, nullptr,
                                    HTTP_REQ_VERB_POST));
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 0;
    EXPECT_EQ(FALSE, inet.SendRequestAndGetResponse(nullptr, 0, nullptr, &pszResponse, dwcb));
    EXPECT_EQ(FALSE, inet.SendRequestAndGetResponse("x", 0, nullptr, nullptr, dwcb));
    EXPECT_EQ(2u, CountTrace("ERROR", "Invalid i/p parameters."));
    EXPECT_EQ(0u, netfx::ScriptedRequests().size()) << "refused before any transfer";

    EXPECT_EQ(FALSE, Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST, 1, "/var/tmp/missing-dir/out").bResult);
    EXPECT_EQ(1u, CountTrace("ERROR", "Error opening file."));
}

TEST(URLEncodeRequestTest, EncodesAllButUnreservedCharactersAndEquals)
{
    struct Case
    {
        const char* pcszIn;
        const char* pcszOut;
    };
    CKVInet inet;
    for (const Case& c : {Case{"x y=z&w", "x%20y=z%26w"}, Case{"~-_.", "~-_."}, Case{"\n", "%0a"},
                          Case{"AZaz09", "AZaz09"}, Case{"a/b+c", "a%2fb%2bc"}, Case{"\xe9\x80", "%e9%80"},
                          Case{"%", "%25"}, Case{"", ""}})
        EXPECT_EQ(c.pcszOut, inet.URLEncodeRequest(c.pcszIn)) << c.pcszIn;
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
