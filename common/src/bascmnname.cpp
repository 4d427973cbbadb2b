#include "mox/bascmnname.h"

#include "mox/shell.h"

#include <kordao/kordao.h>

#include <QCoreApplication>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

constexpr qsizetype kNameWidth = 20;
constexpr qsizetype kEraCodeWidth = 1;
constexpr qsizetype kEraNameWidth = 6;

struct NameModule {
    std::array<QString, 10> names;
    std::array<Era, 3> eras;
    CurrentEra current;
    Currency adjustHealth;
    Currency adjustPension;
    // The environment database stays open between lookups, so that the next lookup reuses its
    // connection (and the statements prepared on it) instead of connecting again.
    std::unique_ptr<KorDAO::clsDbAccess> environment;
};

NameModule& module()
{
    static NameModule m;
    return m;
}

// The environment database of the lookups, opened again through its INI file for each lookup
// (which finds the connection kept since the last one); closed before Qt's end.
KorDAO::clsDbAccess& environment()
{
    NameModule& m = module();
    if (!m.environment) {
        m.environment = std::make_unique<KorDAO::clsDbAccess>();
        qAddPostRoutine([] { module().environment.reset(); });
    }
    return *m.environment;
}

// A text cut or blank-padded to exactly \p width characters.
QString fixedWidth(const QString& text, qsizetype width)
{
    return text.left(width).leftJustified(width, u' ');
}

void clearNames(NameModule& m)
{
    m.names.fill(fixedWidth(QString(), kNameWidth));
    for (Era& e : m.eras)
        e = Era{fixedWidth(QString(), kEraCodeWidth), fixedWidth(QString(), kEraNameWidth),
                Currency()};
}

void showFailure(const QString& text)
{
    shell().messageBox(text, MsgIcon::Critical, MsgButtons::Ok, QString());
}

QString textField(KorDAO::Record& rec, const QString& field)
{
    return rec[field].toString().trimmed();
}

// Copies the fields of \p kind from the current record. Every field is read before anything is
// changed, so a field that cannot be read (KorDAO::DaoError) leaves the module as it was.
void copyKind(NameModule& m, KorDAO::clsTbAccess& table, short kind)
{
    KorDAO::Record rec = table.TBRec();
    const auto names = [&](const QString& prefix, int count) {
        for (int i = 0; i < count; ++i)
            m.names[static_cast<std::size_t>(i)] =
                fixedWidth(textField(rec, prefix + QString::number(i + 1)), kNameWidth);
    };
    switch (kind) {
    case 1:
        names(u"SYOKU"_s, 10);
        break;
    case 2:
        names(u"ZAIMU"_s, 9);
        break;
    case 3:
        names(u"HATSU"_s, 8);
        break;
    case 4: {
        std::array<Era, 3> eras;
        for (std::size_t i = 0; i < eras.size(); ++i) {
            const QString n = QString::number(i + 1);
            eras[i] = Era{fixedWidth(textField(rec, u"NENKB"_s + n), kEraCodeWidth),
                          fixedWidth(textField(rec, u"NENKJ"_s + n), kEraNameWidth),
                          rec[u"NENST"_s + n].toCurrency()};
        }
        m.eras = eras;
        break;
    }
    case 5:
        m.names[0] = fixedWidth(textField(rec, u"KIGOU"_s), kNameWidth);
        break;
    case 6: {
        const Currency one = Currency::fromYen(1);
        const Currency health = one - rec[u"KENKO"_s].toCurrency();
        const Currency pension = one - rec[u"KOSEI"_s].toCurrency();
        m.adjustHealth = health;
        m.adjustPension = pension;
        break;
    }
    default:
        break;
    }
}

} // namespace

void prsNameRead(short kind)
{
    NameModule& m = module();
    clearNames(m);
    if (kind < 1 || kind > 6)
        return;

    KorDAO::clsDbAccess& db = environment();
    db.setDBIniNameString(u"MOXENV.INI"_s);
    if (db.DAO_DBOpen() != 0) {
        showFailure(u"MOXENV データベースのオープンに失敗しました。"_s);
        return;
    }
    {
        KorDAO::clsTbAccess table;
        table.setTBDatabase(db.DBDatabase());
        table.setTBNameString(u"名設定"_s);
        const int count = table.DAO_TableOpen(QString(), QString());
        if (count < 0) {
            showFailure(u"名称設定テーブルのオープンに失敗しました。"_s);
        } else {
            if (count > 0 && table.DAO_RecRead(1) == 0) {
                // A NULL or non-numeric era start or rate: treated like an unreadable record.
                (void)KorDAO::readFields([&] { copyKind(m, table, kind); });
            }
            (void)table.DAO_TableClose();
        }
    }
}

const std::array<QString, 10>& cmnNames()
{
    return module().names;
}

const std::array<Era, 3>& eraTable()
{
    return module().eras;
}

const CurrentEra& currentEra()
{
    return module().current;
}

Currency roundingAdjustHealth()
{
    return module().adjustHealth;
}

Currency roundingAdjustPension()
{
    return module().adjustPension;
}

CurrentEra eraDateOf(const std::array<Era, 3>& eras, Currency date)
{
    const auto started = [date](const Era& e) { return !e.start.isZero() && e.start <= date; };
    const Era& chosen = started(eras[1]) ? (started(eras[2]) ? eras[2] : eras[1]) : eras[0];
    const Currency startYear = chosen.start.dividedBy(10'000, Rounding::Floor, 0);
    const Currency eraDate = date - (startYear - Currency::fromYen(1)) * 10'000;
    return CurrentEra{chosen.name, chosen.code, eraDate};
}

Currency prfEraDate(Currency date)
{
    prsNameRead(4);
    NameModule& m = module();
    m.current = eraDateOf(m.eras, date);
    return m.current.date;
}

short prfZaimuKbn(const QString& code)
{
    QString c = code.trimmed().toUpper();
    if (c.size() == 5) {
        if (!c.startsWith(u'E'))
            return 0;
        c.remove(0, 1);
    }
    if (c.size() < 2)
        return 0;
    for (QChar ch : c) {
        if (ch < u'0' || ch > u'9')
            return 0;
    }
    bool ok = false;
    const short n = c.toShort(&ok);
    if (!ok)
        return 0;
    if ((n >= 4179 && n <= 4182) || (n >= 5136 && n <= 5137))
        return 5;
    if ((n >= 4201 && n <= 4299) || (n >= 5201 && n <= 5299))
        return 1;
    return static_cast<short>(c[1].unicode() - u'0');
}

} // namespace mox
