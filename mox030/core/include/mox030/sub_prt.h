#pragma once

// SUB_PRT: the writer of the print command file OVL.TMP and the fixed-width amount text.
//
// The command file is CP932 text, one command per line, each line ended by CR LF:
//
//     ST 011001                        prsOvlStart(11, 1): paper and copies
//     CR 15063                         prsOvlCr(15, 6): characters and lines per inch, font 3
//     PE                               prsOvlPage(): a new page
//     TE 01200055301001001..text..     prsOvlText(12, 5.5, 3, 0, 100, 100, text)
//     ED                               prsOvlEnd(): the last line
//
// A text operand runs to the end of its line, so a line feed inside a name would start a
// command of its own (a forged amount, or an "ED " that ends the file early). Every text operand
// is therefore written cleaned: a control character becomes a blank, a character code page 932
// cannot hold becomes "？"; the writer counts both for the run's closing notice.
//
// An existing OVL.TMP is replaced only by a complete file: the lines go to a new temporary file
// (0600, never through a link) in the same folder, which prsOvlEnd renames over the old one. The
// folder must be the user's own and closed to others' writing, and a link or another user's file
// named OVL.TMP is refused (mox::PrivateFile). A file that cannot be created or written leaves
// any old OVL.TMP as it was and is reported by status(); the later calls of the run then do
// nothing.

#include "base/currency.h"
#include "base/status.h"

#include <QByteArray>
#include <QString>
#include <QStringEncoder>

#include <memory>

namespace mox {
class PrivateFile;
}

namespace mox030 {

/// prfOvlNum: \p value as a right-aligned text of exactly \p width characters, rounded half away
/// from zero to \p decimals places. \p minus: negative values get a leading "-" (otherwise they
/// show their magnitude); \p comma: thousands separators; \p hashFill: no leading zeros before
/// the last integer digit; \p showZero: a zero prints "0" (otherwise blanks).
///
/// A number too wide for the cell is never cut: it prints without thousands separators when that
/// fits, otherwise the cell is filled with \p width asterisks.
QString prfOvlNum(Currency value, short width, short decimals, bool minus, bool comma,
                  bool hashFill, bool showZero);

class SUB_PRT {
public:
    SUB_PRT();
    ~SUB_PRT();
    SUB_PRT(const SUB_PRT&) = delete;
    SUB_PRT& operator=(const SUB_PRT&) = delete;

    /// strPrtPath: the folder of the command file.
    void setPrtPath(const QString& folder) { m_strPrtPath = folder; }
    const QString& prtPath() const { return m_strPrtPath; }
    /// The full path of the command file: the folder joined with "OVL.TMP".
    QString filePath() const;

    /// Creates the file anew and writes "ST " + \p op1 as "000" + \p op2 as "000".
    void prsOvlStart(int op1, int op2);
    /// "CR " + \p op1 as "00" + \p op2 as "00" + "3".
    void prsOvlCr(Currency op1, Currency op2);
    /// "PE ".
    void prsOvlPage();
    /// "TE " + Int(x*10) as "0000" + Int(y*10) as "0000" + \p op3 as "0" + \p op4 as "0" +
    /// \p op5 as "000" + \p op6 as "000" + \p text, cleaned: each control character becomes a
    /// blank, each character CP932 cannot hold (a surrogate pair being one) a full-width "？".
    void prsOvlText(Currency x, Currency y, int op3, Currency op4, short op5, short op6,
                    const QString& text);
    /// "ED ", then closes the file and puts it in place of any old OVL.TMP.
    void prsOvlEnd();

    /// The first failure of the run (creating, writing or renaming the file); ok() otherwise.
    const mox::Status& status() const { return m_status; }
    /// Characters of the text operands written since prsOvlStart that went out as a blank (control
    /// characters) and as "？" (characters CP932 cannot hold).
    int blankedChars() const { return m_blanked; }
    int replacedChars() const { return m_replaced; }

private:
    /// prsOvlWrite: 1 creates the file and writes, 2 and 3 write, 4 writes and closes; any
    /// other mode does nothing.
    void prsOvlWrite(int mode, const QString& line);
    void fail(const QString& what);
    /// Appends \p text to \p line cleaned as prsOvlText describes, counting what it changed.
    void appendCleanText(QString& line, QStringView text);

    QString m_strPrtPath;
    std::unique_ptr<mox::PrivateFile> m_file;
    QStringEncoder m_encoder;
    QString m_text;    // the text line being built
    QByteArray m_line; // the same line, encoded
    mox::Status m_status;
    int m_blanked = 0;
    int m_replaced = 0;
};

} // namespace mox030
