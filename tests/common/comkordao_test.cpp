#include "mox/comkordao.h"
#include "mox/qtshell.h"
#include "mox/shell.h"

#include <QApplication>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

struct MessageCase {
    short code;
    const char16_t* message;
};

// Subject word and text as the users know them.
constexpr MessageCase kMessages[] = {
    {-1, u"データベースはオープン／クローズ出来ません。"},
    {-2, u"テーブルはオープン／クローズ出来ません。"},
    {-3, u"テーブルの内容が取得できません。"},
    {-4, u"データベースは開かれています。"},
    {-5, u"データベースは閉じられています。"},
    {-6, u"テーブルは開かれています。"},
    {-7, u"テーブルは閉じられています。"},
    {-8, u"テーブルは指定したレコードを検索できません。"},
    {-9, u"テーブルのＥＯＦレコードを検出しました。"},
    {-10, u"テーブルのレコード追加が出来ません。"},
    {-11, u"テーブルのレコード編集が出来ません。"},
    {-12, u"テーブルのレコード更新が出来ません。"},
    {-13, u"テーブルのレコード削除が出来ません。"},
    {-14, u"テーブルのレコード取消が出来ません。"},
    {-15, u"テーブルのトランザクションの開始が出来ません。"},
    {-16, u"テーブルのトランザクションの終了が出来ません。"},
    {-17, u"テーブルのトランザクションのロールバックが出来ません\uFF61"},
    {-18, u"データベースのパスまたはファイル名が不正です。"},
    {-19, u"データベースのパスが存在しません。"},
    {-20, u"データベースのパスまたはファイル名が存在しません。"},
    {-21, u"テーブルは新規レコードの作成中です。"},
    {-22, u"テーブルカレントレコードは編集中です。"},
    {-23, u"テーブルカレントレコードは編集中ではありません。"},
    {-24, u"テーブル引数が設定されていません。（Field/GroupBy）"},
    {-66, u"テーブルＳＱＬステートメントの実行に失敗しました。"},
    {-77, u"データベースは最適化に失敗しました。"},
    {-84, u"データベースで最適化するパス又はファイル名が存在しません。"},
    {-85, u"データベースで最適化後のパスが存在しません。"},
    {-86, u"データベースで最適化後のファイルが既にに存在しています。"},
    {-87, u"データベースで最適化するパス又はファイル名が不正です。"},
    {-88, u"データベースで最適化後のパス又はファイル名が不正です。"},
    {-89, u"データベースで最適化前と後のパスとファイル名が同一です。"},
    {-99, u"テーブルカレントレコードの初期化に失敗しました。"},
};

const QString kUnknown = u"例外なステータスコードが検出されました。"_s;

// Runs prsDaoStatus under a scripted shell; true when it ended the program.
bool reports(mox::ScriptedShell& sh, int status, bool tolerate)
{
    sh.clear();
    try {
        mox::prsDaoStatus(status, tolerate);
    } catch (const mox::ProgramEnded& e) {
        EXPECT_EQ(e.exitCode, 1);
        return true;
    }
    EXPECT_TRUE(sh.boxes().empty());
    return false;
}

TEST(DaoStatus, EveryKnownCodeShowsItsMessageAndEnds)
{
    mox::ScriptedShell sh;
    for (const MessageCase& m : kMessages) {
        ASSERT_TRUE(reports(sh, m.code, false)) << m.code;
        ASSERT_EQ(sh.boxes().size(), 1u);
        const mox::ScriptedShell::Box& box = sh.boxes().front();
        EXPECT_EQ(box.text, QString::fromUtf16(m.message) + u"\r\n\r\nErr Status = "_s +
                                QString::number(m.code));
        EXPECT_EQ(box.icon, mox::MsgIcon::Critical);
        EXPECT_EQ(box.buttons, mox::MsgButtons::Ok);
        EXPECT_TRUE(box.title.isEmpty());
    }
}

TEST(DaoStatus, UpdateFailureBoxReadsInFull)
{
    mox::ScriptedShell sh;
    ASSERT_TRUE(reports(sh, -12, false));
    EXPECT_EQ(sh.boxes().front().text,
              u"テーブルのレコード更新が出来ません。\r\n\r\nErr Status = -12"_s);
    EXPECT_EQ(mox::daoStatusMessage(-12).size(), 18);
    EXPECT_TRUE(mox::daoStatusMessage(-17).endsWith(QChar(0xFF61)));
}

TEST(DaoStatus, StatementCutOffIsToldApartFromALockWait)
{
    // A slow statement names its own limit; the lock wait's message would send the operator
    // looking for another desk that does not exist.
    const QString cut = mox::daoStatusMessage(-33);
    EXPECT_TRUE(cut.startsWith(u"テーブルの処理が StatementTimeout= の制限時間内に"_s))
        << cut.toStdString();
    EXPECT_FALSE(cut.contains(u"他の端末"_s)) << cut.toStdString();
    EXPECT_NE(cut, kUnknown);
}

TEST(DaoStatus, CodesWithoutAnEntryShowTheExceptionText)
{
    mox::ScriptedShell sh;
    for (const short code :
         std::initializer_list<short>{-25, -65, -67, -76, -78, -83, -90, -98, -100, -32768}) {
        ASSERT_TRUE(reports(sh, code, false)) << code;
        EXPECT_EQ(sh.boxes().front().text,
                  kUnknown + u"\r\n\r\nErr Status = "_s + QString::number(code));
    }
}

TEST(DaoStatus, SuccessAndToleratedStatusesPassSilently)
{
    mox::ScriptedShell sh;
    for (const short code : std::initializer_list<short>{0, 1, 5, 32767}) {
        EXPECT_FALSE(reports(sh, code, false)) << code;
        EXPECT_FALSE(reports(sh, code, true)) << code;
    }
    EXPECT_FALSE(reports(sh, -9, true));
    EXPECT_FALSE(reports(sh, -99, true));
    EXPECT_TRUE(reports(sh, -9, false));
    EXPECT_TRUE(reports(sh, -99, false));
    EXPECT_TRUE(reports(sh, -8, true)) << "only -9 and -99 are tolerated";
    EXPECT_FALSE(reports(sh, 40'000, false)) << "a large record count is no failure";
    EXPECT_TRUE(reports(sh, -1, true));
}

TEST(DaoStatusDeathTest, RealShellEndsTheProcessAfterTheBox)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto failAndAnswer = [] {
        // Answer the box as soon as it is up, and say what it showed.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                std::fprintf(stderr, "box shown\n");
                box->close();
            }
        });
        answer.start(20);
        mox::installQtShell(); // as the programs do at start
        mox::prsDaoStatus(-20, false);
        std::fprintf(stderr, "after the call\n");
    };
    EXPECT_EXIT(failAndAnswer(), testing::ExitedWithCode(1), "box shown");
}

// Without a desktop shell (a library used by a tool, before a program installs its own) the box
// goes to the error stream, the end hooks run and the process still ends at once.
TEST(DaoStatusDeathTest, HeadlessShellWritesTheBoxAndEnds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto fail = [] {
        mox::shell().addBeforeEndHook([] { std::fprintf(stderr, "hook ran\n"); });
        mox::prsDaoStatus(-20, false);
        std::fprintf(stderr, "after the call\n");
    };
    EXPECT_EXIT(fail(), testing::ExitedWithCode(1), "Err Status = -20\nhook ran");
}

TEST(HeadlessShell, AnswersNoToAQuestionAndOpensNothing)
{
    mox::HeadlessShell sh;
    EXPECT_EQ(
        sh.messageBox(u"消しますか"_s, mox::MsgIcon::Question, mox::MsgButtons::YesNo, QString()),
        mox::MsgAnswer::No)
        << "a question nobody can answer must not be taken as Yes";
    EXPECT_EQ(sh.messageBox(u"了解"_s, mox::MsgIcon::Information, mox::MsgButtons::Ok, QString()),
              mox::MsgAnswer::Ok);
    EXPECT_FALSE(sh.openUrl(QUrl::fromLocalFile(u"/tmp/x.pdf"_s)));
}

} // namespace
