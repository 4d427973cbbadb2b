// moxdb calc: what the bonus entry screen shows for one employee called up without a stored
// bonus, worked out by the screen's own calculation and printed one field a line.

#include "moxdb/command.h"
#include "moxdb/database.h"

#include "kordao/kordao.h"
#include "kortax/kortax.h"
#include "mox/bascmnname.h"
#include "mox/comdate.h"
#include "mox/shell.h"
#include "mox110/bonuscalc.h"
#include "mox110/callup.h"
#include "mox110/screenfields.h"

#include <cstdio>
#include <cstdlib>
#include <type_traits>
#include <variant>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// Message boxes of the calculation (a database failure, a name table that does not open) go to
// the error stream; ending the program ends the command with status 1.
class ConsoleShell final : public mox::Shell {
public:
    explicit ConsoleShell(QTextStream& err) : m_err(err) { mox::setShell(this); }
    ~ConsoleShell() override { mox::setShell(nullptr); }
    ConsoleShell(const ConsoleShell&) = delete;
    ConsoleShell& operator=(const ConsoleShell&) = delete;

    mox::MsgAnswer messageBox(const QString& text, mox::MsgIcon, mox::MsgButtons buttons,
                              const QString&) override
    {
        m_err << "moxdb calc: " << QString(text).replace(u"\r\n"_s, u" "_s) << '\n';
        m_err.flush();
        return buttons == mox::MsgButtons::YesNo ? mox::MsgAnswer::No : mox::MsgAnswer::Ok;
    }
    [[noreturn]] void endProgram(int exitCode) override
    {
        m_err.flush();
        endAtOnce(exitCode == 0 ? 1 : exitCode);
    }
    void doEvents() override {}
    bool openUrl(const QUrl&) override { return false; }

private:
    QTextStream& m_err;
};

// The screen as "name=value" lines: the employee list's choice, then every box in the order of
// the screen's own table (amounts as plain decimal text, lists as their index).
void print(QTextStream& out, int syokcdIndex, const mox110::BonusScreen& s)
{
    out << "cboSyokcd=" << syokcdIndex << '\n';
    for (const mox110::BoxBinding& b : mox110::boxBindings()) {
        out << QString::fromUtf16(b.name) << '=';
        std::visit(
            [&](auto field) {
                const auto& value = s.*field;
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, Currency>)
                    out << value.toPlainString();
                else if constexpr (std::is_same_v<T, mox110::ListChoice>)
                    out << value.listIndex;
                else
                    out << value;
            },
            b.field);
        out << '\n';
    }
}

// The employee's place in the screen's employee list (in order of SYOKCD; pay class 4 only in
// December), or -1 when the list does not hold the employee.
int listIndexOf(const KorDAO::DatabaseHandle& db, int syokcd, bool december)
{
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db);
    tb.setTBNameString(u"GKJINJI"_s);
    if (tb.DAO_TableOpen(QString(), u"SYOKCD"_s) < 0)
        return -1;
    int index = 0;
    for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2)) {
        if (tb.TBRec()[u"KYUKBN"].toInt() != 4 || december) {
            if (tb.TBRec()[u"SYOKCD"].toInt() == syokcd) {
                (void)tb.DAO_TableClose();
                return index;
            }
            ++index;
        }
    }
    (void)tb.DAO_TableClose();
    return -1;
}

// Reads the current record of \p table that meets \p criteria; false when there is none.
template <class Record, class Reader>
bool findRecord(const KorDAO::DatabaseHandle& db, const QString& table, const QString& filter,
                const QString& criteria, Reader read, Record& record, QTextStream& err)
{
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db);
    tb.setTBNameString(table);
    if (const int n = tb.DAO_TableOpen(filter, QString()); n < 0) {
        err << "moxdb calc: " << table << ": " << tb.lastError() << '\n';
        return false;
    }
    if (tb.DAO_RecFind(1, criteria) != 0) {
        (void)tb.DAO_TableClose();
        return false;
    }
    mox::Result<Record> r = read(tb.TBRec());
    (void)tb.DAO_TableClose();
    if (const mox::Status* s = mox::failure(r)) {
        err << "moxdb calc: " << table << ": " << s->message << '\n';
        return false;
    }
    record = std::move(mox::value(r));
    return true;
}

int fail(QTextStream& err, const QString& message)
{
    err << "moxdb calc: " << message << '\n';
    return 1;
}

int runCalc(const QStringList& args, QTextStream& out, QTextStream& err)
{
    bool codeOk = false;
    const int syokcd = args.isEmpty() ? 0 : args.first().toInt(&codeOk);
    Options options(args.mid(1), {u"--tokkbn"_s, u"--roukbn"_s, u"--dir"_s});
    const int tokkbn = options.number(u"--tokkbn"_s, 0, 0, 1);
    const int roukbn = options.number(u"--roukbn"_s, 0, 0, 1);
    if (!codeOk || syokcd < 0 || syokcd > 9'999'999 || !options.ok()) {
        err << "usage: moxdb calc SYOKCD [--tokkbn 0|1] [--roukbn 0|1] [--dir DIR]\n";
        if (!options.ok())
            err << "moxdb calc: " << options.error() << '\n';
        return 2;
    }
    if (options.has(u"--dir"_s))
        useIniFolder(options.value(u"--dir"_s));

    ConsoleShell shell(err);
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    if (db.DAO_DBOpen() != 0)
        return fail(err, db.lastError());
    const KorDAO::DatabaseHandle handle = db.DBDatabase();
    if (mox::Status s = checkVersion(u"MOX.INI"_s, handle); !s.ok())
        return fail(err, s.message);
    if (mox::Status s = checkVersionOf(u"MOXENV.INI"_s); !s.ok())
        return fail(err, s.message);

    mox110::CalcContext ctx;
    if (!findRecord(handle, u"GKKANRI"_s, u"KEY = 'KANRI'"_s, u"KEY = 'KANRI'"_s,
                    &mox110::readKanri, ctx.kanri, err))
        return fail(err, u"管理マスタが読込できません。"_s);
    const std::int64_t month = ctx.kanri.SYORID.toInteger(Rounding::Floor) % 100;
    if (month != 6 && month != 12)
        return fail(err, u"期末・勤勉手当処理月ではありません。"_s);

    const QString code = QString::number(syokcd);
    if (!findRecord(handle, u"GKJINJI"_s, QString(), u"SYOKCD = "_s + code, &mox110::readJinji,
                    ctx.jinji, err))
        return fail(err, u"職員コード "_s + code + u" の人事データがありません。"_s);
    const int listIndex = listIndexOf(handle, syokcd, month == 12);
    if (listIndex < 0)
        return fail(err,
                    u"職員コード "_s + code + u" は日額支給者のため12月以外は選択できません。"_s);

    mox::prfEraDate(ctx.kanri.SYORID * 100 + Currency::fromYen(1));
    ctx.monthCaption = mox::prfEraEdit(u"JYM", u"DSP", u"B");
    KorTAX::clsTax tax;
    ctx.tax = &tax;

    mox110::BonusScreen screen;
    mox110::prsItemClr(screen, ctx);
    mox::Status st = mox110::callUpNew(screen, ctx, handle);
    // The operator's choices, each raising its list's click when it changes the selection.
    for (auto [list, index] : {std::pair{&screen.cboTokkbn, tokkbn}, {&screen.cboRoukbn, roukbn}}) {
        if (st.ok() && list->listIndex != index) {
            *list = mox110::deductionChoice(index);
            st = mox110::prsKeisan(screen, ctx);
        }
    }
    (void)db.DAO_DBClose();
    if (!st.ok())
        return fail(err, st.message);
    print(out, listIndex, screen);
    return 0;
}

} // namespace

Command calcCommand()
{
    return {u"calc"_s, u"SYOKCD [--tokkbn 0|1] [--roukbn 0|1] [--dir DIR]"_s,
            u"print the bonus screen of an employee without a stored bonus, calculated"_s,
            &runCalc};
}

} // namespace moxdb
