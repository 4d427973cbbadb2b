#include "screenfixture.h"

#include "mox110/kyuyorecord.h"

#include "kordao/schema.h"
#include "kortax/kortax.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace screentest {
namespace {

void writeFile(const QString& path, const QByteArray& text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

void insertInto(const KorDAO::DatabaseHandle& db, const QString& table, const Fields& fields)
{
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db);
    tb.setTBNameString(table);
    ASSERT_GE(tb.DAO_TableOpen(QString(), QString()), 0) << tb.lastError().toStdString();
    ASSERT_EQ(tb.DAO_AddNew(true), 0);
    for (const auto& [name, value] : fields)
        mox110::assignField(tb.TBRec()[name], value);
    ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
    ASSERT_EQ(tb.DAO_TableClose(), 0);
}

QVariant m(std::int64_t v)
{
    return QVariant::fromValue(Currency::fromYen(v));
}

QVariant m(const char16_t* text)
{
    return QVariant::fromValue(*Currency::parse(QStringView(text)));
}

} // namespace

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

void ScreenTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    if (backend() == Backend::Postgres) {
        static int databases = 0;
        const QString name =
            u"mox110ui_%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(++databases);
        writeFile(m_dir.filePath(u"MOX.INI"_s),
                  u"[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n"_s
                      .arg(name, qEnvironmentVariable("MOX_TEST_PGHOST"),
                           qEnvironmentVariable("MOX_TEST_PGPORT"),
                           qEnvironmentVariable("MOX_TEST_PGUSER"))
                      .toUtf8());
    } else {
        writeFile(m_dir.filePath(u"MOX.INI"_s), "[Database]\nDriver=QSQLITE\nDatabase=mox.db\n");
    }
    writeFile(m_dir.filePath(u"MOXENV.INI"_s), "[Database]\nDriver=QSQLITE\nDatabase=env.db\n");
    m_oldIniDir = qgetenv("MOX_INI_DIR");
    qputenv("MOX_INI_DIR", m_dir.path().toUtf8());
    m_shell.addBeforeEndHook([] { KorDAO::rollbackAllOpenTransactions(); });

    KorDAO::clsDbAccess env;
    env.setDBIniNameString(u"MOXENV.INI"_s);
    env.setCreateIfMissing(true);
    ASSERT_EQ(env.DAO_DBOpen(), 0) << env.lastError().toStdString();
    ASSERT_TRUE(KorDAO::createEnvironmentSchema(env.DBDatabase()).ok());
    ASSERT_TRUE(KorTAX::createTaxSchema(env.DBDatabase()).ok());
    const mox::Status imported =
        KorTAX::importEditions(env.DBDatabase(), KorTAX::shippedTaxDir(), KorTAX::IfStored::Keep);
    ASSERT_TRUE(imported.ok()) << imported.message.toStdString();
    insertInto(env.DBDatabase(), u"名設定"_s,
               {{u"NENKB1"_s, u"H"_s},
                {u"NENKJ1"_s, u"平成"_s},
                {u"NENST1"_s, 19890108},
                {u"NENKB2"_s, u"R"_s},
                {u"NENKJ2"_s, u"令和"_s},
                {u"NENST2"_s, 20190501},
                {u"KENKO"_s, m(u"0.5")},
                {u"KOSEI"_s, m(u"0.5")}});
    ASSERT_EQ(env.DAO_DBClose(), 0);

    m_payroll = std::make_unique<KorDAO::clsDbAccess>();
    m_payroll->setDBIniNameString(u"MOX.INI"_s);
    m_payroll->setCreateIfMissing(true);
    ASSERT_EQ(m_payroll->DAO_DBOpen(), 0) << m_payroll->lastError().toStdString();
    ASSERT_TRUE(KorDAO::createPayrollSchema(m_payroll->DBDatabase()).ok());

    // Employment insurance: bands of 10,000 yen from 10,000; band n costs n × 60 yen.
    Fields koyou{{u"KAISHI"_s, m(10'000)}, {u"KAKRIT"_s, m(6)}};
    for (int n = 1; n <= 60; ++n) {
        const QString suffix = QString::number(n).rightJustified(2, u'0');
        koyou[u"TINGIN_"_s + suffix] = m(10'000 + n * 10'000);
        koyou[u"HOKEN_"_s + suffix] = m(n * 60);
    }
    insert(u"GKKOYOU"_s, koyou);
}

void ScreenTest::TearDown()
{
    m_form.reset();
    if (m_payroll)
        (void)m_payroll->DAO_DBClose();
    qputenv("MOX_INI_DIR", m_oldIniDir);
}

void ScreenTest::insert(const QString& table, const Fields& fields)
{
    insertInto(m_payroll->DBDatabase(), table, fields);
}

void ScreenTest::seed(int syorid)
{
    insert(u"GKKANRI"_s, {{u"KEY"_s, u"KANRI"_s},
                          {u"SYORID"_s, syorid},
                          {u"KM6KM"_s, m(u"122.5")},
                          {u"KM6KB"_s, m(95)},
                          {u"KM12KM"_s, m(u"127.5")},
                          {u"KM12KB"_s, m(u"102.5")},
                          {u"NKM12KM"_s, m(u"1.25")},
                          {u"CHIRIT"_s, m(10)},
                          {u"KENGEN"_s, m(5'730'000)},
                          {u"KOSGEN"_s, m(1'500'000)},
                          {u"KENTOK"_s, m(100)},
                          {u"KENTK2"_s, m(100)},
                          {u"KAITOK"_s, m(18)},
                          {u"KAITK2"_s, m(18)},
                          {u"KOSTOK"_s, m(183)},
                          {u"KOSTK2"_s, m(183)}});
    const auto employee = [this](int code, const QString& name, int kyukbn, int hyokbn,
                                 std::int64_t kyuryo, std::int64_t nitank) {
        insert(u"GKJINJI"_s, {{u"SYOKCD"_s, code},
                              {u"SIMKNJ"_s, name},
                              {u"SYOZOK"_s, u"4201"_s},
                              {u"KYUKBN"_s, kyukbn},
                              {u"HYOKBN"_s, hyokbn},
                              {u"KAIKBN"_s, 1},
                              {u"GENFUY"_s, 1},
                              {u"GENHAI"_s, 1},
                              {u"SYOSYU"_s, 2},
                              {u"KGOKYU"_s, 3},
                              {u"KGOGHO"_s, 25},
                              {u"KYURYO"_s, m(kyuryo)},
                              {u"NITANK"_s, m(nitank)},
                              {u"KTYOSE"_s, m(12'000)},
                              {u"FUYO"_s, m(10'000)},
                              {u"ZKAYMD_01"_s, 20100401},
                              {u"ZKNYMD_01"_s, 99991231}});
    };
    employee(kShortCode, u"伊藤五郎"_s, 1, 0, 280'000, 0);
    employee(kRegular, u"山田太郎"_s, 1, 0, 300'000, 0);
    employee(kDaily, u"鈴木花子"_s, 4, 0, 0, 10'000);
    employee(kManual, u"佐藤次郎"_s, 1, 9, 250'000, 0);
    employee(kDailyManual, u"高橋四郎"_s, 4, 9, 0, 9'000);
}

bool ScreenTest::start()
{
    m_form = std::make_unique<frmMox110>();
    m_form->show();
    m_form->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
    try {
        m_form->Form_Set();
    } catch (const mox::ProgramEnded&) {
        return false;
    }
    return true;
}

void ScreenTest::select(int code)
{
    const int index = list("cboSyokcd")->findData(code);
    ASSERT_GE(index, 0) << code;
    list("cboSyokcd")->setCurrentIndex(index);
}

void ScreenTest::press(int n)
{
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : m_form.get();
    QTest::keyClick(target, static_cast<Qt::Key>(Qt::Key_F1 + n - 1));
}

void ScreenTest::answerDialog(int key)
{
    auto* timer = new QTimer(m_form.get());
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, key] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        QWidget* target = modal->focusWidget() ? modal->focusWidget() : modal;
        QTest::keyClick(target, static_cast<Qt::Key>(key));
    });
    timer->start();
}

int ScreenTest::bonusCount(int syokcd, int skyuym)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    EXPECT_EQ(db.DAO_DBOpen(), 0);
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db.DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    const int n = tb.DAO_TableOpen(
        u"SYOKCD = %1 AND KYUSYU = 2 AND SKYUYM = %2"_s.arg(syokcd).arg(skyuym), QString());
    (void)tb.DAO_TableClose();
    (void)db.DAO_DBClose();
    return n;
}

QVariant ScreenTest::bonusField(int syokcd, int skyuym, const QString& field)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    EXPECT_EQ(db.DAO_DBOpen(), 0);
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db.DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    QVariant v;
    if (tb.DAO_TableOpen(u"SYOKCD = %1 AND KYUSYU = 2 AND SKYUYM = %2"_s.arg(syokcd).arg(skyuym),
                         QString()) > 0 &&
        tb.DAO_RecRead(1) == 0)
        v = tb.TBRec()[field].variant();
    (void)tb.DAO_TableClose();
    (void)db.DAO_DBClose();
    return v;
}

} // namespace screentest
