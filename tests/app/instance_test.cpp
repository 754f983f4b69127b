// The real program started twice by one user: the second start ends silently; a lock left by
// a killed first start does not block the next one.

#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <chrono>
#include <thread>

#include "app/single_instance.h"
#include "tests/app/window_fixture.h"

namespace kordb::test {
namespace {

QString program() {
    const char* bin = std::getenv("KORDB_BIN_DIR");
    return QString::fromLocal8Bit(bin ? bin : "") + "/kordb";
}

// Starts the program under the offscreen platform; shot: where it saves its window and ends.
std::unique_ptr<QProcess> start(const std::filesystem::path& shot = {}) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (shot.empty())
        env.remove("KORDB_SCREENSHOT");
    else
        env.insert("KORDB_SCREENSHOT", QString::fromStdString(shot.string()));
    p->setProcessEnvironment(env);
    p->start(program(), {});
    return p;
}

bool waitFor(const std::function<bool()>& cond, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

qint64 lockHolder(const std::filesystem::path& lockFile) {
    QLockFile probe(QString::fromStdString(lockFile.string()));
    qint64 pid = 0;
    QString host, app;
    return probe.getLockInfo(&pid, &host, &app) ? pid : 0;
}

TEST(SingleInstance, SecondStartEndsSilentlyAndAStaleLockDoesNotBlock) {
    ASSERT_TRUE(QFile::exists(program())) << program().toStdString();
    const auto dir = scratchDir("instances");
    // The runtime folder the test environment names may not exist yet.
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
        std::filesystem::create_directories(run);
        std::filesystem::permissions(run, std::filesystem::perms::owner_all);
    }
    const auto lockFile = instanceLockFile();
    ASSERT_FALSE(lockFile.empty());
    std::filesystem::remove(lockFile);

    auto first = start();
    ASSERT_TRUE(first->waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return lockHolder(lockFile) == first->processId(); }, 10000))
        << "the first start holds the lock";

    // The second start would save a picture of its window if it showed one.
    const auto shot = dir / "second.png";
    auto second = start(shot);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(second->waitForFinished(10000));
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_TRUE(second->readAllStandardError().isEmpty()) << "nothing said";
    EXPECT_TRUE(second->readAllStandardOutput().isEmpty());
    EXPECT_FALSE(std::filesystem::exists(shot)) << "no window shown";

    EXPECT_EQ(first->state(), QProcess::Running) << "the first is unaffected";
    EXPECT_EQ(lockHolder(lockFile), first->processId());

    // A crash leaves the lock file behind, held by a process that is gone.
    first->kill();
    ASSERT_TRUE(first->waitForFinished(5000));
    ASSERT_TRUE(std::filesystem::exists(lockFile));

    const auto thirdShot = dir / "third.png";
    auto third = start(thirdShot);
    ASSERT_TRUE(third->waitForFinished(15000));
    EXPECT_EQ(third->exitCode(), 0);
    EXPECT_TRUE(std::filesystem::exists(thirdShot)) << "the window was shown";
    EXPECT_FALSE(std::filesystem::exists(lockFile)) << "released at the end";
}

}  // namespace
}  // namespace kordb::test
