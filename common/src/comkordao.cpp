#include "mox/comkordao.h"

#include "mox/shell.h"

using namespace Qt::StringLiterals;

namespace mox {
namespace {

enum class Subject { Database, Table };

struct Entry {
    short code;
    Subject subject;
    const char16_t* text;
};

constexpr Entry kEntries[] = {
    {-1, Subject::Database, u"はオープン／クローズ出来ません。"},
    {-2, Subject::Table, u"はオープン／クローズ出来ません。"},
    {-3, Subject::Table, u"の内容が取得できません。"},
    {-4, Subject::Database, u"は開かれています。"},
    {-5, Subject::Database, u"は閉じられています。"},
    {-6, Subject::Table, u"は開かれています。"},
    {-7, Subject::Table, u"は閉じられています。"},
    {-8, Subject::Table, u"は指定したレコードを検索できません。"},
    {-9, Subject::Table, u"のＥＯＦレコードを検出しました。"},
    {-10, Subject::Table, u"のレコード追加が出来ません。"},
    {-11, Subject::Table, u"のレコード編集が出来ません。"},
    {-12, Subject::Table, u"のレコード更新が出来ません。"},
    {-13, Subject::Table, u"のレコード削除が出来ません。"},
    {-14, Subject::Table, u"のレコード取消が出来ません。"},
    {-15, Subject::Table, u"のトランザクションの開始が出来ません。"},
    {-16, Subject::Table, u"のトランザクションの終了が出来ません。"},
    // This one ends in the half-width full stop.
    {-17, Subject::Table, u"のトランザクションのロールバックが出来ません｡"},
    {-18, Subject::Database, u"のパスまたはファイル名が不正です。"},
    {-19, Subject::Database, u"のパスが存在しません。"},
    {-20, Subject::Database, u"のパスまたはファイル名が存在しません。"},
    {-21, Subject::Table, u"は新規レコードの作成中です。"},
    {-22, Subject::Table, u"カレントレコードは編集中です。"},
    {-23, Subject::Table, u"カレントレコードは編集中ではありません。"},
    {-24, Subject::Table, u"引数が設定されていません。（Field/GroupBy）"},
    // Several desks on one database.
    {-30, Subject::Table, u"のレコードは読み込んだ後に他の端末で更新または削除されました。"},
    {-31, Subject::Table, u"は他の端末が使用中です。しばらく待ってからやり直してください。"},
    {-32, Subject::Database, u"との接続が切れました。"},
    {-33, Subject::Table,
     u"の処理が StatementTimeout= の制限時間内に終わりませんでした。処理を中止しました。"
     u"サーバーが混み合っていないときにやり直すか、設定ファイルの StatementTimeout= (秒) "
     u"を見直してください。"},
    {-66, Subject::Table, u"ＳＱＬステートメントの実行に失敗しました。"},
    {-77, Subject::Database, u"は最適化に失敗しました。"},
    {-84, Subject::Database, u"で最適化するパス又はファイル名が存在しません。"},
    {-85, Subject::Database, u"で最適化後のパスが存在しません。"},
    {-86, Subject::Database, u"で最適化後のファイルが既にに存在しています。"},
    {-87, Subject::Database, u"で最適化するパス又はファイル名が不正です。"},
    {-88, Subject::Database, u"で最適化後のパス又はファイル名が不正です。"},
    {-89, Subject::Database, u"で最適化前と後のパスとファイル名が同一です。"},
    {-99, Subject::Table, u"カレントレコードの初期化に失敗しました。"},
};

// Exit code of a program ended by a failing database status.
constexpr int kDatabaseFailureExit = 1;

} // namespace

QString daoStatusMessage(int status)
{
    for (const Entry& e : kEntries) {
        if (e.code == status) {
            const QString subject =
                e.subject == Subject::Database ? u"データベース"_s : u"テーブル"_s;
            return subject + QString::fromUtf16(e.text);
        }
    }
    return u"例外なステータスコードが検出されました。"_s;
}

bool daoStatusIsFatal(int status, bool tolerate)
{
    if (status >= 0)
        return false;
    return !(tolerate && (status == -9 || status == -99));
}

void prsDaoStatus(int status, bool tolerate)
{
    if (!daoStatusIsFatal(status, tolerate))
        return;
    const QString text =
        daoStatusMessage(status) + u"\r\n\r\nErr Status = "_s + QString::number(status);
    shell().messageBox(text, MsgIcon::Critical, MsgButtons::Ok, QString());
    shell().endProgram(kDatabaseFailureExit);
}

} // namespace mox
