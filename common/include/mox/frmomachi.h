#pragma once

// frmOMACHI (please-wait window) and the one way the programs run a long action under it.

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include <array>
#include <functional>

namespace mox {

/// frmOMACHI: client area 4680 x 1710 twips, two lines "ただいま処理中です。" and
/// "しばらくお待ち下さい。" in "ＭＳ ゴシック" 9 pt. The caption is set by the caller.
class frmOMACHI : public QWidget {
    Q_OBJECT
public:
    explicit frmOMACHI(QWidget* parent = nullptr);

    /// Label1 (label array): the upper (0) and lower (1) line.
    std::array<QLabel*, 2> Label1{};
    /// The progress bar under the two lines, hidden until the first setProgress.
    QProgressBar* prgShori = nullptr;

    /// Shows the progress bar at \p done of \p total with \p format as its text ("%v" the done
    /// count, "%m" the total); the first call makes the window taller to hold it.
    void setProgress(const QString& format, int done, int total);
};

/// How a long action tells the wait window how far it has got: \p done of \p total, shown
/// with \p format (see frmOMACHI::setProgress). Pending window events run at the first report,
/// at the last (done == total) and otherwise at most every tenth of a second, so that the bar
/// moves without slowing the work.
using WaitProgress = std::function<void(const QString& format, int done, int total)>;

/// Runs \p action under the wait window: loads frmOMACHI with the caption of \p caller, shows it
/// modeless as a window of its own above the caller's form (so it keeps its normal colours while
/// the caller is disabled), disables \p caller, lets pending events run once, runs the action,
/// enables \p caller, closes the wait window and lets pending events run once more. The caller is
/// enabled and the window closed again also when the action throws; the exception then goes on to
/// the caller.
void runWithWaitWindow(QWidget& caller, const std::function<void()>& action);
/// The same for an action that reports its progress.
void runWithWaitWindow(QWidget& caller, const std::function<void(const WaitProgress&)>& action);

} // namespace mox
