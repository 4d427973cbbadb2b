#pragma once

// PostgreSQL's client tools as a backup and a restore run them: one tool run to its end
// (runTool), and a load whose transaction psql holds open until both databases are loaded
// (ServerLoad), so that a restore writes both databases or neither:
//
//     ServerLoad environment, payroll;
//     if (!environment.start(envVars, truncate, script).ok() || !payroll.start(...).ok())
//         return fail();               // the objects go: psql ends and the server undoes it all
//     environment.commit();            // both COMMITs sent at once, then waited for
//     payroll.commit();
//     mox::Status a = environment.finish(), b = payroll.finish();
//
// psql reads its commands from a pipe of this process: when this process is killed, psql reads
// the end of its input inside the open transaction and ends, and the server undoes the load.

#include "base/status.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

namespace moxdb {

/// Runs the client tool \p program with \p args and the libpq variables \p env added to this
/// process's environment (a password reaches the child only so). A failure names the tool, its
/// exit code and what it wrote on standard error.
mox::Status runTool(const QString& program, const QStringList& args,
                    const QHash<QString, QString>& env);

/// One database emptied and loaded by psql in a transaction held open until commit().
class ServerLoad {
public:
    ServerLoad();
    ~ServerLoad(); // psql, if still running, is stopped: an uncommitted load is undone
    ServerLoad(const ServerLoad&) = delete;
    ServerLoad& operator=(const ServerLoad&) = delete;

    /// Starts psql with \p env, which silences the triggers (session_replication_role, which
    /// needs the server's superuser), begins a transaction, runs \p truncate (when not empty)
    /// and the SQL script \p script. Returns when the script has run inside the still open
    /// transaction, or with psql's message when a statement failed (nothing was written).
    mox::Status start(const QHash<QString, QString>& env, const QString& truncate,
                      const QString& script);
    /// Sends COMMIT and the end of input; returns at once.
    void commit();
    /// Waits for psql to end: success when the transaction was committed.
    mox::Status finish();

private:
    mox::Status ended();

    std::unique_ptr<QProcess> m_psql;
    QByteArray m_messages; // what psql wrote on standard error
};

} // namespace moxdb
