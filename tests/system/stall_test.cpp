// A source that stops sending halfway through the package holds the run a
// minute at most: the attempt fails, and the second source serves it.
#include "fixture.h"

namespace sys
{
namespace
{
using StallTest = SystemTest;

TEST_F(StallTest, ASourceThatStopsSendingGivesWayToTheSecond)
{
    Publish(ServicePack({"--random", "kvlinxsp/data=256K"}));
    ExpectClean(Run({tk::Url(1, "stall/upd"), tk::Url(2, "upd"), "-CASP", kModule}));
    EXPECT_TRUE(ScheduledServicePack());
    EXPECT_EQ("scheduled", tk::Report());
    EXPECT_EQ("", tk::MissingInOrder(tk::Trace(), {"E SpSendRequestAndGetResponse|28",
                                                   "I InstallXEDASP|crontab line added: *"}));
    EXPECT_EQ(Left(), (Strings{"kvlinxsp", "sp.tgz", "capatch.ini"}));
}
} // namespace
} // namespace sys
