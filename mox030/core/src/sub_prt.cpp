#include "mox030/sub_prt.h"

#include "base/format.h"
#include "base/privatefile.h"

#include <QDir>
#include <QHash>
#include <QStringEncoder>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace mox030 {

namespace {

QString ovlPicture(short width, short decimals, bool minus, bool hashFill, bool comma,
                   bool showZero)
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
    return picture;
}

// Appends \p v as mox::format(v, "0...0") with \p digits zeros would, without parsing a
// picture for every field of every line.
void appendDigits(QString& out, std::int64_t v, int digits)
{
    if (v < 0) {
        out += mox::format(v, QString(digits, u'0'));
        return;
    }
    char buf[20];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (int i = n; i < digits; ++i)
        out += u'0';
    while (n > 0)
        out += QLatin1Char(buf[--n]);
}

std::int64_t wholeOf(Currency v)
{
    return v.toInteger(Rounding::HalfAwayFromZero);
}

// True when \p text is printable ASCII only (every amount cell): nothing to clean.
bool plainAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7F)
            return false;
    }
    return true;
}

// Whether code page 932 holds \p ch, one character (a surrogate pair, or a single unit, which may
// be a lone surrogate) whose code is \p code. A converter keeps its error once set, so each
// character gets a fresh one; the answers are kept, as names repeat their characters page after
// page.
bool cp932Holds(QStringView ch, char32_t code)
{
    thread_local QHash<char32_t, bool> known;
    const auto it = known.constFind(code);
    if (it != known.constEnd())
        return *it;
    QStringEncoder probe("windows-31j", QStringConverter::Flag::Stateless);
    const QByteArray bytes = probe.encode(ch);
    const bool holds = probe.isValid() && !probe.hasError() && !bytes.isEmpty();
    known.insert(code, holds);
    return holds;
}

} // namespace

QString prfOvlNum(Currency value, short width, short decimals, bool minus, bool comma,
                  bool hashFill, bool showZero)
{
    // The same few pictures serve every cell of a run; each is built once per thread.
    thread_local QHash<quint64, QString> pictures;
    const quint64 key = (quint64(quint16(width)) << 32) | (quint64(quint16(decimals)) << 16) |
                        (minus ? 8u : 0u) | (comma ? 4u : 0u) | (hashFill ? 2u : 0u) |
                        (showZero ? 1u : 0u);
    auto it = pictures.constFind(key);
    if (it == pictures.constEnd())
        it = pictures.insert(key, ovlPicture(width, decimals, minus, hashFill, comma, showZero));
    const QString& picture = *it;

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
    QString line = u"ST "_s;
    appendDigits(line, op1, 3);
    appendDigits(line, op2, 3);
    prsOvlWrite(1, line);
}

void SUB_PRT::prsOvlCr(Currency op1, Currency op2)
{
    QString line = u"CR "_s;
    appendDigits(line, wholeOf(op1), 2);
    appendDigits(line, wholeOf(op2), 2);
    prsOvlWrite(2, line + u'3');
}

void SUB_PRT::prsOvlPage()
{
    prsOvlWrite(3, u"PE "_s);
}

void SUB_PRT::prsOvlText(Currency x, Currency y, int op3, Currency op4, short op5, short op6,
                         const QString& text)
{
    // Positions are in tenths of a column or line; Int is the floor.
    m_text.clear();
    m_text += u"TE "_s;
    appendDigits(m_text, (x * 10).toInteger(Rounding::Floor), 4);
    appendDigits(m_text, (y * 10).toInteger(Rounding::Floor), 4);
    appendDigits(m_text, op3, 1);
    appendDigits(m_text, wholeOf(op4), 1);
    appendDigits(m_text, op5, 3);
    appendDigits(m_text, op6, 3);
    appendCleanText(m_text, text);
    prsOvlWrite(2, m_text);
}

void SUB_PRT::appendCleanText(QString& line, QStringView text)
{
    if (plainAscii(text)) {
        line += text;
        return;
    }
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text[i];
        const bool pair =
            c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const QStringView ch = text.sliced(i, pair ? 2 : 1);
        const char32_t code = pair ? QChar::surrogateToUcs4(c, text[i + 1]) : c.unicode();
        i += ch.size();
        if (QChar::category(code) == QChar::Other_Control) {
            // A line feed or carriage return would end the line here; a tab or any other control
            // character has no place on a printed form either.
            line += u' ';
            ++m_blanked;
        } else if (code >= 0x80 && !cp932Holds(ch, code)) {
            line += u'？';
            ++m_replaced;
        } else {
            line += ch;
        }
    }
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
        m_blanked = 0;
        m_replaced = 0;
        // The file holds salaries: it is created 0600 under a new name and renamed into place.
        m_file = std::make_unique<mox::PrivateFile>(filePath());
        if (!m_file->open()) {
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
    if (m_file->device()->write(m_line) != m_line.size()) {
        fail(m_file->device()->errorString());
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
        m_file->cancel();
        m_file.reset();
    }
}

} // namespace mox030
