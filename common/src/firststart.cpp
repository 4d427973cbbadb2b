#include "mox/firststart.h"

#include "kordao/kordao.h"
#include "kordao/schema.h"
#include "mox/shell.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

using namespace Qt::StringLiterals;

namespace mox {

QString missingIniNotice()
{
    const QStringList folders = KorDAO::iniSearchFolders();
    QStringList shown;
    for (const QString& folder : folders) {
        if (QFileInfo(QDir(folder), u"MOX.INI"_s).isFile())
            return {};
        shown << u"　"_s + QDir::toNativeSeparators(folder);
    }
    return u"設定ファイル MOX.INI が見つかりません。次のフォルダを探しました。\r\n"_s +
           shown.join(u"\r\n"_s) +
           u"\r\n\r\nこの端末だけで使うときは、端末（ターミナル）で\r\n\r\n"
           u"　moxdb init\r\n\r\n"
           u"を実行してください。あなた専用のデータベースと設定ファイル（MOX.INI、MOXENV.INI）"
           u"が作られます（moxdb demo でデモ用のデータも入ります）。\r\n"
           u"事務室のサーバーを使うときは、管理者に MOX.INI と MOXENV.INI を用意してもらって"
           u"ください。"_s;
}

void prsIniCheck(const QString& title)
{
    const QString notice = missingIniNotice();
    if (notice.isEmpty())
        return;
    shell().messageBox(notice, MsgIcon::Critical, MsgButtons::Ok, title);
    shell().endProgram(1);
}

void prsSchemaCheck(const QString& title)
{
    for (const auto& [ini, kind] :
         {std::pair{u"MOX.INI"_s, KorDAO::DatabaseKind::Payroll},
          std::pair{u"MOXENV.INI"_s, KorDAO::DatabaseKind::Environment}}) {
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(ini);
        if (db.DAO_DBOpen() != 0)
            continue;
        const mox::Status s = KorDAO::checkSchemaVersion(db.DBDatabase(), kind);
        (void)db.DAO_DBClose();
        // A failing read is left to the program's own reads too; only a version is refused here.
        if (s.code != KorDAO::kSchemaTooNew && s.code != KorDAO::kSchemaTooOld)
            continue;
        shell().messageBox(s.message, MsgIcon::Critical, MsgButtons::Ok, title);
        shell().endProgram(1);
        return;
    }
}

} // namespace mox
