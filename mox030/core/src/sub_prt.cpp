#include "mox030/sub_prt.h"

#include "mox/format.h"

#include <QDir>
#include <QSaveFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace mox030 {

QString prfOvlNum(Currency value, short width, short decimals, bool minus, bool comma,
                  bool hashFill, bool showZero)
{
    QString picture(width, hashFill ? u'#' : u'0');
    if (comma && width > 3)
        picture[1] = u',';
    if (decimals > 0)
        picture =
            picture.left(std::max(0, width - decimals - 2)) + u"0."_s + QString(decimals, u'0');
    else
        picture = picture.left(std::max(0, width - 1)) + u'0';
    picture = picture + (minus ? u";-"_s : u";"_s) + picture;
    if (!showZero)
        picture += u"; "_s;

    QString text = mox::format(value, picture);
    if (text.size() > width) {
        // Cutting the leftmost characters would print a wrong amount: drop the separators
        // first, and mark the cell as too narrow when even that does not fit.
        text.remove(u',');
        if (text.size() > width)
            return QString(width, u'*');
    }
    return text.rightJustified(width, u' ');
}

SUB_PRT::SUB_PRT() : m_encoder("windows-31j") {}

SUB_PRT::~SUB_PRT() = default;

QString SUB_PRT::filePath() const
{
    return QDir(m_strPrtPath).filePath(u"OVL.TMP"_s);
}

void SUB_PRT::prsOvlStart(int op1, int op2)
{
    prsOvlWrite(1, u"ST "_s + mox::format(op1, u"000") + mox::format(op2, u"000"));
}

void SUB_PRT::prsOvlCr(Currency op1, Currency op2)
{
    prsOvlWrite(2, u"CR "_s + mox::format(op1, u"00") + mox::format(op2, u"00") + u'3');
}

void SUB_PRT::prsOvlPage()
{
    prsOvlWrite(3, u"PE "_s);
}

void SUB_PRT::prsOvlText(Currency x, Currency y, int op3, Currency op4, short op5, short op6,
                         const QString& text)
{
    // Positions are in tenths of a column or line; Int is the floor.
    const Currency xField = (x * 10).intPart();
    const Currency yField = (y * 10).intPart();
    prsOvlWrite(2, u"TE "_s + mox::format(xField, u"0000") + mox::format(yField, u"0000") +
                       mox::format(op3, u"0") + mox::format(op4, u"0") + mox::format(op5, u"000") +
                       mox::format(op6, u"000") + text);
}

void SUB_PRT::prsOvlEnd()
{
    prsOvlWrite(4, u"ED "_s);
}

void SUB_PRT::prsOvlWrite(int mode, const QString& line)
{
    if (mode < 1 || mode > 4)
        return;
    if (mode == 1) {
        m_status = mox::Status::success();
        m_file = std::make_unique<QSaveFile>(filePath());
        if (!m_file->open(QIODevice::WriteOnly)) {
            fail(m_file->errorString());
            return;
        }
    }
    if (!m_file || !m_status.ok())
        return;

    // Most lines are ASCII; those skip the code page converter.
    bool ascii = true;
    for (QChar c : line) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    m_line = ascii ? line.toLatin1() : QByteArray(m_encoder.encode(line));
    m_line += "\r\n";
    if (m_file->write(m_line) != m_line.size()) {
        fail(m_file->errorString());
        return;
    }
    if (mode == 4) {
        if (!m_file->commit())
            fail(m_file->errorString());
        m_file.reset();
    }
}

void SUB_PRT::fail(const QString& what)
{
    m_status = mox::Status::failure(-1, u"印刷ファイルを作成できません。\r\n\r\n"_s + filePath() +
                                            u"\r\n"_s + what);
    if (m_file) {
        m_file->cancelWriting();
        m_file.reset();
    }
}

} // namespace mox030
