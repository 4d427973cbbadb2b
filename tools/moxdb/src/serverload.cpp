#include "moxdb/serverload.h"

#include <QProcess>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// Written by psql on standard error once the script has run, the transaction still open.
constexpr char kLoaded[] = "MOX-LOADED";

mox::Status toolMissing(const QString& program)
{
    return mox::Status::failure(
        -1, u"%1 が見つかりません。PostgreSQL のクライアント（Debian のパッケージ "
            u"postgresql-client）を入れてください。"_s.arg(program));
}

QProcessEnvironment withVariables(const QHash<QString, QString>& env)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        e.insert(it.key(), it.value());
    return e;
}

} // namespace

mox::Status runTool(const QString& program, const QStringList& args,
                    const QHash<QString, QString>& env)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return toolMissing(program);
    QProcess p;
    p.setProcessEnvironment(withVariables(env));
    p.start(path, args);
    if (!p.waitForStarted(-1))
        return mox::Status::failure(-1, u"%1 を起動できません: %2"_s.arg(program, p.errorString()));
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return mox::Status::failure(
            -1,
            u"%1 が失敗しました（終了コード %2）: %3"_s.arg(program).arg(p.exitCode()).arg(err));
    }
    return {};
}

ServerLoad::ServerLoad() = default;

ServerLoad::~ServerLoad()
{
    if (m_psql && m_psql->state() != QProcess::NotRunning) {
        m_psql->kill();
        m_psql->waitForFinished(-1);
    }
}

mox::Status ServerLoad::start(const QHash<QString, QString>& env, const QString& truncate,
                              const QString& script)
{
    const QString path = QStandardPaths::findExecutable(u"psql"_s);
    if (path.isEmpty())
        return toolMissing(u"psql"_s);
    // The statements of -c and -f run in order on one connection; "-f -" then reads this
    // process's pipe, where COMMIT comes only when commit() is called.
    QStringList args = {u"-X"_s, u"-q"_s,
                        u"-v"_s, u"ON_ERROR_STOP=1"_s,
                        u"-c"_s, u"SET session_replication_role = replica"_s,
                        u"-c"_s, u"BEGIN"_s};
    if (!truncate.isEmpty())
        args << u"-c"_s << truncate;
    args << u"-f"_s << script << u"-f"_s << u"-"_s;
    m_psql = std::make_unique<QProcess>();
    m_psql->setProcessEnvironment(withVariables(env));
    m_psql->setStandardOutputFile(QProcess::nullDevice()); // the script's SELECTs print rows
    m_psql->setReadChannel(QProcess::StandardError);
    m_psql->start(path, args);
    if (!m_psql->waitForStarted(-1))
        return mox::Status::failure(-1, u"psql を起動できません: %1"_s.arg(m_psql->errorString()));
    const QByteArray marker = "\\warn "_ba + kLoaded + '\n';
    if (m_psql->write(marker) != marker.size())
        return mox::Status::failure(-1, u"psql に書けません: %1"_s.arg(m_psql->errorString()));
    while (!m_messages.contains(kLoaded)) {
        if (!m_psql->waitForReadyRead(-1) && m_psql->state() == QProcess::NotRunning)
            break;
        m_messages += m_psql->readAllStandardError();
    }
    if (m_messages.contains(kLoaded)) {
        m_messages.replace(kLoaded + "\n"_ba, QByteArray());
        return {};
    }
    m_messages += m_psql->readAllStandardError();
    const mox::Status s = ended();
    return s.ok() ? mox::Status::failure(-1, u"psql が読み込みの途中で終わりました。"_s) : s;
}

void ServerLoad::commit()
{
    if (!m_psql || m_psql->state() == QProcess::NotRunning)
        return;
    // Into the pipe now, not when finish() is waited for: the COMMITs of both databases are
    // sent before either is waited for.
    m_psql->write("COMMIT;\n");
    m_psql->waitForBytesWritten(-1);
    m_psql->closeWriteChannel();
}

mox::Status ServerLoad::finish()
{
    if (!m_psql)
        return mox::Status::failure(-1, u"psql を起動していません。"_s);
    m_psql->waitForFinished(-1);
    m_messages += m_psql->readAllStandardError();
    return ended();
}

mox::Status ServerLoad::ended()
{
    if (m_psql->state() != QProcess::NotRunning)
        m_psql->waitForFinished(-1);
    const QString err = QString::fromLocal8Bit(m_messages).trimmed();
    if (m_psql->exitStatus() != QProcess::NormalExit || m_psql->exitCode() != 0) {
        return mox::Status::failure(
            -1, u"psql が失敗しました（終了コード %1）: %2"_s.arg(m_psql->exitCode()).arg(err));
    }
    return {};
}

} // namespace moxdb
