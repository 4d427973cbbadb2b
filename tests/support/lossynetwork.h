#pragma once

// A network between the tests and the PostgreSQL server for tests (MOX_TEST_PGHOST) that can
// fail at the worst moment: the delayproxy of the benchmarks, relaying without delay, which on
// request lets the server commit and drops its answer to the COMMIT, closing the client's
// connection. Needs MOX_DELAYPROXY, the path of the program.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

namespace moxtest {

class LossyNetwork {
public:
    LossyNetwork() = default;
    LossyNetwork(const LossyNetwork&) = delete;
    LossyNetwork& operator=(const LossyNetwork&) = delete;
    ~LossyNetwork()
    {
        m_proxy.kill();
        m_proxy.waitForFinished(5000);
    }

    /// Starts the proxy; false (and \p error) when it does not listen.
    bool start(QString* error)
    {
        const QString socket = qEnvironmentVariable("MOX_TEST_PGHOST") +
                               QStringLiteral("/.s.PGSQL.") +
                               qEnvironmentVariable("MOX_TEST_PGPORT", QStringLiteral("5432"));
        m_proxy.start(QStringLiteral(MOX_DELAYPROXY),
                      {QStringLiteral("0"), socket, QStringLiteral("0"), armFile()});
        if (!m_proxy.waitForStarted(10000) || !m_proxy.waitForReadyRead(10000)) {
            *error = QStringLiteral("delayproxy did not start: ") + m_proxy.errorString();
            return false;
        }
        m_port = m_proxy.readLine().trimmed().toInt();
        return m_port > 0;
    }

    /// The INI text \p ini with its Host= and Port= lines leading to the proxy instead.
    QString through(QString ini) const
    {
        ini.replace(
            QRegularExpression(QStringLiteral("^Host=.*$"), QRegularExpression::MultilineOption),
            QStringLiteral("Host=127.0.0.1"));
        ini.replace(
            QRegularExpression(QStringLiteral("^Port=.*$"), QRegularExpression::MultilineOption),
            QStringLiteral("Port=%1").arg(m_port));
        if (!ini.contains(QStringLiteral("\nPort=")))
            ini += QStringLiteral("\nPort=%1\n").arg(m_port);
        // The proxy relays plain bytes to the server's socket: a desk on the loopback address
        // would otherwise ask for a verified encrypted connection.
        ini += QStringLiteral("\nSslMode=disable\n");
        return ini;
    }

    /// The answer to the next COMMIT sent through the proxy is lost with the connection.
    void loseNextCommitAnswer() const
    {
        QFile f(armFile());
        (void)f.open(QIODevice::WriteOnly);
    }
    /// True once the proxy has lost that answer.
    bool commitAnswerLost() const { return !QFile::exists(armFile()); }
    /// Cuts the network: every connection through it goes and no new one is made.
    void cut()
    {
        m_proxy.kill();
        m_proxy.waitForFinished(5000);
    }

private:
    QString armFile() const { return QDir(m_dir.path()).filePath(QStringLiteral("lose-commit")); }

    QTemporaryDir m_dir;
    QProcess m_proxy;
    int m_port = 0;
};

} // namespace moxtest
