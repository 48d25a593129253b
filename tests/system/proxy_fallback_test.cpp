// Downloads that fall back to the agent's proxy: the update source drops
// every direct connection (from 127.0.0.1), while the proxies' outgoing
// connections (from 127.0.0.2) get through.
#include "harness.h"

namespace systest
{
namespace
{

struct ProxyCase
{
    const char* name;
    Args start;    // servers.sh arguments that start the proxy
    Args options;  // servers.sh kvinet-opt arguments

    friend void PrintTo(const ProxyCase& c, std::ostream* os) { *os << c.name; }
};

class ProxyFallback : public SystemTest, public testing::WithParamInterface<ProxyCase>
{
public:
    static void SetUpTestSuite() { StartUpdateSource("drop-direct"); }
};

TEST_P(ProxyFallback, FetchesManifestAndPackageThroughTheProxy)
{
    const ProxyCase& c = GetParam();
    ASSERT_EQ(Servers(c.start), 0);
    Args options{"kvinet-opt"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(Servers(options), 0);
    Publish(ServicePack());

    RunResult r = RunSwitch(Http(1), Http(2), "-CASP");

    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(NewCrontabLines().size(), 1u);
    std::vector<std::string> served;
    for (const Request& q : Requests())
    {
        if (q.status == 200)
        {
            served.push_back(q.path);
            EXPECT_EQ(q.client, Fixture("FX_OUT_ADDR")) << q.path;
        }
        else
        {
            EXPECT_EQ(q.status, 444) << q.path;
            EXPECT_EQ(q.client, Fixture("FX_ADDR1")) << q.path;
        }
    }
    EXPECT_EQ(served, (std::vector<std::string>{"/upd/capatch.ini", "/upd/sp.tar.gz"}));
    EXPECT_EQ(Log().CountMessage("INFO", "SendRequestAndGetResponse Failed Without Proxy"), 2u);
}

const char* const kUser = "xedauser";
const char* const kPassword = "xedapass";
const std::string kCredentials = std::string(kUser) + ":" + kPassword;

INSTANTIATE_TEST_SUITE_P(
    ProxyFallback, ProxyFallback,
    testing::Values(ProxyCase{"HttpProxyWithPassword",
                              {"start-tinyproxy", "--auth", kCredentials},
                              {"--conn-type", "0", "--port", "3128", "--user", kUser, "--password", kPassword,
                               "--use-auth", "1"}},
                    ProxyCase{"Socks5WithPassword",
                              {"start-microsocks", "--auth", kCredentials},
                              {"--conn-type", "2", "--port", "1080", "--user", kUser, "--password", kPassword,
                               "--use-auth", "1"}},
                    ProxyCase{"Socks4", {"start-dante"}, {"--conn-type", "1", "--port", "1081"}}),
    [](const testing::TestParamInfo<ProxyCase>& info) { return std::string(info.param.name); });

class ProxyFallbackTest : public ProxyFallback
{
};

TEST_F(ProxyFallbackTest, ProxyThatRefusesLeavesNothingButTheTrace)
{
    ASSERT_EQ(Servers({"kvinet-opt", "--conn-type", "0", "--port", "9"}), 0);
    Publish(ServicePack());

    RunResult r = RunSwitch(Http(1), Http(2), "-CASP");

    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(Log().CountMessage("INFO", "failed with Proxy"), 2u) << "both base URLs";
    EXPECT_TRUE(Log().Has({"ERROR", "InstallXEDASP", "Ini downloa failed"}));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{});
    EXPECT_FALSE(Exists(std::string(kModuleDir) + "capatch.ini"));
}

}  // namespace
}  // namespace systest
