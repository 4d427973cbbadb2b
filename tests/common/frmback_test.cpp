#include "mox/frmback.h"
#include "mox/shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// Runs the guard with the lock files in \p folder (empty: the default folder); the exit code
// when it ended the program.
std::optional<int> endCode(mox::frmBack& back, const QString& commandLine, const QString& folder,
                           const QString& program = u"mox110"_s)
{
    try {
        back.Form_Load(commandLine, program, folder);
        return std::nullopt;
    } catch (const mox::ProgramEnded& e) {
        return e.exitCode;
    }
}

// The permission bits of \p path, or -1 when it does not exist.
int modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

class StartUpGuard : public testing::Test {
protected:
    // Runs the guard of a new background window; true when it let the start go on.
    bool load(mox::frmBack& back, const QString& commandLine, const QString& program = u"mox110"_s)
    {
        const std::optional<int> code = endCode(back, commandLine, m_locks.path(), program);
        EXPECT_EQ(code.value_or(0), 0);
        return !code;
    }

    void TearDown() override { mox::frmBack::p_iFrmBackOption = 0; }

    QTemporaryDir m_locks;
    mox::ScriptedShell m_shell;
};

TEST_F(StartUpGuard, EmptyOrBlankCommandLineEndsSilently)
{
    for (const QString& line : {QString(), u"   "_s, u"\t "_s}) {
        mox::frmBack back;
        EXPECT_FALSE(load(back, line)) << line.toStdString();
    }
    EXPECT_TRUE(m_shell.boxes().empty());
}

TEST_F(StartUpGuard, OptionAllowsAnEmptyCommandLine)
{
    mox::frmBack::p_iFrmBackOption = 1;
    mox::frmBack back;
    EXPECT_TRUE(load(back, u" "_s));
    EXPECT_FALSE(back.shrunk());
}

TEST_F(StartUpGuard, TrailingAtSignShrinksTheWindow)
{
    for (const QString& line : {u"@"_s, u"menu @"_s, u"menu@   "_s}) {
        m_shell.clear();
        mox::frmBack back;
        ASSERT_TRUE(load(back, line)) << line.toStdString();
        EXPECT_TRUE(back.shrunk());
        EXPECT_EQ(back.size(), QSize(0, 0));
        EXPECT_EQ(back.windowState(), Qt::WindowNoState);
        EXPECT_EQ(m_shell.doEventsCount(), 1);
    }
}

TEST_F(StartUpGuard, AtSignElsewhereLeavesTheWindow)
{
    for (const QString& line : {u"@menu"_s, u"a@b"_s, u"menu"_s}) {
        m_shell.clear();
        mox::frmBack back;
        const QSize designed = back.size();
        ASSERT_TRUE(load(back, line)) << line.toStdString();
        EXPECT_FALSE(back.shrunk());
        EXPECT_EQ(back.size(), designed);
        EXPECT_EQ(m_shell.doEventsCount(), 0);
    }
}

TEST_F(StartUpGuard, SecondCopyOfTheSameProgramEnds)
{
    mox::frmBack first;
    ASSERT_TRUE(load(first, u"x"_s));
    mox::frmBack second;
    EXPECT_FALSE(load(second, u"x @"_s));
    EXPECT_TRUE(second.shrunk()) << "the at sign is handled before the instance test";
    EXPECT_TRUE(m_shell.boxes().empty());

    mox::frmBack other;
    EXPECT_TRUE(load(other, u"x"_s, u"mox030"_s)) << "another program runs side by side";
}

TEST_F(StartUpGuard, LockGoesWithTheWindow)
{
    {
        mox::frmBack first;
        ASSERT_TRUE(load(first, u"x"_s));
    }
    mox::frmBack next;
    EXPECT_TRUE(load(next, u"x"_s));
}

TEST_F(StartUpGuard, LockFileThatCannotBeMadeIsSaidAndEndsWithCodeOne)
{
    // Running as root, permissions refuse nothing: the folder that is a file, the missing
    // folder and the planted link fail for everybody, as a read-only or full disk does.
    QFile plain(m_locks.filePath(u"plain"_s));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString linked = m_locks.filePath(u"linked"_s);
    const QString victim = m_locks.filePath(u"victim"_s);
    ASSERT_TRUE(QDir().mkdir(linked));
    ASSERT_TRUE(QFile::link(victim, linked + u"/mox110.lock"_s));

    const struct {
        const char* name;
        QString folder;
        QString mentions;
    } cases[] = {
        {"folder is a file", plain.fileName(), u"を作成できません"_s},
        {"folder missing", m_locks.filePath(u"none"_s), u"を作成できません"_s},
        {"link in the lock file's place", linked, u"シンボリックリンク"_s},
    };
    for (const auto& c : cases) {
        m_shell.clear();
        mox::frmBack back;
        EXPECT_EQ(endCode(back, u"x"_s, c.folder), 1) << c.name;
        ASSERT_EQ(m_shell.boxes().size(), 1u) << c.name;
        const auto& box = m_shell.boxes().front();
        EXPECT_EQ(box.icon, mox::MsgIcon::Critical) << c.name;
        EXPECT_TRUE(box.text.contains(c.folder + u"/mox110.lock"_s)) << c.name;
        EXPECT_TRUE(box.text.contains(c.mentions)) << c.name << ": " << box.text.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(victim)) << "the lock followed the link";
}

// Sets an environment variable (or removes it, for a null text) for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(StartUpLockFolder, PrivateRuntimeFolderElseTheUsersCacheNeverTmp)
{
    mox::ScriptedShell shell;
    QTemporaryDir home;
    const QString runtime = home.filePath(u"run"_s);
    ASSERT_TRUE(QDir().mkdir(runtime));
    ScopedEnv cache("XDG_CACHE_HOME", home.filePath(u"cache"_s));
    const QString cacheLock = home.filePath(u"cache/mox/mox110.lock"_s);

    const struct {
        const char* name;
        QString runtimeEnv;
        mode_t runtimeMode;
        QString want;
    } cases[] = {
        {"private runtime folder", runtime, 0700, runtime + u"/mox110.lock"_s},
        {"no runtime folder", QString(), 0700, cacheLock},
        {"runtime folder others may enter", runtime, 0755, cacheLock},
        {"relative runtime folder", u"run"_s, 0700, cacheLock},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), c.runtimeMode), 0);
        ScopedEnv env("XDG_RUNTIME_DIR", c.runtimeEnv);
        {
            mox::frmBack back;
            ASSERT_EQ(endCode(back, u"x"_s, QString()), std::nullopt) << c.name;
            EXPECT_EQ(modeOf(c.want), 0600) << c.name;
        }
        QFile::remove(c.want);
    }
    EXPECT_EQ(modeOf(home.filePath(u"cache/mox"_s)), 0700);
    EXPECT_TRUE(shell.boxes().empty());
}

// The guard in real processes: the probe runs startUp, prints "started ..." and lingers.
class StartUpProcess : public testing::Test {
protected:
    std::unique_ptr<QProcess> start(const QStringList& args, int lingerMs,
                                    const QString& program = u"mox110"_s)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_s, m_runtime.path());
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"PROBE_PROGRAM"_s, program);
        env.insert(u"PROBE_LINGER_MS"_s, QString::number(lingerMs));
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(MOX_STARTUP_PROBE), args);
        EXPECT_TRUE(p->waitForStarted(10'000));
        return p;
    }

    static QString waitForLine(QProcess& p)
    {
        while (!p.canReadLine() && p.state() == QProcess::Running)
            p.waitForReadyRead(10'000);
        return QString::fromUtf8(p.readLine()).trimmed();
    }

    static void finish(QProcess& p)
    {
        EXPECT_TRUE(p.waitForFinished(20'000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    }

    QTemporaryDir m_runtime;
};

TEST_F(StartUpProcess, EmptyCommandLineEndsBeforeStarting)
{
    const auto p = start({}, 0);
    finish(*p);
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_TRUE(p->readAllStandardOutput().isEmpty());
}

TEST_F(StartUpProcess, TrailingAtSignGivesAZeroSizedWindow)
{
    const auto p = start({u"menu"_s, u"@"_s}, 0);
    EXPECT_EQ(waitForLine(*p), u"started shrunk 0x0"_s);
    finish(*p);
}

TEST_F(StartUpProcess, SecondCopyEndsSilentlyAndOtherProgramRuns)
{
    const auto first = start({u"x"_s}, 60'000);
    ASSERT_TRUE(waitForLine(*first).startsWith(u"started"_s));

    const auto second = start({u"x"_s}, 0);
    finish(*second);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAllStandardOutput().isEmpty());

    const auto ledger = start({u"x"_s}, 0, u"mox030"_s);
    EXPECT_TRUE(waitForLine(*ledger).startsWith(u"started"_s));
    finish(*ledger);

    first->kill();
    first->waitForFinished(10'000);
}

TEST_F(StartUpProcess, KilledCopyLeavesNoStaleLock)
{
    const auto first = start({u"x"_s}, 60'000);
    ASSERT_TRUE(waitForLine(*first).startsWith(u"started"_s));
    ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
    ASSERT_TRUE(first->waitForFinished(10'000));
    EXPECT_EQ(first->exitStatus(), QProcess::CrashExit);

    const auto next = start({u"x"_s}, 0);
    EXPECT_TRUE(waitForLine(*next).startsWith(u"started"_s));
    finish(*next);
}

} // namespace
