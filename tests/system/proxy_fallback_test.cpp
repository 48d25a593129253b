// Downloads that fall back to the agent's proxy: the update source drops
// every direct connection (from 127.0.0.1), while the proxies' outgoing
// connections (from 127.0.0.2) get through.
#include "harness.h"

namespace systest
{
namespace
{

class ProxyFallbackTest : public SystemTest
{
public:
    static void SetUpTestSuite() { StartUpdateSource("drop-direct"); }
};

TEST_F(ProxyFallbackTest, FetchesManifestAndPackageThroughTheProxy)
{
    ASSERT_EQ(Servers({"start-tinyproxy", "--auth", "xedauser:xedapass"}), 0);
    ASSERT_EQ(Servers({"kvinet-opt", "--conn-type", "0", "--port", "3128", "--user", "xedauser", "--password",
                       "xedapass", "--use-auth", "1"}),
              0);
    Publish(ServicePack());
    RunResult r = RunSwitch(Http(1), Http(2), "-CASP");

    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(NewCrontabLines().size(), 1u);
    Strings served;
    for (const Request& q : Requests())
    {
        if (q.status == 200)
            served.push_back(q.path);
        EXPECT_EQ(q.client, Fixture(q.status == 200 ? "FX_OUT_ADDR" : "FX_ADDR1")) << q.path;
        EXPECT_TRUE(q.status == 200 || q.status == 444) << q.status << q.path;
    }
    EXPECT_EQ(served, (Strings{"/upd/capatch.ini", "/upd/sp.tar.gz"}));
    EXPECT_EQ(Log().Count({"INFO", "", "SendRequestAndGetResponse Failed Without Proxy"}), 2u);
}

}  // namespace
}  // namespace systest
