// The per-user settings store: case-blind keys, exact values, owner-only file.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "core/errors.h"
#include "settings/settings_store.h"
#include "tests/support/test_env.h"

namespace kordb {
namespace {

TEST(SettingsStore, KeysMatchWithoutCaseAndValuesRoundTripExactly) {
    auto dir = test::scratchDir("store");
    SettingsStore store(dir);
    EXPECT_EQ(store.get("KORDB", "GeneralSetting", "cserver"), "") << "missing key is empty";
    store.save("KORDB", "GeneralSetting", "cServer", "  SRV\\SQL2008 ");
    store.save("KORDB", "GeneralSetting", "cPassword", "p=a;s s#[x]");
    EXPECT_EQ(store.get("KORDB", "GeneralSetting", "cserver"), "  SRV\\SQL2008 ");
    EXPECT_EQ(store.get("KORDB", "generalsetting", "CPASSWORD"), "p=a;s s#[x]");

    // Writing under another case replaces the value rather than adding a second key.
    store.save("KORDB", "GeneralSetting", "CSERVER", "other");
    EXPECT_EQ(store.get("KORDB", "GeneralSetting", "cServer"), "other");
    std::string text = test::readFile(store.fileFor("KORDB"));
    EXPECT_EQ(text.find("cServer="), std::string::npos);
    EXPECT_NE(text.find("[GeneralSetting]"), std::string::npos);

    // Another section keeps its own keys.
    store.save("KORDB", "Other", "cServer", "x");
    EXPECT_EQ(store.get("KORDB", "GeneralSetting", "cServer"), "other");
    EXPECT_EQ(store.get("KORDB", "Other", "cserver"), "x");
    EXPECT_EQ(SettingsStore(dir).get("KORDB", "GeneralSetting", "cpassword"), "p=a;s s#[x]");
}

TEST(SettingsStore, FileIsReadableByItsOwnerOnly) {
    auto dir = test::scratchDir("mode");
    SettingsStore store(dir / "nested");
    store.save("KORDB", "GeneralSetting", "cPassword", "secret");
    struct stat st {};
    ASSERT_EQ(::stat(store.fileFor("KORDB").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);
    ::chmod(store.fileFor("KORDB").c_str(), 0644);
    store.save("KORDB", "GeneralSetting", "cPassword", "again");
    ASSERT_EQ(::stat(store.fileFor("KORDB").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600) << "a rewrite restores the owner-only mode";
}

TEST(SettingsStore, UnwritableLocationIsAnErrorNamingTheFile) {
    auto dir = test::scratchDir("blocked");
    std::ofstream(dir / "plainfile") << "x";  // a file where the folder should be
    SettingsStore store(dir / "plainfile");
    try {
        store.save("KORDB", "GeneralSetting", "cServer", "x");
        ADD_FAILURE() << "no error";
    } catch (const KorError& e) {
        EXPECT_NE(std::string(e.what()).find("KORDB.ini"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace kordb
