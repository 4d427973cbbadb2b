#pragma once

// The fixture of the suites that run once per engine: a fresh payroll database, one open
// connection, and helpers that write and walk payment records through the component.

#include "testdatabase.h"

#include "kordao/kordao.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace kordaotest {

class DaoTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        if (GetParam() == Backend::Postgres && !postgresAvailable())
            GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
        m_test = std::make_unique<TestDatabase>(GetParam());
        QString error;
        ASSERT_TRUE(m_test->create(&error)) << error.toStdString();
        m_db = m_test->open();
        ASSERT_TRUE(m_db);
    }

    void TearDown() override
    {
        m_db.reset();
        m_test.reset();
    }

    void openTable(KorDAO::clsTbAccess& tb, const QString& table, int expectedCount = -1,
                   const QString& filter = {}, const QString& sort = {})
    {
        tb.setTBDatabase(m_db->DBDatabase());
        tb.setTBNameString(table);
        const int n = tb.DAO_TableOpen(filter, sort);
        ASSERT_GE(n, 0) << tb.lastError().toStdString();
        if (expectedCount >= 0) {
            ASSERT_EQ(n, expectedCount);
        }
    }

    /// Adds one payment record (monthly salary \p yen) through AddNew/Update.
    // The number of payment records another connection sees (-1: it cannot open).
    int countSeenElsewhere()
    {
        auto other = m_test->open();
        if (!other)
            return -1;
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(other->DBDatabase());
        tb.setTBNameString(QStringLiteral("GKKYUYO"));
        return tb.DAO_TableOpen({}, {});
    }

    void addPayment(int code, int kind, int month, int seq, std::int64_t yen = 0)
    {
        KorDAO::clsTbAccess tb;
        openTable(tb, QStringLiteral("GKKYUYO"), -1, QStringLiteral("SYOKCD = 0"));
        ASSERT_EQ(tb.DAO_AddNew(true), 0);
        tb.TBRec()[u"SYOKCD"] = code;
        tb.TBRec()[u"KYUSYU"] = kind;
        tb.TBRec()[u"SKYUYM"] = month;
        tb.TBRec()[u"KYUSEQ"] = seq;
        tb.TBRec()[u"KYURYO"] = Currency::fromYen(yen);
        ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
    }

    /// The keys "code/kind/month/seq" of every record from the current position to the end.
    static QStringList walk(KorDAO::clsTbAccess& tb, short firstMode = 1)
    {
        QStringList keys;
        for (short st = tb.DAO_RecRead(firstMode); st == 0; st = tb.DAO_RecRead(2))
            keys << key(tb);
        return keys;
    }

    static QString key(KorDAO::clsTbAccess& tb)
    {
        auto rec = tb.TBRec();
        return QStringLiteral("%1/%2/%3/%4")
            .arg(rec[u"SYOKCD"].toInt())
            .arg(rec[u"KYUSYU"].toInt())
            .arg(rec[u"SKYUYM"].toInt())
            .arg(rec[u"KYUSEQ"].toInt());
    }

    std::unique_ptr<TestDatabase> m_test;
    std::unique_ptr<KorDAO::clsDbAccess> m_db;
};

#define KORDAO_INSTANTIATE(suite)                                                                  \
    INSTANTIATE_TEST_SUITE_P(Engines, suite, testing::Values(Backend::Sqlite, Backend::Postgres),  \
                             [](const auto& p) { return backendName(p.param); })

} // namespace kordaotest
