#include "mox/firststart.h"

#include "kordao/kordao.h"
#include "mox/shell.h"

#include <QDir>
#include <QFileInfo>

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

} // namespace mox
