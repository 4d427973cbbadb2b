#include "moxdb/bonusseason.h"

#include "kortax/kortax.h"
#include "mox/bascmnname.h"
#include "mox/comdate.h"
#include "mox110/bonuscalc.h"
#include "mox110/callup.h"

using namespace Qt::StringLiterals;

namespace moxdb {

ConsoleShell::ConsoleShell(QTextStream& err, QString prefix)
    : m_err(err), m_prefix(std::move(prefix))
{
    mox::setShell(this);
}

ConsoleShell::~ConsoleShell()
{
    mox::setShell(nullptr);
}

mox::MsgAnswer ConsoleShell::messageBox(const QString& text, mox::MsgIcon, mox::MsgButtons buttons,
                                        const QString&)
{
    m_err << m_prefix << ": " << QString(text).replace(u"\r\n"_s, u" "_s) << '\n';
    m_err.flush();
    return buttons == mox::MsgButtons::YesNo ? mox::MsgAnswer::No : mox::MsgAnswer::Ok;
}

void ConsoleShell::endProgram(int exitCode)
{
    m_err.flush();
    endAtOnce(exitCode == 0 ? 1 : exitCode);
}

namespace {

// An open record set of \p table; closed when the object goes.
class Walk {
public:
    Walk(const KorDAO::DatabaseHandle& db, const QString& table, const QString& filter,
         const QString& sort)
    {
        m_tb.setTBDatabase(db);
        m_tb.setTBNameString(table);
        m_count = m_tb.DAO_TableOpen(filter, sort);
    }
    ~Walk() { (void)m_tb.DAO_TableClose(); }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    /// The failure of the open, naming the table; success when it opened.
    mox::Status opened() const
    {
        if (m_count >= 0)
            return mox::Status::success();
        return mox::Status::failure(m_count, m_tb.TBNameString() + u": "_s + m_tb.lastError());
    }
    /// Calls \p each with every record in turn; a failing read ends the walk with its status.
    template <class Each> mox::Status forEach(Each each)
    {
        if (mox::Status s = opened(); !s.ok())
            return s;
        short st = m_tb.DAO_RecRead(1);
        for (; st == 0; st = m_tb.DAO_RecRead(2)) {
            if (mox::Status s = each(m_tb.TBRec()); !s.ok())
                return s;
        }
        if (st != KorDAO::kEndOfRecords)
            return mox::Status::failure(st, m_tb.TBNameString() + u": "_s + m_tb.lastError());
        return mox::Status::success();
    }

private:
    KorDAO::clsTbAccess m_tb;
    int m_count = -1;
};

constexpr qsizetype kMaxListed = 500; // codes in one "in(…)" list

QString range(int first, int last)
{
    return u"SYOKCD >= %1 AND SYOKCD <= %2"_s.arg(first).arg(last);
}

// A deduction class as a list index of the screen: 1 (控除する) or 0.
int deductionClass(const KorDAO::FieldRef& field)
{
    return field.isNull() ? 0 : (field.toInt() == 1 ? 1 : 0);
}

} // namespace

BonusSeason::BonusSeason(KorDAO::DatabaseHandle db) : m_db(std::move(db)) {}

BonusSeason::~BonusSeason() = default;

mox::Status BonusSeason::open()
{
    const QString key = u"KEY = 'KANRI'"_s;
    Walk kanri(m_db, u"GKKANRI"_s, key, QString());
    bool found = false;
    const mox::Status read = kanri.forEach([&](KorDAO::Record rec) {
        if (found)
            return mox::Status::success();
        mox::Result<mox110::KanriRecord> r = mox110::readKanri(rec);
        if (const mox::Status* s = mox::failure(r))
            return *s;
        m_ctx.kanri = std::move(mox::value(r));
        found = true;
        return mox::Status::success();
    });
    if (!read.ok() || !found)
        return mox::Status::failure(read.ok() ? -1 : read.code, u"管理マスタが読込できません。"_s);
    m_syorid = int(m_ctx.kanri.SYORID.toInteger(Rounding::Floor));
    if (m_syorid % 100 != 6 && m_syorid % 100 != 12)
        return mox::Status::failure(-1, u"期末・勤勉手当処理月ではありません。"_s);
    // A processing month too large to be a date is refused as the entry screen refuses it.
    if (mox::Status s = mox110::refuseOverflow([&] {
            mox::prfEraDate(m_ctx.kanri.SYORID * 100 + Currency::fromYen(1));
            return mox::Status::success();
        });
        !s.ok())
        return s;
    m_ctx.monthCaption = mox::prfEraEdit(u"JYM", u"DSP", u"B");
    m_tax = std::make_unique<KorTAX::clsTax>();
    m_ctx.tax = m_tax.get();
    return mox::Status::success();
}

mox::Result<std::vector<ListedEmployee>> BonusSeason::listedEmployees() const
{
    std::vector<ListedEmployee> list;
    Walk jinji(m_db, u"GKJINJI"_s, QString(), u"SYOKCD"_s);
    const mox::Status s = jinji.forEach([&](KorDAO::Record rec) {
        return KorDAO::readFields([&] {
            const int kyukbn = rec[u"KYUKBN"].toInt();
            if (screenLists(kyukbn))
                list.push_back({rec[u"SYOKCD"].toInt(), rec[u"SIMKNJ"].toString(), kyukbn,
                                rec[u"HYOKBN"].isNull() ? 0 : rec[u"HYOKBN"].toInt()});
        });
    });
    if (!s.ok())
        return s;
    return list;
}

mox::Result<std::map<int, mox::Result<mox110::JinjiRecord>>> BonusSeason::readJinji(int first,
                                                                                    int last) const
{
    std::map<int, mox::Result<mox110::JinjiRecord>> out;
    Walk jinji(m_db, u"GKJINJI"_s, range(first, last), u"SYOKCD"_s);
    const mox::Status s = jinji.forEach([&](KorDAO::Record rec) {
        return KorDAO::readFields(
            [&] { out.insert_or_assign(rec[u"SYOKCD"].toInt(), mox110::readJinji(rec)); });
    });
    if (!s.ok())
        return s;
    return out;
}

mox::Status BonusSeason::forEachOf(int first, int last, const QString& condition,
                                   const QString& sort,
                                   const std::function<mox::Status(KorDAO::Record)>& each) const
{
    // The personnel codes of the range, once per range: the bonus and pay records are then
    // sought by their key (a list of codes) rather than by reading every record of the range.
    if (m_codesRange != std::pair{first, last}) {
        m_codes.clear();
        Walk jinji(m_db, u"GKJINJI"_s, range(first, last), u"SYOKCD"_s);
        const mox::Status s = jinji.forEach([&](KorDAO::Record rec) {
            return KorDAO::readFields([&] { m_codes << QString::number(rec[u"SYOKCD"].toInt()); });
        });
        if (!s.ok())
            return s;
        m_codesRange = {first, last};
    }
    for (qsizetype at = 0; at < m_codes.size(); at += kMaxListed) {
        Walk walk(m_db, u"GKKYUYO"_s,
                  u"SYOKCD in(%1) AND "_s.arg(m_codes.mid(at, kMaxListed).join(u',')) + condition,
                  sort);
        if (mox::Status s = walk.forEach(each); !s.ok())
            return s;
    }
    return mox::Status::success();
}

mox::Result<std::map<int, PreviousPay>> BonusSeason::readPreviousPay(int first, int last) const
{
    // The records prsReadZenge sums: monthly pay (1) and its corrections (4) of the month before.
    std::map<int, PreviousPay> out;
    const mox::Status s =
        forEachOf(first, last, u"KYUSYU in(1,4) AND SKYUYM = "_s + QString::number(m_syorid - 1),
                  u"SYOKCD,KYUSYU,KYUSEQ"_s, [&](KorDAO::Record rec) {
                      return KorDAO::readFields([&] {
                          PreviousPay& p = out[rec[u"SYOKCD"].toInt()];
                          if (!p.status.ok())
                              return;
                          const mox::Status read = mox110::refuseOverflow([&] {
                              return KorDAO::readFields([&] {
                                  const Currency kazeig = rec[u"KAZEIG"].toCurrency();
                                  const Currency syagok = rec[u"SYAGOK"].toCurrency();
                                  const Currency syotok = rec[u"SYOTOK"].toCurrency();
                                  p.kazeig += kazeig;
                                  p.syagok += syagok;
                                  p.zenzei += syotok;
                              });
                          });
                          if (!read.ok())
                              p.status = read;
                      });
                  });
    if (!s.ok())
        return s;
    return out;
}

mox::Result<StoredBonus> BonusSeason::readStoredBonus(int first, int last) const
{
    // Most have a bonus of the last twelve months; the older records are read only for those
    // who have none, so a district of many years is not read whole.
    const int yearBefore = m_syorid - 100;
    StoredBonus out;
    const auto take = [&](KorDAO::Record rec) {
        return KorDAO::readFields([&] {
            const int code = rec[u"SYOKCD"].toInt();
            const int month = rec[u"SKYUYM"].toInt();
            if (month == m_syorid)
                out.thisMonth[code] = true;
            DeductionClasses& d = out.latest[code];
            if (month >= d.skyuym)
                d = {deductionClass(rec[u"TOKKBN"]), deductionClass(rec[u"ROUKBN"]), month};
        });
    };
    const QString sort = u"SYOKCD,SKYUYM,KYUSEQ"_s;
    if (mox::Status s =
            forEachOf(first, last, u"KYUSYU = 2 AND SKYUYM >= %1"_s.arg(yearBefore), sort, take);
        !s.ok())
        return s;
    QStringList older;
    for (const QString& code : m_codes) {
        if (!out.latest.contains(code.toInt()))
            older << code;
    }
    for (qsizetype at = 0; at < older.size(); at += kMaxListed) {
        Walk old(m_db, u"GKKYUYO"_s,
                 u"KYUSYU = 2 AND SKYUYM < %1 AND SYOKCD in(%2)"_s.arg(yearBefore)
                     .arg(older.mid(at, kMaxListed).join(u',')),
                 sort);
        if (mox::Status s = old.forEach(take); !s.ok())
            return s;
    }
    return out;
}

mox::Result<std::set<int>> BonusSeason::readThisMonth(int first, int last) const
{
    std::set<int> out;
    const mox::Status s =
        forEachOf(first, last, u"KYUSYU = 2 AND SKYUYM = "_s + QString::number(m_syorid),
                  u"SYOKCD"_s, [&](KorDAO::Record rec) {
                      return KorDAO::readFields([&] { out.insert(rec[u"SYOKCD"].toInt()); });
                  });
    if (!s.ok())
        return s;
    return out;
}

mox::Status BonusSeason::cacheSources()
{
    m_koyou = std::make_unique<KorDAO::clsTbAccess>();
    m_koyou->setTBDatabase(m_db);
    m_koyou->setTBNameString(u"GKKOYOU"_s);
    if (const int n = m_koyou->DAO_TableOpen(QString(), QString()); n < 0)
        return mox::Status::failure(n, u"GKKOYOU: "_s + m_koyou->lastError());
    // The first row of the table, as prfKoyou reads it; an empty table fails each premium.
    const short positioned = m_koyou->DAO_RecRead(1);
    m_ctx.koyou = [this, positioned](Currency amount) -> mox::Result<Currency> {
        if (positioned != 0)
            return mox::Status::failure(positioned,
                                        u"雇用保険料表(GKKOYOU)にレコードがありません。"_s);
        return mox110::koyouFromRow(m_koyou->TBRec(), amount);
    };
    m_complements = mox110::nameTableComplements();
    m_ctx.roundingComplements = [this] { return *m_complements; };
    return mox::Status::success();
}

NewBonus BonusSeason::calculateNew(const mox110::JinjiRecord& jinji, int tokkbn, int roukbn)
{
    NewBonus out;
    m_ctx.jinji = jinji;
    if (m_previous) {
        m_ctx.previousPay = [this](mox110::BonusScreen& s) {
            const auto it = m_previous->find(m_ctx.jinji.SYOKCD);
            if (it == m_previous->end()) {
                s.nu1Zenkaz = Currency();
                s.nu1Zenzei = Currency();
                return mox::Status::success();
            }
            const PreviousPay& p = it->second;
            if (!p.status.ok())
                return p.status;
            return mox110::refuseOverflow([&] {
                const Currency zenkaz = p.kazeig - p.syagok;
                s.nu1Zenkaz = zenkaz;
                s.nu1Zenzei = p.zenzei;
                return mox::Status::success();
            });
        };
    }
    mox110::BonusScreen& screen = out.screen;
    mox110::prsItemClr(screen, m_ctx);
    mox::Status st = mox110::callUpNew(screen, m_ctx, m_db);
    // The operator's choices, each raising its list's click when it changes the selection.
    for (auto [list, index] : {std::pair{&screen.cboTokkbn, tokkbn}, {&screen.cboRoukbn, roukbn}}) {
        if (st.ok() && list->listIndex != index) {
            *list = mox110::deductionChoice(index);
            st = mox110::prsKeisan(screen, m_ctx);
        }
    }
    if (!st.ok()) {
        out.status = st;
        return out;
    }
    out.calculated = true;
    // F12: figures that cannot be stored are refused with the screen's message.
    mox::Result<mox110::KyuyoValues> values = mox110::kyuyoValues(screen, m_ctx, jinji.SYOKCD);
    if (const mox::Status* bad = mox::failure(values)) {
        out.status = *bad;
        return out;
    }
    out.values = std::move(mox::value(values));
    return out;
}

mox::Result<OpenSeason> openSeason()
{
    mox::Result<std::unique_ptr<Database>> db = openForBonuses();
    if (const mox::Status* s = mox::failure(db))
        return *s;
    OpenSeason open{std::move(mox::value(db)), nullptr};
    open.season = std::make_unique<BonusSeason>(open.db->handle());
    if (mox::Status s = open.season->open(); !s.ok())
        return s;
    return open;
}

} // namespace moxdb
