// Where error files and journals go: the program's folder, unless it is a system one.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/files.h"
#include "tests/support/test_env.h"

namespace kordb {
namespace {

namespace fs = std::filesystem;

TEST(ErrorFileFolder, SystemFoldersAreNeverWrittenWhoeverRuns) {
    fs::path scratch = test::scratchDir("folders");
    fs::create_symlink("/usr/bin", scratch / "linked-bin");
    const struct {
        fs::path folder;
        bool system;
    } cases[] = {
        {"/usr/bin", true},
        {"/usr/local/bin", true},
        {"/opt/kordb/bin", true},
        {"/usr/bin/../lib/kordb", true},
        {"/bin", true},
        {scratch / "linked-bin", true},  // a link into the system is the system
        {"/usr2/bin", false},
        {"/home/shop/kordb", false},
        {scratch, false},
    };
    const char* data = std::getenv("XDG_DATA_HOME");
    ASSERT_NE(data, nullptr);
    for (const auto& c : cases) {
        EXPECT_EQ(isSystemFolder(c.folder), c.system) << c.folder;
        if (c.system) {  // also as root, who could write there
            EXPECT_EQ(errorFileFolder(c.folder), fs::path(data) / "KORDB") << c.folder;
        }
    }
    EXPECT_EQ(errorFileFolder(scratch), scratch);
}

}  // namespace
}  // namespace kordb
