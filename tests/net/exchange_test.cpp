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

struct FreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};

struct Outcome
{
    BOOLEAN bResult = FALSE;
    std::unique_ptr<char, FreeDeleter> response; // memory mode copy
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

TEST_F(ExchangeTest, PostDeliversTheBodyInMemory)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "abcdefg"}]})"));
    const Outcome o = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST);
    EXPECT_EQ(TRUE, o.bResult);
    ASSERT_TRUE(o.response);
    EXPECT_EQ(std::string("abcdefg"), o.response.get());
    EXPECT_EQ(7u, o.dwcb);
    EXPECT_EQ(1u, CountTrace("INFO", "abcdefg")); // mode 0 traces the text itself

    const std::vector<std::string> vRequests = netfx::ScriptedRequests();
    ASSERT_EQ(1u, vRequests.size());
    const std::string& strLine = vRequests[0];
    EXPECT_TRUE(Has(strLine, R"("method": "POST")"));
    EXPECT_TRUE(Has(strLine, R"("Content-Type": "application/json; charset=utf-8")"));
    EXPECT_TRUE(Has(strLine, R"("Transfer-Encoding": "chunked")"));
    EXPECT_TRUE(Has(strLine, R"("Cache-Control": "no-cache")"));
    EXPECT_TRUE(Has(strLine, R"("Connection": "Keep-Alive")"));
    EXPECT_TRUE(Has(strLine, R"("body": "{\"query\":\"status\"}")")) << strLine;
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
    EXPECT_EQ(10u, CountTrace("INFO", "curl_easy_getinfo, Returned status code (500)."));
}

TEST_F(ExchangeTest, RetryAfterUnavailableReturnsTheSecondBody)
{
    ASSERT_TRUE(netfx::StartScripted(
        R"({"/api": [{"status": 503, "body": "later"}, {"status": 200, "body": "second answer"}]})"));
    const Outcome o = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST);
    EXPECT_EQ(TRUE, o.bResult);
    ASSERT_TRUE(o.response);
    EXPECT_EQ(std::string("second answer"), o.response.get());
    EXPECT_EQ(13u, o.dwcb);
    const std::vector<std::string> vRequests = netfx::ScriptedRequests();
    ASSERT_EQ(2u, vRequests.size());
    for (const std::string& strLine : vRequests)
        EXPECT_TRUE(Has(strLine, R"("body_len": 18)")) << strLine;
}

TEST_F(ExchangeTest, RefusedConnectionIsNotRetried)
{
    const Outcome o = Exchange("http://127.0.0.1:9/api", HTTP_REQ_VERB_POST);
    EXPECT_EQ(FALSE, o.bResult);
    const std::vector<nettest::LogLine> vTrace = nettest::Trace();
    EXPECT_EQ(1u, nettest::Count(vTrace, "INFO", "All options set. Before curl_easy_perform."));
    EXPECT_EQ(1u, nettest::Count(vTrace, "ERROR",
                                 std::string("curl_easy_perform failed (7::") +
                                     curl_easy_strerror(CURLE_COULDNT_CONNECT) + ")."));
    EXPECT_EQ(1u, nettest::Count(vTrace, "ERROR", "curl_easy_perform failed."));
    EXPECT_EQ(1u, nettest::Count(
                      vTrace, "ERROR",
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

    const Outcome inFile = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST, 1);
    EXPECT_EQ(FALSE, inFile.bResult);
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
        if (mode == 1)
        {
            EXPECT_FALSE(o.bResponseTouched);
            EXPECT_EQ("AB", netfx::ReadFile(kResponseFile));
        }
        else
        {
            ASSERT_TRUE(o.response);
            EXPECT_EQ(std::string("AB"), o.response.get());
        }
    }
}

TEST_F(ExchangeTest, ModeTwoReturnsInMemoryWithoutTracingTheText)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "secret-token"}]})"));
    const Outcome o = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST, 2);
    EXPECT_EQ(TRUE, o.bResult);
    ASSERT_TRUE(o.response);
    EXPECT_EQ(std::string("secret-token"), o.response.get());
    EXPECT_EQ(0u, CountTrace("INFO", "secret-token"));
    EXPECT_EQ(1u, CountTrace("INFO", "Writing response."));
    EXPECT_FALSE(nettest::Exists(kResponseFile));
}

TEST_F(ExchangeTest, FileModeWritesTheResponseAndLeavesThePointer)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "to the file"}]})"));
    const Outcome o = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_POST, 1);
    EXPECT_EQ(TRUE, o.bResult);
    EXPECT_FALSE(o.bResponseTouched);
    EXPECT_EQ(11u, o.dwcb);
    EXPECT_EQ("to the file", netfx::ReadFile(kResponseFile));
    EXPECT_EQ(1u, CountTrace("INFO", "Writing response to: " + kResponseFile));
}

TEST_F(ExchangeTest, PutSendsItsBodyOnEveryAttemptAndLeavesNoBodyFile)
{
    ASSERT_TRUE(netfx::StartScripted(
        R"({"/api": [{"status": 503, "times": 2}, {"status": 200, "body": "stored"}]})"));
    const Outcome o = Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_PUT);
    EXPECT_EQ(TRUE, o.bResult);
    ASSERT_TRUE(o.response);
    EXPECT_EQ(std::string("stored"), o.response.get());
    EXPECT_FALSE(nettest::Exists(kPutBody));
    const std::vector<std::string> vRequests = netfx::ScriptedRequests();
    ASSERT_EQ(3u, vRequests.size());
    for (const std::string& strLine : vRequests)
    {
        EXPECT_TRUE(Has(strLine, R"("method": "PUT")")) << strLine;
        EXPECT_TRUE(Has(strLine, R"("body": "{\"query\":\"status\"}")")) << strLine;
        EXPECT_TRUE(Has(strLine, R"("Content-Type": "application/json; charset=utf-8")")) << strLine;
    }
}

TEST_F(ExchangeTest, FailedPutLeavesNoBodyFileEither)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 404}]})"));
    EXPECT_EQ(FALSE, Exchange(netfx::ScriptedUrl("api"), HTTP_REQ_VERB_PUT).bResult);
    EXPECT_FALSE(nettest::Exists(kPutBody));
    EXPECT_EQ(FALSE, Exchange("http://127.0.0.1:9/api", HTTP_REQ_VERB_PUT).bResult);
    EXPECT_FALSE(nettest::Exists(kPutBody));
}

// A GET has no body: none of the body headers, or the server would wait
// for a chunked body that never comes.
TEST_F(ExchangeTest, GetSendsNoBodyAndNoBodyHeaders)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "got"}]})"));
    // 0 and 4 are not verbs: Init stores GET for them.
    for (int iVerb : {1, 0, 4})
    {
        nettest::ClearTrace();
        const Outcome o = Exchange(netfx::ScriptedUrl("api"), static_cast<HTTP_REQ_VERB>(iVerb));
        EXPECT_EQ(TRUE, o.bResult) << iVerb;
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

TEST_F(ExchangeTest, StoredVerbChoosesTheMethod)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "ok"}]})"));
    struct Case
    {
        HTTP_REQ_VERB eVerb;
        const char* pcszMethod;
    };
    for (const Case& c : {Case{HTTP_REQ_VERB_POST, "POST"}, Case{HTTP_REQ_VERB_PUT, "PUT"},
                          Case{HTTP_REQ_VERB_GET, "GET"}})
        EXPECT_EQ(TRUE, Exchange(netfx::ScriptedUrl("api"), c.eVerb).bResult);
    const std::vector<std::string> vRequests = netfx::ScriptedRequests();
    ASSERT_EQ(3u, vRequests.size());
    EXPECT_TRUE(Has(vRequests[0], R"("method": "POST")"));
    EXPECT_TRUE(Has(vRequests[1], R"("method": "PUT")"));
    EXPECT_TRUE(Has(vRequests[2], R"("method": "GET")"));
}

TEST_F(ExchangeTest, MissingArgumentsAreRefusedBeforeAnyTransfer)
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
    EXPECT_EQ(0u, netfx::ScriptedRequests().size());
}

TEST_F(ExchangeTest, UnusableResponseFileFailsTheDelivery)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "ok"}]})"));
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
