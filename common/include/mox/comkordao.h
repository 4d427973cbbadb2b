#pragma once

// ComKorDAO (database component module): the reporting of failing database statuses. A failing
// status is fatal: one critical box with the cause and the code, then the program ends.

#include <QString>

namespace mox {

/// The message of a failing status: the subject word ("データベース" or "テーブル") joined to the
/// text of the code, or "例外なステータスコードが検出されました。" for a code without an entry.
QString daoStatusMessage(int status);

/// True when prsDaoStatus would report \p status: any negative status, except -9 (end of
/// records) and -99 when \p tolerate is set.
bool daoStatusIsFatal(int status, bool tolerate);

/// prsDaoStatus (report a database status): returns at once when the status is not fatal.
/// \p status is taken as int so that a record count of DAO_TableOpen can be passed as it is: a
/// count above 32767 is a success, never a wrapped negative status.
/// Otherwise shows "<message>\r\n\r\nErr Status = <status>" in a modal box (critical icon, OK,
/// empty title) and then ends the program through shell() with exit code 1: nothing after the
/// call runs, nothing is closed, an open transaction is rolled back by the shell's end hooks.
void prsDaoStatus(int status, bool tolerate);

} // namespace mox
