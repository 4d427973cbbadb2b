#include "editionfiles.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace KorTAX {

QString tableName(Table table)
{
    return table == Table::Monthly ? u"給与所得の源泉徴収税額表（月額表）"_s
                                   : u"賞与に対する源泉徴収税額の算出率の表"_s;
}

QString editionName(QDate from)
{
    const int year = from.year();
    if (year >= 2020)
        return u"令和%1年分"_s.arg(year - 2018);
    if (year == 2019)
        return u"令和元年分"_s;
    return u"平成%1年分"_s.arg(year - 1988);
}

QStringList tableFiles(Table table)
{
    if (table == Table::Bonus)
        return {kBonusFile};
    return {kMonthlyFile, kFormulaFile};
}

bool hasTableFiles(const QString& dir, Table table)
{
    const QDir d(dir);
    for (const QString& name : tableFiles(table)) {
        if (QFileInfo::exists(d.filePath(name)))
            return true;
    }
    return false;
}

mox::Status tableFilesFound(const QString& dir)
{
    if (!QFileInfo(dir).isDir())
        return mox::Status::failure(kStatusMissingFile,
                                    u"税額表のフォルダ %1 がありません。"_s.arg(dir));
    if (hasTableFiles(dir, Table::Monthly) || hasTableFiles(dir, Table::Bonus))
        return mox::Status::success();
    return mox::Status::failure(
        kStatusMissingFile,
        u"フォルダ %1 に税額表のファイル（%2）がありません。"_s.arg(
            dir, (tableFiles(Table::Monthly) + tableFiles(Table::Bonus)).join(u"、"_s)));
}

bool FolderCheck::ok() const
{
    if (!status.ok() || tables.empty())
        return false;
    for (const TableCheck& t : tables) {
        if (!t.status.ok())
            return false;
    }
    return true;
}

FolderCheck checkEditionDir(const QString& dir)
{
    FolderCheck out;
    out.status = tableFilesFound(dir);
    if (!out.status.ok())
        return out;
    for (const Table table : {Table::Monthly, Table::Bonus}) {
        if (!hasTableFiles(dir, table))
            continue;
        Edition e;
        TableCheck check{table, readTable(dir, table, e), 0};
        if (check.status.ok()) {
            std::size_t bands = e.monthly.size();
            for (const auto& column : e.bonus)
                bands += column.size();
            check.bands = static_cast<int>(bands);
        }
        out.tables.push_back(std::move(check));
    }
    return out;
}

} // namespace KorTAX
