#include "mox110ui/frmmox110.h"

#include "mox110/bonuscalc.h"
#include "mox110/callup.h"
#include "mox110/kyuyorecord.h"
#include "mox110/records.h"
#include "mox110ui/frmsaikeisan.h"

#include "base/format.h"
#include "mox/bascmnname.h"
#include "mox/comdate.h"
#include "mox/comkordao.h"
#include "mox/compfmode.h"
#include "mox/frmomachi.h"
#include "mox/screen.h"
#include "mox/shell.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

using mox110::kInputClassManual;
using mox110::kPayClassDaily;

// The function keys and the key modes they act in: 0 nobody called up, 2 a stored bonus open
// for correction, 3 a new bonus, 4 a stored bonus shown for viewing.
constexpr mox::FunctionKey kFunctionKeys[] = {
    {0, u"前月計", mox::inModes({2, 3})}, {3, u"取　消", mox::inModes({2, 3, 4})},
    {4, u"削　除", mox::inModes({2})},    {9, u"終　了", mox::inModes({0})},
    {10, u"読　込", mox::inModes({0})},   {11, u"更　新", mox::inModes({2, 3})},
};

} // namespace

frmMox110::frmMox110(QWidget* parent) : QWidget(parent)
{
    buildLayout();
    m_boxes = std::make_unique<mox110ui::BoundBoxes>(*this);
    connectHandlers();
    mox::centreForm(*this);
    SYOTOKU = std::make_unique<KorTAX::clsTax>();
    m_ctx.tax = SYOTOKU.get();
    m_saikeisan = new frmSAIKEISAN(this);
    m_keyFilter = new mox::FunctionKeyFilter(*this, [this](int index) { cmdPFKEY_Click(index); });
}

frmMox110::~frmMox110() = default;

void frmMox110::connectHandlers()
{
    for (int i = 0; i < 12; ++i)
        connect(cmdPFKEY[static_cast<std::size_t>(i)], &QPushButton::clicked, this,
                [this, i] { cmdPFKEY_Click(i); });

    // One value on entry serves every box of the form: only the box just left can have changed.
    for (const auto& [box, recalc] : m_boxes->recalculatingBoxes()) {
        if (auto* num = qobject_cast<KorNum*>(box)) {
            connect(num, &KorNum::GotFocus, this, [this, num] { onBoxGotFocus(num); });
            connect(num, &KorNum::LostFocus, this,
                    [this, num, r = recalc] { onBoxLostFocus(num, r); });
        } else if (auto* list = qobject_cast<QComboBox*>(box)) {
            connect(list, &QComboBox::currentIndexChanged, this,
                    [this, r = recalc] { onListChanged(r); });
        }
    }
}

void frmMox110::Form_Set()
{
    try {
        prsDbOpen();
        prsTbOpen();
        prsDspClr();
    } catch (const KorDAO::DaoError& e) {
        mox::prsDaoStatus(e.status(), false); // a field of the management or personnel table
    }
}

void frmMox110::prsDbOpen()
{
    m_db.setDBIniNameString(u"MOX.INI"_s);
    mox::prsDaoStatus(m_db.DAO_DBOpen(), false);
}

void frmMox110::prsDbClose()
{
    mox::prsDaoStatus(m_db.DAO_DBClose(), false);
}

void frmMox110::prsTbOpen()
{
    const QString kanriKey = u"KEY = 'KANRI'"_s;
    m_kanriTb.setTBDatabase(m_db.DBDatabase());
    m_kanriTb.setTBNameString(u"GKKANRI"_s);
    const int kanriOpen = m_kanriTb.DAO_TableOpen(kanriKey, QString());
    mox::prsDaoStatus(static_cast<short>(kanriOpen < 0 ? kanriOpen : 0), false);
    if (m_kanriTb.DAO_RecFind(1, kanriKey) != 0) {
        mox::shell().messageBox(u"管理マスタが読込できません。"_s, mox::MsgIcon::Critical,
                                mox::MsgButtons::Ok, windowTitle());
        mox::shell().endProgram(1);
    }
    const Currency syorid = m_kanriTb.TBRec()[u"SYORID"].toCurrency();
    const bool december = mox::prfDatePart(syorid, u"M") == Currency::fromYen(12);

    m_jinjiTb.setTBDatabase(m_db.DBDatabase());
    m_jinjiTb.setTBNameString(u"GKJINJI"_s);
    const int n = m_jinjiTb.DAO_TableOpen(QString(), u"SYOKCD"_s);
    short st = m_jinjiTb.DAO_RecRead(1);
    for (int i = 1; i <= n && st == 0; ++i) {
        KorDAO::Record r = m_jinjiTb.TBRec();
        if (r[u"KYUKBN"].toInt() != kPayClassDaily || december) {
            const int code = r[u"SYOKCD"].toInt();
            cboSyokcd->addItem(mox::format(code, u"0000000") + u':' + r[u"SIMKNJ"].toString(),
                               code);
        }
        st = m_jinjiTb.DAO_RecRead(2);
    }

    m_kyuyoTb.setTBDatabase(m_db.DBDatabase());
    m_kyuyoTb.setTBNameString(u"GKKYUYO"_s);
    const int kyuyoOpen = m_kyuyoTb.DAO_TableOpen(QString(), QString());
    mox::prsDaoStatus(static_cast<short>(kyuyoOpen < 0 ? kyuyoOpen : 0), false);
}

void frmMox110::prsTbClose()
{
    mox::prsDaoStatus(m_kanriTb.DAO_TableClose(), false);
    mox::prsDaoStatus(m_jinjiTb.DAO_TableClose(), false);
    mox::prsDaoStatus(m_kyuyoTb.DAO_TableClose(), false);
}

bool frmMox110::prfReadKanri()
{
    const short st = m_kanriTb.DAO_RecFind(1, u"KEY = 'KANRI'"_s);
    if (st == 0) {
        const mox::Result<mox110::KanriRecord> k = mox110::readKanri(m_kanriTb.TBRec());
        if (const mox::Status* s = mox::failure(k))
            mox::prsDaoStatus(static_cast<short>(s->code), false);
        else
            m_ctx.kanri = mox::value(k);
        return true;
    }
    mox::prsDaoStatus(st, false);
    return false;
}

void frmMox110::prsKanriSet()
{
    // A processing month too large to be a date, or one other than June or December: the
    // management record is unusable.
    if (const mox::Status s = mox110::setProcessingMonth(m_ctx.kanri); !s.ok()) {
        mox::shell().messageBox(s.message,
                                mox110::isAmountOverflow(s) ? mox::MsgIcon::Critical
                                                            : mox::MsgIcon::Exclamation,
                                mox::MsgButtons::Ok, windowTitle());
        mox::shell().endProgram(1);
        return;
    }
    lblYm->setText(mox::prfEraEdit(u"JYM", u"DSP", u"B"));
    if (mox::prfDatePart(m_ctx.kanri.SYORID, u"M") == Currency::fromYen(6)) {
        nu1Kankmritu->setValue(m_ctx.kanri.KM6KM);
        nu1Kankbritu->setValue(m_ctx.kanri.KM6KB);
    } else {
        nu1Kankmritu->setValue(m_ctx.kanri.KM12KM);
        nu1Kankbritu->setValue(m_ctx.kanri.KM12KB);
    }
}

bool frmMox110::prfReadJinji(int code)
{
    const short st = m_jinjiTb.DAO_RecFind(1, u"SYOKCD = "_s + QString::number(code));
    if (st != 0) {
        mox::prsDaoStatus(st, false);
        return false;
    }
    const mox::Result<mox110::JinjiRecord> j = mox110::readJinji(m_jinjiTb.TBRec());
    if (const mox::Status* s = mox::failure(j))
        mox::prsDaoStatus(static_cast<short>(s->code), false);
    m_ctx.jinji = mox::value(j);
    return true;
}

QString frmMox110::kyuyoCriteria() const
{
    return u"KYUSYU = 2"_s + u" And SKYUYM = "_s + m_ctx.kanri.SYORID.toPlainString() +
           u" And SYOKCD = "_s + QString::number(selectedCode());
}

bool frmMox110::prfReadKyuyo()
{
    return m_kyuyoTb.DAO_RecFind(1, kyuyoCriteria()) == 0;
}

int frmMox110::selectedCode() const
{
    return cboSyokcd->currentData().toInt();
}

void frmMox110::prsSetPFMode(int mode)
{
    mox::setFunctionKeys(cmdPFKEY, kFunctionKeys, mode);
    m_keyMode = mode;
}

void frmMox110::prsDspInp(int mode)
{
    const bool daily = m_ctx.jinji.KYUKBN == kPayClassDaily;
    switch (mode) {
    case 0:
        frmSyocd->setEnabled(true);
        for (QFrame* f : {frmRitu, frmKubn, frmKsnritu, frmZaisyo, frmTeate1, frmTeate2, frmTeate3,
                          frmTeate4, frmTxt, frmKojyo, frmGokei, frmTa})
            f->setEnabled(false);
        break;
    case 2:
        frmKubn->setEnabled(true);
        frmTeate2->setEnabled(true);
        frmSyocd->setEnabled(false);
        frmZaisyo->setEnabled(false);
        if (daily) {
            frmTxt->setEnabled(true);
            frmTeate3->setEnabled(false);
            frmTeate4->setEnabled(false);
        }
        break;
    case 3:
        frmSyocd->setEnabled(false);
        break;
    case 4:
        for (QFrame* f :
             {frmKubn, frmZaisyo, frmTeate1, frmTeate2, frmTeate3, frmTeate4, frmKojyo, frmTa})
            f->setEnabled(true);
        frmSyocd->setEnabled(false);
        frmTa1->setEnabled(false);
        if (daily) {
            frmTxt->setEnabled(true);
            frmTeate3->setEnabled(false);
            frmTeate4->setEnabled(false);
        }
        break;
    default:
        break;
    }
    m_inputMode = mode;
}

void frmMox110::prsItemClr()
{
    const QSignalBlocker blockTok(cboTokkbn);
    const QSignalBlocker blockRou(cboRoukbn);
    for (KorNum* box : findChildren<KorNum*>())
        box->setValue(Currency());
    cboSyokcd->setCurrentIndex(-1);
    cboTokkbn->setCurrentIndex(-1);
    cboRoukbn->setCurrentIndex(-1);
    for (QLineEdit* t : {txtTxt1, txtTxt2, txtTxt3})
        t->clear();
    txtKmritu->setText(u"0.00000"_s);
    txtKbritu->setText(u"0.00000"_s);
    m_ctx.curKazeig = Currency();
    m_calcFailure = mox::Status::success();
}

void frmMox110::prsDspClr()
{
    prsSetPFMode(0);
    prsItemClr();
    prfReadKanri();
    prsKanriSet();
    nu1Kankmritu->setValue(Currency());
    nu1Kankbritu->setValue(Currency());
    prsDspInp(0);
    cboSyokcd->setFocus();
}

bool frmMox110::prfInpChek()
{
    if (cboSyokcd->currentIndex() < 0) {
        mox::shell().messageBox(u"職員が選択されていません。"_s, mox::MsgIcon::Exclamation,
                                mox::MsgButtons::Ok, windowTitle());
        cboSyokcd->setFocus();
        return false;
    }
    return true;
}

void frmMox110::cmdPFKEY_Click(int index)
{
    QPushButton* button = cmdPFKEY.at(static_cast<std::size_t>(index));
    if (!button->isEnabled())
        return;
    // Leaving the focused box first runs its change handling, so a changed figure is
    // recalculated before the key's action.
    button->setFocus();
    mox::shell().doEvents();
    if (m_keyBusy)
        return;
    m_keyBusy = true;
    struct Release {
        bool& busy;
        ~Release() { busy = false; }
    } release{m_keyBusy};
    guarded([this, index] {
        if (mox::pfModeFlag(index))
            runKeyAction(index);
    });
}

void frmMox110::runKeyAction(int index)
{
    switch (index) {
    case 0:
        prsPf00();
        break;
    case 3:
        prsPf03();
        break;
    case 4:
        prsPf04();
        break;
    case 9:
        prsPf09();
        break;
    case 10:
        prsPf10();
        break;
    case 11:
        prsPf11();
        break;
    default:
        break;
    }
}

void frmMox110::guarded(const std::function<void()>& action)
{
    try {
        action();
    } catch (const KorDAO::DaoError& e) {
        mox::prsDaoStatus(e.status(), false);
    } catch (const std::overflow_error&) {
        refuseAmountOverflow();
    }
}

void frmMox110::refuseAmountOverflow()
{
    // The boxes keep what the last finished step wrote back, and nothing is saved until a
    // calculation succeeds again. An action stopped between taking the input away and giving
    // it back (a save) gives it back as its key mode has it.
    m_calcFailure = mox110::amountOverflow();
    if (m_inputMode == 0 && m_keyMode == 4)
        prsDspInp(3);
    else if (m_inputMode == 0 && (m_keyMode == 2 || m_keyMode == 3))
        prsEntryInput();
    reportCalcFailure(m_calcFailure);
}

void frmMox110::prsPf00()
{
    underWait([this] {
        calculate([this](mox110::BonusScreen& s) {
            const mox::Status st =
                mox110::prsReadZenge(s, m_db.DBDatabase(), selectedCode(), m_ctx.kanri.SYORID);
            if (!st.ok())
                return st;
            return mox110::prsGokei(s, m_ctx);
        });
    });
}

void frmMox110::underWait(const std::function<void()>& action)
{
    mox::runWithWaitWindow(*this, action);
    // The wait window took the activation; give it back so that the focus set next is real.
    if (isVisible())
        activateWindow();
}

void frmMox110::prsPf03()
{
    prsDspClr();
}

void frmMox110::prsPf04()
{
    if (mox::shell().messageBox(u"データを削除しますか？"_s, mox::MsgIcon::Question,
                                mox::MsgButtons::YesNo, windowTitle()) != mox::MsgAnswer::Yes)
        return;
    if (const mox110::WriteResult r = prsDeleteKyuyo(); r.status != 0) {
        reportWriteRefused(r, /*deleting=*/true);
        prsEntryInput();
        return;
    }
    prsDspClr();
}

void frmMox110::prsPf05()
{
    calculate([this](mox110::BonusScreen& s) { return mox110::prsDspJinji(s, m_ctx); });
}

void frmMox110::prsPf09()
{
    prsTbClose();
    prsDbClose();
    mox::shell().endProgram(0);
}

void frmMox110::prsPf10()
{
    if (!prfInpChek())
        return;
    prfReadJinji(selectedCode());
    if (m_ctx.jinji.KYUKBN != kPayClassDaily) {
        prsKanriSet();
    } else {
        nu1Kankmritu->setValue(m_ctx.kanri.NKM12KM);
        nu1Kankbritu->setValue(Currency());
    }
    m_calcFailure = mox::Status::success();
    short flgMode = 0;
    const bool found = prfReadKyuyo();
    m_readStamp = m_kyuyoTb.DAO_RecStamp(); // a later save or delete writes only over this
    if (found) {
        flgMode = m_saikeisan->showModal();
        underWait([this, flgMode] {
            mox110::BonusScreen s = readScreen();
            const mox::Status st = mox110::prsDspKyuyo(s, m_ctx, m_kyuyoTb.TBRec());
            writeScreen(s);
            if (mox110::isAmountOverflow(st)) {
                // The stored figures are shown; their taxable amount is beyond the money
                // type, so they are refused like a failed calculation.
                m_calcFailure = st;
                reportCalcFailure(st);
            } else if (!st.ok()) {
                mox::prsDaoStatus(static_cast<short>(st.code), false);
            }
            if (flgMode == 4) {
                prsSetPFMode(4);
                return;
            }
            if (m_ctx.jinji.HYOKBN != kInputClassManual)
                prsPf05();
            prsSetPFMode(2);
        });
    } else {
        underWait([this] {
            calculate([this](mox110::BonusScreen& s) {
                return mox110::callUpNew(s, m_ctx, m_db.DBDatabase());
            });
            prsSetPFMode(3);
        });
        m_saikeisan->clearChoice();
    }
    mox::shell().doEvents();
    if (flgMode == 4) {
        prsDspInp(3);
        return;
    }
    prsEntryInput();
}

void frmMox110::prsEntryInput()
{
    if (m_ctx.jinji.HYOKBN != kInputClassManual) {
        prsDspInp(2);
    } else {
        prsDspInp(4);
        if (m_ctx.jinji.KYUKBN == kPayClassDaily) {
            frmZaisyo->setEnabled(false);
            frmTeate3->setEnabled(false);
            frmTeate4->setEnabled(false);
        }
    }
    cboTokkbn->setFocus();
}

void frmMox110::prsPf11()
{
    // A figure whose calculation failed (no tax table for the month) is never saved.
    if (!m_calcFailure.ok()) {
        reportCalcFailure(m_calcFailure);
        return;
    }
    // Figures that cannot be stored are refused before anything changes; the screen stays.
    const mox::Result<mox110::KyuyoValues> values =
        mox110::kyuyoValues(readScreen(), m_ctx, selectedCode());
    if (const mox::Status* bad = mox::failure(values)) {
        mox::shell().messageBox(bad->message, mox::MsgIcon::Exclamation, mox::MsgButtons::Ok,
                                windowTitle());
        return;
    }
    mox110::WriteResult r;
    underWait([&] {
        prsDspInp(0);
        r = prsWriteKyuyo(mox::value(values));
    });
    if (r.status != 0) {
        // Nothing was written: the operator's figures stay, to be saved again or discarded.
        reportWriteRefused(r, /*deleting=*/false);
        prsEntryInput();
        return;
    }
    if (r.commitLoss == KorDAO::CommitLoss::Saved) {
        // The connection went during the commit and reading back showed that the save went
        // through. The operator, who saw the wait end in trouble, is told; the figures stay on
        // screen, and what is stored now is what a further save writes over.
        mox::shell().messageBox(u"データベースとの接続が途中で切れましたが、保存されました。"_s,
                                mox::MsgIcon::Information, mox::MsgButtons::Ok, windowTitle());
        if (m_kyuyoTb.DAO_RecFind(1, kyuyoCriteria()) == 0)
            m_readStamp = m_kyuyoTb.DAO_RecStamp();
        prsEntryInput();
        return;
    }
    prsDspClr();
}

mox110::WriteResult frmMox110::prsWriteKyuyo(const mox110::KyuyoValues& values)
{
    m_kyuyoTb.setTBWorkspace(m_db.DBWorkspace());
    const mox110::WriteResult r =
        mox110::saveKyuyo(m_kyuyoTb, kyuyoCriteria(), m_readStamp, values, m_beforeCommit);
    if (!KorDAO::isTransient(r.status))
        mox::prsDaoStatus(r.status, false);
    return r;
}

mox110::WriteResult frmMox110::prsDeleteKyuyo()
{
    m_kyuyoTb.setTBWorkspace(m_db.DBWorkspace());
    const mox110::WriteResult r =
        mox110::deleteKyuyo(m_kyuyoTb, kyuyoCriteria(), m_readStamp, m_beforeCommit);
    if (r.missing) {
        mox::shell().messageBox(u"削除時データベース"_s + m_kyuyoTb.TBNameString() +
                                    u" レコード読込できません。"_s,
                                mox::MsgIcon::Critical, mox::MsgButtons::Ok, windowTitle());
        mox::shell().endProgram(1);
    }
    if (!KorDAO::isTransient(r.status))
        mox::prsDaoStatus(r.status, false);
    return r;
}

void frmMox110::reportWriteRefused(const mox110::WriteResult& refused, bool deleting)
{
    const QString again = deleting ? u"削除（F5）"_s : u"更新（F12）"_s;
    QString text;
    switch (refused.status) {
    case KorDAO::kRecordChanged:
        text = refused.vanished
                   ? u"この職員の賞与データは、読み込んだ後に他の端末で削除されました。"_s
                   : u"この職員の賞与データは、読み込んだ後に他の端末で更新されました。"_s;
        text += u"取消（F4）して読み込み直してください。"_s;
        break;
    case KorDAO::kLockTimeout:
        text = u"他の端末がデータを更新中のため、待ち時間内に%1できませんでした。"
               "入力内容はそのままです。しばらくしてからもう一度%2してください。"_s.arg(
                   deleting ? u"削除"_s : u"保存"_s, again);
        break;
    default:
        if (refused.commitLoss == KorDAO::CommitLoss::Unknown) {
            text = u"確定の途中でデータベースとの接続が切れたため、%1されたかどうか確かめられません"
                   "でした。入力内容はそのままです。取消（F4）して読み込み直し、%1されているか"
                   "確かめてください。"_s.arg(deleting ? u"削除"_s : u"保存"_s);
            break;
        }
        text = u"データベースとの接続が切れたため、%1できませんでした。"
               "入力内容はそのままです。もう一度%2してください。"_s.arg(
                   deleting ? u"削除"_s : u"保存"_s, again);
        break;
    }
    mox::shell().messageBox(text, mox::MsgIcon::Exclamation, mox::MsgButtons::Ok, windowTitle());
}

void frmMox110::onBoxGotFocus(KorNum* box)
{
    m_valueOnEntry = box->value();
}

void frmMox110::onBoxLostFocus(KorNum* box, mox110ui::Recalc recalc)
{
    if (box->value() == m_valueOnEntry)
        return;
    recalculate(recalc);
}

void frmMox110::onListChanged(mox110ui::Recalc recalc)
{
    if (m_updating)
        return;
    recalculate(recalc);
}

void frmMox110::recalculate(mox110ui::Recalc recalc)
{
    guarded([this, recalc] {
        calculate([this, recalc](mox110::BonusScreen& s) {
            if (recalc == mox110ui::Recalc::ZaisekiKeisan) {
                const mox::Status st = mox110::prsZaiseki(s, m_ctx);
                if (!st.ok())
                    return st;
            }
            return mox110::prsKeisan(s, m_ctx);
        });
    });
}

mox110::BonusScreen frmMox110::readScreen() const
{
    return m_boxes->read();
}

void frmMox110::writeScreen(const mox110::BonusScreen& s)
{
    // The calculation has already run the lists' change handling; copying back raises none.
    m_updating = true;
    m_boxes->write(s);
    m_updating = false;
}

void frmMox110::calculate(const std::function<mox::Status(mox110::BonusScreen&)>& step)
{
    ++m_recalculations;
    mox110::BonusScreen s = readScreen();
    const mox::Status st = step(s);
    writeScreen(s);
    m_calcFailure = st;
    if (!st.ok())
        reportCalcFailure(st);
}

void frmMox110::reportCalcFailure(const mox::Status& st)
{
    mox::shell().messageBox(st.message, mox::MsgIcon::Exclamation, mox::MsgButtons::Ok,
                            windowTitle());
}
