// CKVInet's handles and its request/response exchange against the scripted
// server: verbs, headers, retries, delivery in memory or to a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "kvinet.h"
#include "testkit.h"

namespace
{
// One Init and one exchange of the body {"q":1}: the result, the copy handed
// out ("-" for none), the file's content and the length reported.
std::string Exchange(const std::string& json, HTTP_REQ_VERB eVerb, BOOLEAN mode = 0,
                     const char* url = "http://127.0.0.1:8090/api")
{
    EXPECT_TRUE(json.empty() || tk::StartScripted(json));
    tk::Remove("/var/tmp/response");
    tk::Remove(tk::kTraceLog);
    CKVInet inet;
    EXPECT_EQ(TRUE, inet.InitKVInet(url, nullptr, 0, nullptr, nullptr, eVerb));
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 7;
    const BOOLEAN bResult =
        inet.SendRequestAndGetResponse(R"({"q":1})", mode, "/var/tmp/response", &pszResponse, dwcb);
    const std::string copy = pszResponse ? pszResponse : "-";
    free(pszResponse);
    return std::to_string(bResult) + " " + copy + " " + tk::Read("/var/tmp/response") + " " +
           std::to_string(dwcb);
}

// Mode 1 writes the file, any other mode hands out a copy, which mode 0
// traces. Any answer but 200 is repeated, ten transfers at most, each with
// the whole body (a PUT rewinds its body file, which no path leaves behind);
// a refused connection is not repeated. An empty answer is an empty copy but
// no file; a body ends at its first NUL.
TEST(Exchange, DeliveryAndRetries)
{
    const std::string kBody = R"({"/api": [{"body": "abcdefg"}]})", kEmpty = R"({"/api": [{}]})";
    // clang-format off
    const struct { std::string json; HTTP_REQ_VERB eVerb; BOOLEAN mode; std::string outcome, trace;
                   size_t nRequests; } cases[] = {
        {kBody, HTTP_REQ_VERB_POST, 0, "1 abcdefg  7", "I SendRequestAndGetResponse|abcdefg", 1},
        {kBody, HTTP_REQ_VERB_POST, 1, "1 - abcdefg 7", "I SendRequestAndGetResponse|Writing response to: /var/tmp/response", 1},
        {kBody, HTTP_REQ_VERB_POST, 2, "1 abcdefg  7", "I SendRequestAndGetResponse|Writing response.", 1},
        {R"({"/api": [{"status": 500}]})", HTTP_REQ_VERB_POST, 0, "0 -  7",
         "E SendRequestAndGetResponse|CURL is failed either for attempts exceeded reason or for other reason Attempts(10).", 10},
        {R"({"/api": [{"status": 503, "times": 2}, {"body": "stored"}]})", HTTP_REQ_VERB_PUT, 0, "1 stored  6",
         "I SendRequestAndGetResponse|stored", 3},
        {kEmpty, HTTP_REQ_VERB_POST, 0, "1   0", "I SendRequestAndGetResponse|Exit.", 1},
        {kEmpty, HTTP_REQ_VERB_POST, 1, "0 -  7", "E SendRequestAndGetResponse|Error Writing file.", 1},
        {R"({"/api": [{"body_hex": "41420043"}]})", HTTP_REQ_VERB_POST, 0, "1 AB  2", "I SendRequestAndGetResponse|AB", 1},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(c.outcome, Exchange(c.json, c.eVerb, c.mode)) << c.trace;
        EXPECT_EQ(1u, tk::Count(tk::Trace(), c.trace));
        EXPECT_EQ(c.mode == 0 && c.json == kBody,
                  tk::Count(tk::Trace(), "I SendRequestAndGetResponse|abcdefg") == 1);
        EXPECT_FALSE(tk::Exists("/tmp/curlPut.req"));
        const tk::Strings requests = tk::ScriptedRequests();
        EXPECT_EQ(c.nRequests, requests.size());
        for (const char* field :
             {R"("body": "{\"q\":1}")", R"("Transfer-Encoding": "chunked")",
              R"("Content-Type": "application/json; charset=utf-8")",
              R"("Cache-Control": "no-cache")", R"("Connection": "Keep-Alive")"})
            for (const std::string& request : requests)
                EXPECT_NE(std::string::npos, request.find(field)) << request;
    }
    EXPECT_EQ("0 -  7", Exchange("", HTTP_REQ_VERB_PUT, 0, "http://127.0.0.1:9/api"));
    EXPECT_EQ(1u, tk::Count(tk::Trace(),
                            "E SendRequestAndGetResponse|CURL is failed either for attempts "
                            "exceeded reason or for other reason Attempts(0)."));
    EXPECT_FALSE(tk::Exists("/tmp/curlPut.req"));
}

// /tmp is everyone's: a body file by that name that is not this user's own
// regular file is neither written through nor removed, and the PUT fails;
// a leftover of our own is replaced.
TEST(Exchange, PutBodyFileIsNeverSomeoneElses)
{
    const std::string kPut = "/tmp/curlPut.req", kOk = R"({"/api": [{"body": "ok"}]})";
    // clang-format off
    const struct { const char* what; std::function<bool()> plant; std::string outcome; } cases[] = {
        {"symlink", [&] { return symlink("/tmp/target", kPut.c_str()) == 0; }, "0 -  7"},
        {"other owner", [&] { return tk::Write(kPut, "x") && chown(kPut.c_str(), 65534, 0) == 0; }, "0 -  7"},
        {"own leftover", [&] { return tk::Write(kPut, "x"); }, "1 ok  2"}};
    // clang-format on
    for (const auto& c : cases)
    {
        ASSERT_TRUE(tk::Write("/tmp/target", "theirs"));
        tk::Remove(kPut);
        ASSERT_TRUE(c.plant()) << c.what;
        EXPECT_EQ(c.outcome, Exchange(kOk, HTTP_REQ_VERB_PUT)) << c.what;
        const bool bRefused = c.outcome[0] == '0';
        EXPECT_EQ(bRefused, tk::Count(tk::Trace(), "E SendRequestAndGetResponse|Curl PUT fopen "
                                                   "write request failed.") == 1);
        EXPECT_EQ("theirs", tk::Read("/tmp/target"));
        EXPECT_EQ(bRefused, tk::Exists(kPut)) << c.what; // the name itself, links not followed
    }
}

// A GET sends no body and none of the body headers; 4 is no verb and makes
// a GET. Init refuses an empty URL; the proxy credentials are user:password
// unescaped (the scripted server plays a proxy asking for them).
TEST(Exchange, GetInitProxyAndCredentials)
{
    EXPECT_EQ("1   0", Exchange(R"({"/api": [{}]})", HTTP_REQ_VERB_UNDEFINED));
    EXPECT_EQ("1   0", Exchange(R"({"/api": [{}]})", static_cast<HTTP_REQ_VERB>(4)));
    const std::string request = tk::ScriptedRequests().at(0);
    EXPECT_TRUE(request.find(R"("method": "GET")") + 1 &&
                request.find("Transfer-Encoding") + 1 == 0)
        << request;
    CKVInet inet;
    EXPECT_EQ(FALSE, inet.InitKVInet("", nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
    EXPECT_EQ("E InitKVInet|Invalid i/p parameter.", tk::Trace().back());
    auto fetch = [](const std::string& url, SHORT useproxy, int port, const char* password) {
        CKVInet handle;
        CHAR* pszResponse = nullptr;
        DWORD dwcb = 0;
        return handle.SPInitKVInet(url.c_str(), "127.0.0.1", port, "us er", password,
                                   HTTP_REQ_VERB_POST, useproxy, 0, 1) &&
               handle.SpSendRequestAndGetResponse(url.c_str(), TRUE, "/var/tmp/k", &pszResponse,
                                                  dwcb);
    };
    for (const auto& [password, basic] :
         {std::pair{"p@ss:w%rd", "dXMgZXI6cEBzczp3JXJk"}, {"", "dXMgZXI6"}})
    {
        ASSERT_TRUE(tk::StartScripted(
            R"({"*": [{"status": 407, "headers": {"Proxy-Authenticate": "Basic"}}, {"body": "via proxy"}]})"));
        EXPECT_TRUE(fetch(tk::Url(2, "k"), 1, 8090, password));
        EXPECT_NE(std::string::npos,
                  tk::ScriptedRequests().at(1).find(std::string("Basic ") + basic))
            << basic;
    }
}
} // namespace
