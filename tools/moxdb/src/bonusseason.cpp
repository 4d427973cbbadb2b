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

// Codes in one "in(…)" list: at most 11 characters each (ten digits and a comma), so that with
// its other terms the condition stays well within the 4,000 characters a condition may have.
constexpr std::size_t kMaxListed = 250;

// A deduction class as a list index of the screen: 1 (控除する) or 0.
int deductionClass(const KorDAO::FieldRef& field)
{
    return field.isNull() ? 0 : (field.toInt() == 1 ? 1 : 0);
}

} // namespace

mox::Status walkTable(const KorDAO::DatabaseHandle& db, const QString& table, const QString& filter,
                      const QString& sort, const std::function<mox::Status(KorDAO::Record)>& each)
{
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db);
    tb.setTBNameString(table);
    const auto failed = [&](int status) {
        return mox::Status::failure(
            status, u"%1 を読めません（%2）: %3"_s.arg(table).arg(status).arg(tb.lastError()));
    };
    if (const int n = tb.DAO_TableOpen(filter, sort); n < 0)
        return failed(n);
    short st = tb.DAO_RecRead(1);
    for (; st == 0; st = tb.DAO_RecRead(2)) {
        if (mox::Status s = KorDAO::readFields([&] { return each(tb.TBRec()); }); !s.ok()) {
            (void)tb.DAO_TableClose();
            return mox::Status::failure(s.code, u"%1: %2"_s.arg(table, s.message));
        }
    }
    (void)tb.DAO_TableClose();
    return st == KorDAO::kEndOfRecords ? mox::Status::success() : failed(st);
}

BonusSeason::BonusSeason(KorDAO::DatabaseHandle db) : m_db(std::move(db)) {}

BonusSeason::~BonusSeason() = default;

mox::Status BonusSeason::open()
{
    const QString key = u"KEY = 'KANRI'"_s;
    bool found = false;
    const mox::Status read = walkTable(m_db, u"GKKANRI"_s, key, QString(), [&](KorDAO::Record rec) {
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
    if (mox::Status s = mox110::setProcessingMonth(m_ctx.kanri); !s.ok())
        return s;
    m_syorid = int(m_ctx.kanri.SYORID.toInteger(Rounding::Floor));
    m_ctx.monthCaption = mox::prfEraEdit(u"JYM", u"DSP", u"B");
    m_tax = std::make_unique<KorTAX::clsTax>();
    m_ctx.tax = m_tax.get();
    return mox::Status::success();
}

mox::Result<std::vector<ListedEmployee>> BonusSeason::listedEmployees() const
{
    std::vector<ListedEmployee> list;
    const mox::Status s =
        walkTable(m_db, u"GKJINJI"_s, QString(), u"SYOKCD"_s, [&](KorDAO::Record rec) {
            const int kyukbn = rec[u"KYUKBN"].toInt();
            if (screenLists(kyukbn))
                list.push_back({rec[u"SYOKCD"].toInt(), rec[u"SIMKNJ"].toString(), kyukbn,
                                rec[u"HYOKBN"].isNull() ? 0 : rec[u"HYOKBN"].toInt()});
            return mox::Status::success();
        });
    if (!s.ok())
        return s;
    return list;
}

mox::Result<std::map<int, mox::Result<mox110::JinjiRecord>>>
BonusSeason::readJinji(const std::vector<int>& codes) const
{
    std::map<int, mox::Result<mox110::JinjiRecord>> out;
    const mox::Status s =
        forEachOf(u"GKJINJI"_s, codes, QString(), u"SYOKCD"_s, [&](KorDAO::Record rec) {
            out.insert_or_assign(rec[u"SYOKCD"].toInt(), mox110::readJinji(rec));
            return mox::Status::success();
        });
    if (!s.ok())
        return s;
    return out;
}

mox::Status BonusSeason::forEachOf(const QString& table, const std::vector<int>& codes,
                                   const QString& condition, const QString& sort,
                                   const std::function<mox::Status(KorDAO::Record)>& each) const
{
    // Sought by their key, a list of codes at a time, rather than by reading a range of codes.
    for (std::size_t at = 0; at < codes.size(); at += kMaxListed) {
        QStringList list;
        for (std::size_t i = at; i < std::min(codes.size(), at + kMaxListed); ++i)
            list << QString::number(codes[i]);
        QString filter = u"SYOKCD in(%1)"_s.arg(list.join(u','));
        if (!condition.isEmpty())
            filter += u" AND "_s + condition;
        if (mox::Status s = walkTable(m_db, table, filter, sort, each); !s.ok())
            return s;
    }
    return mox::Status::success();
}

mox::Result<std::map<int, PreviousPay>>
BonusSeason::readPreviousPay(const std::vector<int>& codes) const
{
    // The records prsReadZenge sums: monthly pay (1) and its corrections (4) of the month before.
    std::map<int, PreviousPay> out;
    const mox::Status s = forEachOf(
        u"GKKYUYO"_s, codes, u"KYUSYU in(1,4) AND SKYUYM = "_s + QString::number(m_syorid - 1),
        u"SYOKCD,KYUSYU,KYUSEQ"_s, [&](KorDAO::Record rec) {
            PreviousPay& p = out[rec[u"SYOKCD"].toInt()];
            if (!p.status.ok())
                return mox::Status::success();
            const mox::Status read = mox110::refuseOverflow(
                [&] { return KorDAO::readFields([&] { p.sums.add(rec); }); });
            if (!read.ok())
                p.status = read;
            return mox::Status::success();
        });
    if (!s.ok())
        return s;
    return out;
}

mox::Result<StoredBonus> BonusSeason::readStoredBonus(const std::vector<int>& codes) const
{
    // Most have a bonus of the last twelve months; the older records are read only for those
    // who have none, so a district of many years is not read whole.
    const int yearBefore = m_syorid - 100;
    StoredBonus out;
    const auto take = [&](KorDAO::Record rec) {
        const int code = rec[u"SYOKCD"].toInt();
        const int month = rec[u"SKYUYM"].toInt();
        if (month == m_syorid)
            out.thisMonth[code] = true;
        DeductionClasses& d = out.latest[code];
        if (month >= d.skyuym)
            d = {deductionClass(rec[u"TOKKBN"]), deductionClass(rec[u"ROUKBN"]), month};
        return mox::Status::success();
    };
    const QString sort = u"SYOKCD,SKYUYM,KYUSEQ"_s;
    if (mox::Status s = forEachOf(u"GKKYUYO"_s, codes,
                                  u"KYUSYU = 2 AND SKYUYM >= %1"_s.arg(yearBefore), sort, take);
        !s.ok())
        return s;
    std::vector<int> older;
    for (const int code : codes) {
        if (!out.latest.contains(code))
            older.push_back(code);
    }
    if (mox::Status s = forEachOf(u"GKKYUYO"_s, older,
                                  u"KYUSYU = 2 AND SKYUYM < %1"_s.arg(yearBefore), sort, take);
        !s.ok())
        return s;
    return out;
}

mox::Result<std::set<int>> BonusSeason::readThisMonth(const std::vector<int>& codes) const
{
    std::set<int> out;
    const mox::Status s =
        forEachOf(u"GKKYUYO"_s, codes, u"KYUSYU = 2 AND SKYUYM = "_s + QString::number(m_syorid),
                  u"SYOKCD"_s, [&](KorDAO::Record rec) {
                      out.insert(rec[u"SYOKCD"].toInt());
                      return mox::Status::success();
                  });
    if (!s.ok())
        return s;
    return out;
}

mox::Result<BonusSeason::Batch> BonusSeason::prepare(const std::vector<int>& codes)
{
    Batch batch;
    auto jinji = readJinji(codes);
    if (const mox::Status* s = mox::failure(jinji))
        return *s;
    auto previous = readPreviousPay(codes);
    if (const mox::Status* s = mox::failure(previous))
        return *s;
    auto stored = readStoredBonus(codes);
    if (const mox::Status* s = mox::failure(stored))
        return *s;
    usePreviousPay(std::move(mox::value(previous)));
    batch.jinji = std::move(mox::value(jinji));
    batch.stored = std::move(mox::value(stored));
    return batch;
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
            if (it == m_previous->end())
                return mox110::PreviousMonthPay().show(s); // no pay last month
            const PreviousPay& p = it->second;
            if (!p.status.ok())
                return p.status;
            return p.sums.show(s);
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
