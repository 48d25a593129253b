// The check that only root can change a path, component by component.
#include <gtest/gtest.h>

#include "safefs.h"
#include "testkit.h"

namespace
{
// /tmp is root's, sticky and writable by all, as /var/tmp is.
TEST(CheckRootOnly, EveryFolderOnTheWayAndTheFileItself)
{
    // clang-format off
    const struct { const char* setup; const char* path; TRUST_KIND eKind; TRUST_FAULT eFault; const char* at; } cases[] = {
        {"", "/tmp/r/f", TRUST_FILE, TRUST_OK, "/tmp/r/f"},
        {"chmod 664 f", "/tmp/r/f", TRUST_FILE, TRUST_WRITABLE, "/tmp/r/f"},
        {"chown 65534 f", "/tmp/r/f", TRUST_FILE, TRUST_NOT_ROOTS, "/tmp/r/f"},
        {"chmod 777 .", "/tmp/r/f", TRUST_FILE, TRUST_WRITABLE, "/tmp/r"},
        {"chmod 1777 .", "/tmp/r/f", TRUST_FILE, TRUST_OK, "/tmp/r/f"},
        {"chmod 1777 .", "/tmp/r", TRUST_FOLDER, TRUST_WRITABLE, "/tmp/r"},
        {"chown 65534 .", "/tmp/r/f", TRUST_FILE, TRUST_NOT_ROOTS, "/tmp/r"},
        {"ln -s f l", "/tmp/r/l", TRUST_FILE, TRUST_LINK, "/tmp/r/l"},
        {"ln -s r /tmp/l", "/tmp/l/f", TRUST_FILE, TRUST_LINK, "/tmp/l"},
        {"", "/tmp/r/g/f", TRUST_FILE, TRUST_MISSING, "/tmp/r/g"},
        {"", "/tmp/r/f", TRUST_FOLDER, TRUST_NOT_FOLDER, "/tmp/r/f"},
        {"", "//tmp/r/", TRUST_FILE, TRUST_NOT_FILE, "/tmp/r"},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        tk::Remove("/tmp/r");
        tk::Remove("/tmp/l");
        ASSERT_TRUE(tk::Write("/tmp/r/f", ""));
        ASSERT_EQ(0, tk::Run({"/bin/sh", "-c", std::string("chmod 755 .; ") + c.setup}, "/dev/null",
                             "/tmp/r"));
        const TRUST_RESULT result = CheckRootOnly(c.path, c.eKind);
        EXPECT_EQ(c.eFault, result.eFault) << c.setup << " " << c.path;
        EXPECT_EQ(c.at, result.strAt) << c.setup << " " << c.path;
    }
}
} // namespace
