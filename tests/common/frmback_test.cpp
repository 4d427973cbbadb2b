#include "mox/frmback.h"
#include "mox/shell.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

class StartUpGuard : public testing::Test {
protected:
    // Runs the guard of a new background window; true when it let the start go on.
    bool load(mox::frmBack &back, const QString &commandLine,
              const QString &program = u"mox110"_s) {
        try {
            back.Form_Load(commandLine, program, m_locks.path());
            return true;
        } catch (const mox::ProgramEnded &e) {
            EXPECT_EQ(e.exitCode, 0);
            return false;
        }
    }

    void TearDown() override { mox::frmBack::p_iFrmBackOption = 0; }

    QTemporaryDir m_locks;
    mox::ScriptedShell m_shell;
};

TEST_F(StartUpGuard, EmptyOrBlankCommandLineEndsSilently) {
    for (const QString &line : {QString(), u"   "_s, u"\t "_s}) {
        mox::frmBack back;
        EXPECT_FALSE(load(back, line)) << line.toStdString();
    }
    EXPECT_TRUE(m_shell.boxes().empty());
}

TEST_F(StartUpGuard, OptionAllowsAnEmptyCommandLine) {
    mox::frmBack::p_iFrmBackOption = 1;
    mox::frmBack back;
    EXPECT_TRUE(load(back, u" "_s));
    EXPECT_FALSE(back.shrunk());
}

TEST_F(StartUpGuard, TrailingAtSignShrinksTheWindow) {
    for (const QString &line : {u"@"_s, u"menu @"_s, u"menu@   "_s}) {
        m_shell.clear();
        mox::frmBack back;
        ASSERT_TRUE(load(back, line)) << line.toStdString();
        EXPECT_TRUE(back.shrunk());
        EXPECT_EQ(back.size(), QSize(0, 0));
        EXPECT_EQ(back.windowState(), Qt::WindowNoState);
        EXPECT_EQ(m_shell.doEventsCount(), 1);
    }
}

TEST_F(StartUpGuard, AtSignElsewhereLeavesTheWindow) {
    for (const QString &line : {u"@menu"_s, u"a@b"_s, u"menu"_s}) {
        m_shell.clear();
        mox::frmBack back;
        const QSize designed = back.size();
        ASSERT_TRUE(load(back, line)) << line.toStdString();
        EXPECT_FALSE(back.shrunk());
        EXPECT_EQ(back.size(), designed);
        EXPECT_EQ(m_shell.doEventsCount(), 0);
    }
}

TEST_F(StartUpGuard, SecondCopyOfTheSameProgramEnds) {
    mox::frmBack first;
    ASSERT_TRUE(load(first, u"x"_s));
    mox::frmBack second;
    EXPECT_FALSE(load(second, u"x @"_s));
    EXPECT_TRUE(second.shrunk()) << "the at sign is handled before the instance test";
    EXPECT_TRUE(m_shell.boxes().empty());

    mox::frmBack other;
    EXPECT_TRUE(load(other, u"x"_s, u"mox030"_s)) << "another program runs side by side";
}

TEST_F(StartUpGuard, LockGoesWithTheWindow) {
    {
        mox::frmBack first;
        ASSERT_TRUE(load(first, u"x"_s));
    }
    mox::frmBack next;
    EXPECT_TRUE(load(next, u"x"_s));
}

// The guard in real processes: the probe runs startUp, prints "started ..." and lingers.
class StartUpProcess : public testing::Test {
protected:
    std::unique_ptr<QProcess> start(const QStringList &args, int lingerMs,
                                    const QString &program = u"mox110"_s) {
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

    static QString waitForLine(QProcess &p) {
        while (!p.canReadLine() && p.state() == QProcess::Running)
            p.waitForReadyRead(10'000);
        return QString::fromUtf8(p.readLine()).trimmed();
    }

    static void finish(QProcess &p) {
        EXPECT_TRUE(p.waitForFinished(20'000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    }

    QTemporaryDir m_runtime;
};

TEST_F(StartUpProcess, EmptyCommandLineEndsBeforeStarting) {
    const auto p = start({}, 0);
    finish(*p);
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_TRUE(p->readAllStandardOutput().isEmpty());
}

TEST_F(StartUpProcess, TrailingAtSignGivesAZeroSizedWindow) {
    const auto p = start({u"menu"_s, u"@"_s}, 0);
    EXPECT_EQ(waitForLine(*p), u"started shrunk 0x0"_s);
    finish(*p);
}

TEST_F(StartUpProcess, SecondCopyEndsSilentlyAndOtherProgramRuns) {
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

TEST_F(StartUpProcess, KilledCopyLeavesNoStaleLock) {
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
