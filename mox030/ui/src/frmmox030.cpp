#include "mox030ui/frmmox030.h"

#include "mox030/ledgerarchive.h"
#include "mox030/ledgerrun.h"

#include "base/format.h"
#include "korprint/korprint.h"
#include "mox/accessible.h"
#include "mox/bascmnname.h"
#include "mox/comdate.h"
#include "mox/comkordao.h"
#include "mox/compfmode.h"
#include "mox/fonts.h"
#include "mox/frmomachi.h"
#include "mox/printfolder.h"
#include "mox/screen.h"
#include "mox/shell.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// The function keys, all acting in the one key mode 0 (every other mode has none).
constexpr mox::FunctionKey kFunctionKeys[] = {
    {0, u"全選択", mox::inModes({0})},
    {1, u"全解除", mox::inModes({0})},
    {5, u"印　刷", mox::inModes({0})},
    {9, u"終　了", mox::inModes({0})},
};

constexpr std::array<int, 12> kKeyLefts{375,  1230, 2085, 2940, 4095, 4950,
                                        5805, 6660, 7815, 8670, 9525, 10380};

// True for the events that extend the selection over a range: a left click or a movement key
// (arrows, page keys, Home, End) with Shift held.
bool extendsRange(const QEvent& event)
{
    if (event.type() == QEvent::MouseButtonPress) {
        const auto& mouse = static_cast<const QMouseEvent&>(event);
        return mouse.button() == Qt::LeftButton && mouse.modifiers().testFlag(Qt::ShiftModifier);
    }
    if (event.type() != QEvent::KeyPress)
        return false;
    const auto& key = static_cast<const QKeyEvent&>(event);
    if (!key.modifiers().testFlag(Qt::ShiftModifier))
        return false;
    switch (key.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

// The employee list. A click, Ctrl-click or Space toggles one employee and leaves the others as
// they are (the list's multi-selection mode); Shift with a click or a movement key selects the
// range from the item last clicked or moved to without Shift, keeping what was selected before;
// a movement key alone moves without selecting.
class EmployeeList final : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override
    {
        if (event && extendsRange(*event))
            return QItemSelectionModel::SelectCurrent | QItemSelectionModel::Rows;
        return QListWidget::selectionCommand(index, event);
    }

    // Every item starts with a blank, so Space taken as a search would also move to the next
    // employee and toggle that one too.
    void keyboardSearch(const QString& search) override
    {
        if (!search.trimmed().isEmpty())
            QListWidget::keyboardSearch(search);
    }
};

void paintWhiteOnBlue(QLabel& label)
{
    QPalette pal = label.palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 192));
    pal.setColor(QPalette::WindowText, QColor(255, 255, 255));
    label.setPalette(pal);
    label.setAutoFillBackground(true);
}

} // namespace

frmMox030::frmMox030(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(u"個人別給与累計表印刷"_s);
    setFont(QFont(mox::gothicFamily(), 9));
    setFixedSize(mox::twipsSize(11610, 7875));

    lblShori = new QLabel(this);
    lblShori->setObjectName(u"lblShori"_s);
    lblShori->setGeometry(mox::twipsRect(0, 0, 1620, 300));
    lblShori->setAlignment(Qt::AlignCenter);
    paintWhiteOnBlue(*lblShori);

    Label5 = new QLabel(u"職　員　選　択"_s, this);
    Label5->setObjectName(u"Label5"_s);
    Label5->setGeometry(mox::twipsRect(4320, 2400, 2925, 300));
    Label5->setAlignment(Qt::AlignCenter);
    paintWhiteOnBlue(*Label5);

    lstMain = new EmployeeList(this);
    lstMain->setObjectName(u"lstMain"_s);
    lstMain->setGeometry(mox::twipsRect(4320, 2640, 2925, 3480));
    // A click or Space toggles one item; Shift with a click or an arrow selects a range;
    // dragging with the button held toggles the items passed over.
    lstMain->setSelectionMode(QAbstractItemView::MultiSelection);
    mox::nameByCaption(*Label5, *lstMain);

    cmdPFKEY = mox::createPFKeys(*this, kKeyLefts, 7500, 855, 315);
    QWidget* previous = lstMain;
    for (int i = 0; i < 12; ++i) {
        QPushButton* b = cmdPFKEY[static_cast<std::size_t>(i)];
        connect(b, &QPushButton::clicked, this, [this, i] { cmdPFKEY_Click(i); });
        setTabOrder(previous, b);
        previous = b;
    }
    // Form_KeyDown: F1 to F12 press their button whatever control has the focus.
    m_keys = new mox::FunctionKeyFilter(
        *this, [this](int index) { cmdPFKEY[static_cast<std::size_t>(index)]->click(); });
    lstMain->setFocus();
}

frmMox030::~frmMox030() = default;

void frmMox030::guarded(const std::function<void()>& work)
{
    // A field that cannot be read ends the work with the component's status, reported.
    if (const mox::Status s = KorDAO::readFields(work); !s.ok())
        mox::prsDaoStatus(s.code, false);
}

void frmMox030::Form_Load()
{
    mox::centreForm(*this);
    prsSyokuSet();
    MOX = std::make_unique<KorDAO::clsDbAccess>();
    GKKANRI = std::make_unique<KorDAO::clsTbAccess>();
    GKJINJI = std::make_unique<KorDAO::clsTbAccess>();
    GKKYUYO = std::make_unique<KorDAO::clsTbAccess>();
    guarded([this] { prsOpenSet(); });
}

void frmMox030::prsSyokuSet()
{
    mox::prsNameRead(1);
    const auto& names = mox::cmnNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        strSyokuMei[i + 1] = names[i];
}

void frmMox030::prsOpenSet()
{
    prsDbOpen();
    prsTbOpen();
    prsTBLRead();
    prsSetPFMode(0);
}

void frmMox030::prsDbOpen()
{
    MOX->setDBIniNameString(u"MOX.INI"_s);
    mox::prsDaoStatus(MOX->DAO_DBOpen(), false);
}

void frmMox030::prsTbOpen()
{
    GKKANRI->setTBDatabase(MOX->DBDatabase());
    GKKANRI->setTBNameString(u"GKKANRI"_s);
    mox::prsDaoStatus(GKKANRI->DAO_TableOpen(u"KEY = 'KANRI'"_s, QString()), false);
    if (GKKANRI->DAO_RecFind(1, u"KEY = 'KANRI'"_s) != 0) {
        mox::shell().messageBox(u"管理マスタが読込できません。"_s, mox::MsgIcon::Critical,
                                mox::MsgButtons::Ok, windowTitle());
        mox::shell().endProgram(1);
    }

    // The fiscal year runs from April: a processing month of January to March belongs to the
    // year that began in the April before.
    const Currency syorid = GKKANRI->TBRec()[u"SYORID"].toCurrency();
    const Currency month = mox::prfDatePart(syorid, u"M");
    const Currency yearMonth =
        month < Currency::fromYen(4) ? syorid - Currency::fromYen(100) : syorid;
    mox::prfEraDate(yearMonth * 100 + Currency::fromYen(1));
    lblShori->setText(mox::prfEraEdit(u"JY", u"DSP", u"NB"));

    GKJINJI->setTBDatabase(MOX->DBDatabase());
    GKJINJI->setTBNameString(u"GKJINJI"_s);
    const int count = GKJINJI->DAO_TableOpen(QString(), u"SYOKCD"_s);
    mox::prsDaoStatus(count, false);

    const QString syoridText = syorid.toPlainString();
    const int y = syoridText.left(4).toInt();
    const int m = syoridText.mid(4, 2).toInt();
    const int fromYear = m >= 1 && m <= 3 ? y - 1 : y;
    strFromYM = QString::number(fromYear) + u"04"_s;
    strToYM = QString::number(fromYear + 1) + u"03"_s;

    mox::prfEraDate(Currency::fromYen(std::int64_t{strFromYM.toInt()} * 100 + 1));
    strNendoPrt = mox::prfEraEdit(u"JY", u"PRT", u"NB");

    if (count == 0) {
        show();
        mox::shell().messageBox(u"該当するデータが登録されていません。"_s,
                                mox::MsgIcon::Exclamation, mox::MsgButtons::Ok, windowTitle());
        prsPf09();
    }
}

void frmMox030::prsTBLRead()
{
    GKKYUYO = std::make_unique<KorDAO::clsTbAccess>();
    GKKYUYO->setTBDatabase(MOX->DBDatabase());
    GKKYUYO->setTBNameString(u"GKKYUYO"_s);
    // A payment table that cannot be opened is reported with its own status here; otherwise
    // every find below would fail only as "table closed".
    mox::prsDaoStatus(GKKYUYO->DAO_TableOpen(QString(), QString()), false);

    for (short st = GKJINJI->DAO_RecRead(1); st != KorDAO::kEndOfRecords && st != -99;
         st = GKJINJI->DAO_RecRead(2)) {
        mox::prsDaoStatus(st, true);
        KorDAO::Record rec = GKJINJI->TBRec();
        const int code = rec[u"SYOKCD"].toInt();
        // An employee without payment records (-8) is not listed; any other status of the find
        // is a failure and ends the program.
        const short found = GKKYUYO->DAO_RecFind(1, u"SYOKCD = "_s + QString::number(code));
        if (found == KorDAO::kNoRecord)
            continue;
        mox::prsDaoStatus(found, false);
        auto* item =
            new QListWidgetItem(u' ' + mox030::codeText(code) + u' ' + rec[u"SIMKNJ"].toString());
        item->setData(Qt::UserRole, code);
        // Read out without the leading blank of the line.
        item->setData(Qt::AccessibleTextRole, item->text().trimmed());
        lstMain->addItem(item);
    }
    mox::prsDaoStatus(GKKYUYO->DAO_TableClose(), false);
}

void frmMox030::prsSetPFMode(short mode)
{
    mox::setFunctionKeys(cmdPFKEY, kFunctionKeys, mode);
}

void frmMox030::cmdPFKEY_Click(int index)
{
    if (index < 0 || index > 11)
        return;
    QPushButton* button = cmdPFKEY[static_cast<std::size_t>(index)];
    if (!button->isEnabled())
        return;
    button->setFocus();
    mox::shell().doEvents();
    if (!mox::pfModeFlag(index))
        return;
    guarded([this, index] {
        switch (index) {
        case 0:
            prsPF01();
            break;
        case 1:
            prsPF02();
            break;
        case 5:
            prsPf05();
            break;
        case 9:
            prsPf09();
            break;
        default:
            break;
        }
    });
}

// One selection change for the whole list: selecting item by item costs a merge of the
// selection per item, which for a district of 30,000 staff kept the form busy for minutes.
void frmMox030::prsPF01()
{
    lstMain->selectAll();
}

void frmMox030::prsPF02()
{
    lstMain->clearSelection();
}

bool frmMox030::prfPrtchek() const
{
    for (int i = 0; i < lstMain->count(); ++i) {
        if (lstMain->item(i)->isSelected())
            return true;
    }
    return false;
}

void frmMox030::prsPf05()
{
    if (!prfPrtchek()) {
        mox::shell().messageBox(u"職員が選択されていません。"_s, mox::MsgIcon::Exclamation,
                                mox::MsgButtons::Ok, windowTitle());
        lstMain->setFocus();
        return;
    }
    mox::runWithWaitWindow(*this,
                           [this](const mox::WaitProgress& progress) { prsPrint(progress); });
    prsPf09();
}

void frmMox030::prsPrint(const mox::WaitProgress& progress)
{
    mox030::PrintJob job;
    job.db = MOX->DBDatabase();
    job.GKJINJI = GKJINJI.get();
    job.GKKYUYO = GKKYUYO.get();
    job.strFromYM = strFromYM;
    job.strToYM = strToYM;
    job.strNendoPrt = strNendoPrt;
    job.strSyokuMei = strSyokuMei;
    KorDAO::Record kanri = GKKANRI->TBRec();
    job.GKNAME = kanri[u"GKNAME"].toString();
    job.SYOZOKU = kanri[u"SYOZOKU"].toString();
    for (int i = 0; i < lstMain->count(); ++i) {
        if (lstMain->item(i)->isSelected())
            job.codes.append(lstMain->item(i)->data(Qt::UserRole).toInt());
    }
    const mox::PrintSettings settings = mox::printSettings();
    if (m_printFolder.isEmpty()) {
        mox::Result<QString> folder =
            mox::printFolder(QCoreApplication::applicationDirPath(), settings);
        if (const mox::Status* s = mox::failure(folder)) {
            mox::shell().messageBox(s->message, mox::MsgIcon::Critical, mox::MsgButtons::Ok,
                                    windowTitle());
            mox::shell().endProgram(1);
        }
        m_printFolder = mox::value(folder);
    }
    job.folder = m_printFolder;
    job.progress = [&progress](int done, int total) {
        progress(u"台帳 %v / %m 人"_s, done, total);
    };

    const mox030::PrintOutcome out = mox030::prsPrint(job);
    mox::prsDaoStatus(out.daoStatus, false);
    if (!out.amounts.ok()) {
        // As the calculation of mox110 refuses such amounts: the run ends with the message and
        // no command file is left.
        mox::shell().messageBox(out.amounts.message, mox::MsgIcon::Critical, mox::MsgButtons::Ok,
                                windowTitle());
        mox::shell().endProgram(1);
    }
    if (!out.file.ok()) {
        mox::shell().messageBox(out.file.message, mox::MsgIcon::Critical, mox::MsgButtons::Ok,
                                windowTitle());
        mox::shell().endProgram(1);
    }
    if (out.pages > 0) {
        handOver(progress, job.GKNAME);
        // Printed, but not every text as it is stored: the operator learns how many characters
        // were changed, so that the names can be corrected; and which chosen employees were no
        // longer in the personnel master, whose pages have no header.
        for (const QString& notice : {out.notice(), out.missingNotice()}) {
            if (!notice.isEmpty())
                mox::shell().messageBox(notice, mox::MsgIcon::Information, mox::MsgButtons::Ok,
                                        windowTitle());
        }
        // Without a printer the PDF is the printout: the desktop's viewer shows it, from which
        // the operator can print or keep it.
        if (settings.open && qEnvironmentVariableIsEmpty("MOX_PRINTER")) {
            const QString pdf = QDir(m_printFolder).filePath(u"Mox030.pdf"_s);
            mox::shell().openUrl(QUrl::fromLocalFile(pdf));
        }
    } else if (!job.codes.isEmpty())
        mox::shell().messageBox(u"該当データがありません"_s, mox::MsgIcon::Exclamation,
                                mox::MsgButtons::Ok, windowTitle());
}

void frmMox030::handOver(const mox::WaitProgress& progress, const QString& office)
{
    const std::unique_ptr<korprint::PrintComponent> prt = korprint::create();
    prt->setPrintFIlePath(m_printFolder);
    prt->setPageProgress(
        [&progress](int page, int pages) { progress(u"印刷 %v / %m ページ"_s, page, pages); });
    const QDateTime when = QDateTime::currentDateTime();
    const short rc = prt->PrtFile(u"Mox030"_s, ledgerDocument(office), u"Mox030p.ovl"_s);
    // The PDF is replaced by the next run: a copy is kept as the record of this one, also when
    // only the printer failed after the PDF was written.
    QString notKept;
    if (rc == korprint::PrintOk || rc == korprint::PrinterFailed) {
        const QString pdf = QDir(m_printFolder).filePath(u"Mox030.pdf"_s);
        mox::Result<QString> kept = mox030::archiveLedger(
            pdf, m_printFolder, strFromYM.left(4).toInt(), when, prt->pdfSha256());
        if (const mox::Status* s = mox::failure(kept))
            notKept =
                u"台帳の控えを保存できませんでした。印刷したPDFは %1 にあります。\r\n\r\n"_s.arg(
                    QDir::toNativeSeparators(pdf)) +
                s->message;
    }
    if (rc != korprint::PrintOk) {
        mox::shell().messageBox(u"印刷できませんでした。\r\n\r\n"_s + prt->lastError() +
                                    (notKept.isEmpty() ? QString() : u"\r\n\r\n"_s + notKept),
                                mox::MsgIcon::Critical, mox::MsgButtons::Ok, windowTitle());
        mox::shell().endProgram(1);
    }
    if (!notKept.isEmpty()) {
        mox::shell().messageBox(notKept, mox::MsgIcon::Critical, mox::MsgButtons::Ok,
                                windowTitle());
        mox::shell().endProgram(1);
    }
}

korprint::DocumentInfo frmMox030::ledgerDocument(const QString& office) const
{
    // The fiscal year as the page prints it ("令和  8 年", followed by the form's "度"), without
    // the blanks that align it there: "令和8年度".
    QString year = strNendoPrt;
    year.remove(u' ').remove(u'　');
    year += u'度';
    korprint::DocumentInfo info;
    info.title = u"個人別給与累計表 "_s + year;
    info.subject =
        u"個人別給与累計表（%1：%2年4月〜%3年3月）"_s.arg(year, strFromYM.left(4), strToYM.left(4));
    info.author = office.trimmed().isEmpty() ? windowTitle() : office.trimmed();
    return info;
}

void frmMox030::prsPf09()
{
    prsTbClose();
    prsDbClose();
    mox::shell().endProgram(0);
}

void frmMox030::prsTbClose()
{
    mox::prsDaoStatus(GKKANRI->DAO_TableClose(), false);
    mox::prsDaoStatus(GKJINJI->DAO_TableClose(), false);
}

void frmMox030::prsDbClose()
{
    mox::prsDaoStatus(MOX->DAO_DBClose(), false);
}
