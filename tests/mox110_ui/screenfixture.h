#pragma once

// A real payroll and environment database (SQLite in a temporary folder, found through
// "MOX.INI" and "MOXENV.INI"), a scripted shell, and the entry screen started on them.

#include "mox110ui/frmmox110.h"

#include "kordao/kordao.h"
#include "mox/shell.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace screentest {

using Fields = std::map<QString, QVariant>;

Currency yen(std::int64_t v);

/// Employee codes of the seeded personnel table.
enum Employee {
    kRegular = 1001, // monthly salary 300,000, service since 2010
    kDaily = 1002,   // pay class 4 (daily wage 10,000)
    kManual = 1003,  // input class 9, monthly salary 250,000
    kDailyManual = 1004,
    kShortCode = 25, // listed as 0000025
};

/// The payroll database of a test: SQLite, or PostgreSQL when MOX_TEST_PGHOST names a server.
enum class Backend { Sqlite, Postgres };

class ScreenTest : public testing::Test {
protected:
    void SetUp() override;
    /// Which database the payroll tables live in; SQLite unless a test says otherwise.
    virtual Backend backend() const { return Backend::Sqlite; }
    void TearDown() override;

    /// The management record for processing month \p syorid and the five employees.
    void seed(int syorid);
    /// Adds one record to \p table of the payroll database.
    void insert(const QString& table, const Fields& fields);
    /// Creates, shows and sets up the screen; false when the start ended the program.
    bool start();

    /// Selects the employee \p code in the list.
    void select(int code);
    /// Presses function key F<n> on the screen as the operator does.
    void press(int n);
    /// Answers the next recalculation dialog with \p key (Qt::Key_F4 or Qt::Key_F12).
    void answerDialog(int key);

    /// The control of the screen named \p name, found as a user's tool finds it; a name the
    /// screen lacks (or of another kind) fails the test.
    template <class W> W* control(const char* name) const
    {
        W* w = m_form->findChild<W*>(QString::fromLatin1(name));
        if (!w)
            throw std::runtime_error(std::string("no control named ") + name);
        return w;
    }
    KorNumIn::KorNum* num(const char* name) const { return control<KorNumIn::KorNum>(name); }
    QComboBox* list(const char* name) const { return control<QComboBox>(name); }
    QLineEdit* text(const char* name) const { return control<QLineEdit>(name); }

    /// The bonus records of \p syokcd in month \p skyuym, read on a connection of their own.
    int bonusCount(int syokcd, int skyuym);
    /// A field of that bonus record; invalid when there is none.
    QVariant bonusField(int syokcd, int skyuym, const QString& field);

    QTemporaryDir m_dir;
    QByteArray m_oldIniDir;
    std::unique_ptr<KorDAO::clsDbAccess> m_payroll;
    mox::ScriptedShell m_shell;
    std::unique_ptr<frmMox110> m_form;
};

} // namespace screentest
