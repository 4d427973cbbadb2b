#pragma once

// frmBack: the background window both programs show first. Loading it is the start-up guard:
// a start without a command line, or a second copy of the same program, ends the process
// silently before anything else happens. A lock file that cannot be made is said in a message
// box and ends the process with code 1.
//
//     int main(int argc, char** argv) {
//         QApplication app(argc, argv);
//         const auto back = mox::startUp(app.arguments().mid(1), u"mox110"_s);
//         ...show the main form, then return app.exec();
//     }

#include <QString>
#include <QStringList>
#include <QWidget>

#include <utility>
#include <vector>

class QLabel;

#include <memory>

namespace mox {

class InstanceLock;

/// frmBack (background form): borderless, caption "Form2", no controls but a small label in the
/// bottom right corner naming the database in use. Unless the command line ends in "@" it
/// covers the available screen area and stays below the program's other windows.
class frmBack : public QWidget {
    Q_OBJECT
public:
    explicit frmBack(QWidget* parent = nullptr);
    ~frmBack() override;

    /// p_iFrmBackOption (public integer option): non-zero allows a start without a command line.
    /// Neither program sets it.
    static inline short p_iFrmBackOption = 0;

    /// Form_Load (load handler): the start-up guard. \p commandLine is the whole argument text;
    /// it is trimmed of blanks. Empty (and p_iFrmBackOption 0) ends the program with code 0
    /// through shell(). A trailing "@" sets the window to the normal state and 0 x 0 and lets
    /// pending events run once. Then, whatever the command line, an earlier running copy of
    /// \p programName (a lock file in \p lockFolder, held while the process lives and released by
    /// the kernel even when the process is killed) ends the program with code 0. When the lock
    /// folder or file cannot be made (no permission, read-only or full disk, a symbolic link in
    /// the file's place), a message box names the file and the reason and the program ends with
    /// code 1. An empty \p lockFolder means privateLockFolder(). Returns only when the start may
    /// go on; this window then holds the lock until it is destroyed.
    void Form_Load(const QString& commandLine, const QString& programName,
                   const QString& lockFolder = QString());

    /// True when the last Form_Load shrank the window for a trailing "@".
    bool shrunk() const { return m_shrunk; }

    /// Makes this window the one that shows what the database component has to tell: each
    /// database opened is named in the bottom right corner (one line per INI file, the latest
    /// place of each), and a configuration warning comes up once in a message box through
    /// shell(). Until the window goes; the notices are removed then.
    void showDatabaseNotices();

    /// The line for \p iniName in the corner text, added or replaced.
    void showDatabase(const QString& iniName, const QString& location);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeDatabaseLabel();

    std::unique_ptr<InstanceLock> m_lock;
    bool m_shrunk = false;
    bool m_noticesInstalled = false;
    QLabel* m_database = nullptr; // objectName "lblDatabase"; hidden until a database opens
    std::vector<std::pair<QString, QString>> m_databases; // INI file name, location
};

/// The start of both programs: sets the program id, creates frmBack, runs its guard (which may
/// end the process), lets it show the database notices and shows it. \p args are the command-line
/// arguments after the program path; the command line is them joined by blanks. The caller keeps
/// the window for the program's life.
std::unique_ptr<frmBack> startUp(const QStringList& args, const QString& programName);

} // namespace mox
