#include "moxdb/audit.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

QString actionText(const QString& action)
{
    static const std::pair<const char16_t*, const char16_t*> names[] = {
        {u"INSERT", u"追加"},          {u"UPDATE", u"更新"},          {u"DELETE", u"削除"},
        {u"BULK INSERT", u"一括追加"}, {u"BULK DELETE", u"一括削除"}, {u"CLEAR", u"全件削除"},
    };
    for (const auto& [stored, shown] : names) {
        if (action == QStringView(stored))
            return QString::fromUtf16(shown) + u'(' + action + u')';
    }
    return action;
}

QString valueText(const QJsonValue& v)
{
    if (v.isNull() || v.isUndefined())
        return u"(なし)"_s;
    if (v.isString())
        return v.toString();
    return v.toVariant().toString();
}

// The indented lines under an audit row: one a field changed, or the records of a bulk action.
QStringList changeLines(const QString& changes)
{
    if (changes.trimmed().isEmpty())
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(changes.toUtf8());
    QStringList lines;
    if (doc.isArray()) {
        for (const QJsonValue& entry : doc.array()) {
            const QJsonArray change = entry.toArray();
            if (change.size() != 3 || !change[0].isString())
                return {changes};
            lines << u"%1: %2 → %3"_s.arg(change[0].toString(), valueText(change[1]),
                                          valueText(change[2]));
        }
        return lines;
    }
    if (doc.isObject() && doc.object().contains(u"records"_s))
        return {u"件数: %1"_s.arg(valueText(doc.object().value(u"records"_s)))};
    return {changes};
}

QString who(KorDAO::Record rec)
{
    QString text = rec[u"OSUSER"].toString();
    if (const QString host = rec[u"HOST"].toString(); !host.isEmpty())
        text += u'@' + host;
    if (!rec[u"DBUSER"].isNull())
        text += (text.isEmpty() ? u"(DB: "_s : u" (DB: "_s) + rec[u"DBUSER"].toString() + u')';
    return text.isEmpty() ? u"(不明)"_s : text;
}

} // namespace

mox::Result<QString> auditFilter(const AuditSelection& selection)
{
    QStringList parts;
    if (selection.employee) {
        if (*selection.employee < 0)
            return mox::Status::failure(KorDAO::kBadCondition,
                                        u"職員コードには 0 以上の整数を指定してください。"_s);
        parts << u"SYOKCD = %1"_s.arg(*selection.employee);
    }
    if (!selection.since.isEmpty()) {
        // Checked here to the letter: only a real day YYYY-MM-DD reaches the filter.
        static const QRegularExpression form(u"^[0-9]{4}-[0-9]{2}-[0-9]{2}$"_s);
        if (!form.match(selection.since).hasMatch() ||
            !QDate::fromString(selection.since, u"yyyy-MM-dd"_s).isValid())
            return mox::Status::failure(
                KorDAO::kBadCondition,
                u"日付「%1」が正しくありません。YYYY-MM-DD（例 2026-12-01）で指定してください。"_s
                    .arg(selection.since));
        // The times are stored "YYYY-MM-DD HH:MM:SS.mmm", so text order is time order.
        parts << u"AT >= '%1'"_s.arg(selection.since);
    }
    return parts.join(u" AND "_s);
}

mox::Result<int> printAuditTrail(const KorDAO::DatabaseHandle& db, const AuditSelection& selection,
                                 QTextStream& out)
{
    mox::Result<QString> filter = auditFilter(selection);
    if (const mox::Status* s = mox::failure(filter))
        return *s;
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db);
    tb.setTBNameString(QString::fromUtf16(KorDAO::kAuditTable));
    if (const int n = tb.DAO_TableOpen(mox::value(filter), u"ID"_s); n < 0)
        return mox::Status::failure(static_cast<short>(n),
                                    u"監査記録を読めません: %1"_s.arg(tb.lastError()));
    int printed = 0;
    short st = 0;
    const mox::Status read = KorDAO::readFields([&] {
        for (st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2)) {
            KorDAO::Record rec = tb.TBRec();
            QStringList parts = {rec[u"AT"].toString(),      who(rec),
                                 rec[u"PROGRAM"].toString(), rec[u"TABLENAME"].toString(),
                                 rec[u"RECKEY"].toString(),  actionText(rec[u"ACTION"].toString())};
            parts.removeAll(QString()); // a bulk action has no key
            out << parts.join(u"  "_s) << '\n';
            for (const QString& line : changeLines(rec[u"CHANGES"].toString()))
                out << "    " << line << '\n';
            ++printed;
        }
    });
    if (!read.ok())
        return mox::Status::failure(read.code, u"監査記録を読めません: %1"_s.arg(read.message));
    if (st != KorDAO::kEndOfRecords)
        return mox::Status::failure(st, u"監査記録を読めません: %1"_s.arg(tb.lastError()));
    (void)tb.DAO_TableClose();
    if (printed == 0)
        out << u"条件に合う監査記録はありません。"_s << '\n';
    out.flush();
    return printed;
}

} // namespace moxdb
