#include "kortax/kortax.h"

#include <map>

using namespace Qt::StringLiterals;

namespace KorTAX {

// Editions by configuration file name, loaded on first use. Editions given through setEditions
// are kept under an empty name and serve whatever name is set.
struct clsTax::Cache {
    std::map<QString, std::vector<Edition>> byIni;
    bool injected = false;
};

clsTax::clsTax() : m_cache(std::make_unique<Cache>()) {}

clsTax::~clsTax() = default;

void clsTax::setTaxIniName(const QString& iniName)
{
    m_iniName = iniName;
}

void clsTax::setEditions(std::vector<Edition> editions)
{
    m_cache->byIni.clear();
    m_cache->byIni.emplace(QString(), std::move(editions));
    m_cache->injected = true;
}

namespace {

// yyyymmdd as a date; an invalid date when the number is not a whole valid calendar date.
QDate dateOf(Currency yyyymmdd)
{
    if (yyyymmdd.isNegative() || yyyymmdd.roundToYen(Rounding::Floor) != yyyymmdd)
        return {};
    const std::int64_t n = yyyymmdd.toInteger(Rounding::Floor);
    if (n > 99'991'231)
        return {};
    return QDate(static_cast<int>(n / 10'000), static_cast<int>(n / 100 % 100),
                 static_cast<int>(n % 100));
}

QString japaneseDate(QDate d)
{
    return u"%1年%2月%3日"_s.arg(d.year()).arg(d.month()).arg(d.day());
}

} // namespace

// Loads the editions of the database named by the configuration file into the cache under
// \p key, replacing what was kept. On failure the cache is left as it was.
short clsTax::load(const QString& key)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(m_iniName);
    if (const short st = db.DAO_DBOpen(); st != 0) {
        m_lastError =
            u"税額表のデータベース（%1）を開けません: %2"_s.arg(m_iniName, db.lastError());
        return st;
    }
    mox::Result<std::vector<Edition>> loaded = loadEditions(db.DBDatabase());
    (void)db.DAO_DBClose();
    if (const mox::Status* s = mox::failure(loaded)) {
        m_lastError = s->message;
        return static_cast<short>(s->code);
    }
    m_cache->byIni[key] = std::move(mox::value(loaded));
    return 0;
}

short clsTax::editionAt(Currency refDate, short dependents, short spouse, Table table,
                        const Edition*& edition, int& count)
{
    count = int{dependents} + int{spouse};
    if (count < 0) {
        m_lastError =
            u"扶養親族等の数（%1）と配偶者の区分（%2）が正しくありません。"_s.arg(dependents)
                .arg(spouse);
        return kStatusBadArgument;
    }
    const QDate date = dateOf(refDate);
    if (!date.isValid()) {
        m_lastError =
            u"税額表を選ぶ基準日 %1 が日付ではありません。"_s.arg(refDate.toPlainString());
        return kStatusBadArgument;
    }

    const QString key = m_cache->injected ? QString() : m_iniName;
    bool fresh = false;
    if (!m_cache->byIni.contains(key)) {
        if (const short st = load(key); st != 0)
            return st;
        fresh = true;
    }
    edition = editionFor(m_cache->byIni[key], date);
    // Tables kept from an earlier call may predate an import made while the program runs: a
    // call they cannot answer reads the database again before it is refused. When that read
    // fails the kept tables stay and the refusal below names what is missing.
    if ((!edition || !edition->holds(table)) && !fresh && !m_cache->injected && load(key) == 0)
        edition = editionFor(m_cache->byIni[key], date);

    if (!edition) {
        m_lastError = u"%1 に適用される源泉徴収税額表がありません。"_s.arg(japaneseDate(date));
        return kStatusNoEdition;
    }
    if (!edition->holds(table)) {
        m_lastError = u"%1の%2がありません。"_s.arg(editionName(edition->from), tableName(table));
        return kStatusNoTable;
    }
    return 0;
}

short clsTax::TaxBonus(Currency taxable, Currency prevPay, short dependents, short spouse,
                       Currency refDate, Currency& tax)
{
    const Edition* edition = nullptr;
    int count = 0;
    if (const short st = editionAt(refDate, dependents, spouse, Table::Bonus, edition, count);
        st != 0)
        return st;
    m_rate = bonusRate(*edition, prevPay, count);
    tax = bonusTax(taxable, m_rate);
    m_lastError.clear();
    return 0;
}

short clsTax::TaxMonthly(Currency monthly, short dependents, short spouse, Currency refDate,
                         Currency& tax)
{
    const Edition* edition = nullptr;
    int count = 0;
    if (const short st = editionAt(refDate, dependents, spouse, Table::Monthly, edition, count);
        st != 0)
        return st;
    tax = monthlyTax(*edition, monthly, count);
    m_lastError.clear();
    return 0;
}

} // namespace KorTAX
