#include "moxdb/backup.h"

using namespace Qt::StringLiterals;

namespace moxdb {

mox::Status makeBackup(const QString& iniDir, const QString& file, QTextStream& out)
{
    (void)iniDir;
    (void)out;
    return mox::Status::failure(-1, u"バックアップはまだ作成できません: %1"_s.arg(file));
}

mox::Status restoreBackup(const QString& iniDir, const QString& file, bool replace,
                          QTextStream& out)
{
    (void)iniDir;
    (void)replace;
    (void)out;
    return mox::Status::failure(-1, u"バックアップはまだ復元できません: %1"_s.arg(file));
}

} // namespace moxdb
