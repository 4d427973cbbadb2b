#include "support.h"

#include "moxdb/command.h"
#include "moxdb/init.h"

#include <QProcess>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace moxdb::test {

Currency FlatTax::monthly(Currency amount, int, int) const
{
    return amount.mulDiv(Currency::fromYen(5), 100, Rounding::Floor, 0);
}

Currency FlatTax::bonusRate(Currency, int, int) const
{
    return *Currency::parse(u"4.084");
}

ScratchFolder::ScratchFolder()
    : m_previous(qgetenv("MOX_INI_DIR")), m_hadPrevious(qEnvironmentVariableIsSet("MOX_INI_DIR"))
{
    useIniFolder(m_dir.path());
}

ScratchFolder::~ScratchFolder()
{
    if (m_hadPrevious)
        qputenv("MOX_INI_DIR", m_previous);
    else
        qunsetenv("MOX_INI_DIR");
}

mox::Status ScratchFolder::initSqlite()
{
    auto files = ensureIniFiles({path()}, path());
    if (const mox::Status* s = mox::failure(files))
        return *s;
    QString log;
    QTextStream stream(&log);
    return initDatabases({}, stream);
}

std::unique_ptr<Database> ScratchFolder::open(const QString& iniName)
{
    auto db = Database::open(iniName, /*create=*/false);
    if (mox::failure(db))
        return nullptr;
    return std::move(mox::value(db));
}

ProgramRun runMoxdb(const QStringList& args, const QString& iniDir)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"MOX_INI_DIR"_s, iniDir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(MOXDB_PROGRAM), args);
    ProgramRun r;
    if (!p.waitForFinished(300'000)) {
        p.kill();
        p.waitForFinished();
    } else if (p.exitStatus() == QProcess::NormalExit) {
        r.code = p.exitCode();
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace moxdb::test
