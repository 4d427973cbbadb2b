#pragma once

// frmMox030: the only screen of the ledger print program. It works out the fiscal year from the
// management record, lists every employee who has payment records, and prints one ledger page
// per chosen employee (F6), after which the program ends; F10 ends it without printing.

#include "mox030/ledgerpage.h"
#include "mox030/ruikei.h"

#include "kordao/kordao.h"
#include "korprint/korprint.h"
#include "mox/frmomachi.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QLabel;
class QListWidget;
class QPushButton;

namespace mox {
class FunctionKeyFilter;
}

class frmMox030 : public QWidget {
    Q_OBJECT
public:
    explicit frmMox030(QWidget* parent = nullptr);
    ~frmMox030() override;

    /// Form_Load (load handler): centres the form, reads the job-kind names, opens the payroll
    /// database and its tables, works out the fiscal year and fills the list. A failing status,
    /// a missing management record or an empty personnel master ends the program.
    void Form_Load();

    /// cmdPFKEY_Click: runs the function of button \p index (0 to 11) when it is enabled and its
    /// key may act: 0 select all, 1 clear, 5 print, 9 end.
    void cmdPFKEY_Click(int index);

    /// prsPF01 / prsPF02: selects, or clears the selection of, every item of lstMain.
    void prsPF01();
    void prsPF02();
    /// prfPrtchek (print check): true when at least one item of lstMain is selected.
    bool prfPrtchek() const;
    /// prsPf05: the print command (F6); the program ends after the run.
    void prsPf05();
    /// prsPf09: the end command (F10): closes the tables and the database and ends the program.
    void prsPf09();

    /// The folder of OVL.TMP and of the printed file. Unless set, the first print run works it
    /// out (mox::printFolder: [Print] Folder= of MOX.INI, the program's own folder when it may
    /// be written, else the user's own print folder).
    void setPrintFolder(const QString& folder) { m_printFolder = folder; }
    const QString& printFolder() const { return m_printFolder; }

    const QString& fromYM() const { return strFromYM; }
    const QString& toYM() const { return strToYM; }
    const QString& nendoPrt() const { return strNendoPrt; }

private:
    // Found by their object names ("lblShori", "Label5", "lstMain", "cmdPFKEY_0"…) by tests and
    // tools, as a user's tool finds them.
    QLabel* lblShori = nullptr; // fiscal year as era text ("処理" = processing)
    QLabel* Label5 = nullptr;   // heading of the list
    QListWidget* lstMain = nullptr;
    std::array<QPushButton*, 12> cmdPFKEY{}; // F1 to F12

    void prsSyokuSet();
    void prsOpenSet();
    void prsDbOpen();
    void prsTbOpen();
    void prsTBLRead();
    void prsSetPFMode(short mode);
    void prsTbClose();
    void prsDbClose();
    /// The print run under the wait window: ledger n of N while OVL.TMP is written, then page n
    /// of N while the print component draws.
    void prsPrint(const mox::WaitProgress& progress);
    /// Hands OVL.TMP to the print component as an archival PDF, then keeps a copy of it in the
    /// archive folder of the fiscal year; \p office (GKNAME) becomes the PDF's author.
    void handOver(const mox::WaitProgress& progress, const QString& office);
    korprint::DocumentInfo ledgerDocument(const QString& office) const;
    /// Runs \p work as one event: a field that cannot be read is reported like a failing status.
    static void guarded(const std::function<void()>& work);

    std::unique_ptr<KorDAO::clsDbAccess> MOX;     // the payroll database
    std::unique_ptr<KorDAO::clsTbAccess> GKKANRI; // management table, on KEY = 'KANRI'
    std::unique_ptr<KorDAO::clsTbAccess> GKJINJI; // personnel master, sorted by SYOKCD
    std::unique_ptr<KorDAO::clsTbAccess> GKKYUYO; // payment records

    mox030::SyokuMei strSyokuMei; // job-kind names ("職種名") 1 to 10, 20 characters each
    QString strFromYM;            // first payment month of the fiscal year, yyyy04
    QString strToYM;              // last payment month of the fiscal year, yyyy03
    QString strNendoPrt;          // era year of the fiscal year ("年度") in print style
    QString m_printFolder;
    mox::FunctionKeyFilter* m_keys = nullptr;
};
