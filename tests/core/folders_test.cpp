// Where error files and journals go: the program's folder, unless it is a system one.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QString>

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

TEST(FileNames, ANameTooLongForAFileIsShortenedAndCanBeMade) {
    fs::path scratch = test::scratchDir("names");
    const std::string tail = "_Migrate_DUPLICATE.txt", e = "\xC3\xA9";
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += e;
    const struct {
        std::string head;
        bool kept;
    } cases[] = {
        {"items.xls", true},
        {std::string(255 - tail.size(), 'x'), true},
        {std::string(256 - tail.size(), 'x'), false},
        {std::string(240, 'L') + ".xls", false},
        {accents, false},
    };
    for (const auto& c : cases) {
        const std::string name = fittedFileName(c.head, tail);
        SCOPED_TRACE(c.head.size());
        if (c.kept) {
            EXPECT_EQ(name, c.head + tail);
            continue;
        }
        // As long as a name may be, less what a cut character leaves over.
        EXPECT_GE(name.size(), 254u);
        EXPECT_LE(name.size(), 255u);
        EXPECT_EQ(name.substr(name.size() - tail.size()), tail);
        // Cut between characters, never inside one.
        EXPECT_EQ(QString::fromUtf8(name.c_str()).toUtf8().toStdString(), name);
        EXPECT_EQ(fittedFileName(c.head, tail), name);
        EXPECT_NE(fittedFileName(c.head + "2", tail), name);
        std::FILE* f = openPrivate(scratch / pathFromUtf8(name), false);
        EXPECT_NE(f, nullptr) << name;
        if (f) std::fclose(f);
    }
}

}  // namespace
}  // namespace kordb
