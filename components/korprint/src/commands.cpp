#include "commands.h"

#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace korprint {

namespace {

// Reads `count` decimal digits at `pos`; -1 when the line is too short or a digit is missing.
int digits(QByteArrayView line, qsizetype pos, qsizetype count)
{
    if (line.size() < pos + count)
        return -1;
    int v = 0;
    for (qsizetype i = pos; i < pos + count; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool onlyBlanksFrom(QByteArrayView line, qsizetype pos)
{
    for (qsizetype i = pos; i < line.size(); ++i) {
        if (line[i] != ' ')
            return false;
    }
    return true;
}

// Reads the fixed operands of a command starting after "XX " into `out`; false on a bad digit.
bool readFields(QByteArrayView line, std::initializer_list<std::pair<int*, int>> fields)
{
    qsizetype pos = 3;
    for (const auto& [target, width] : fields) {
        const int v = digits(line, pos, width);
        if (v < 0)
            return false;
        *target = v;
        pos += width;
    }
    return true;
}

qsizetype fieldsWidth(std::initializer_list<std::pair<int*, int>> fields)
{
    qsizetype w = 3;
    for (const auto& f : fields)
        w += f.second;
    return w;
}

} // namespace

bool isHalfWidth(char16_t c)
{
    return c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F);
}

int textColumns(QStringView text)
{
    int n = 0;
    for (QChar c : text)
        n += isHalfWidth(c.unicode()) ? 1 : 2;
    return n;
}

QString parseCommand(QByteArrayView line, Command& out)
{
    if (line.size() < 3 || line[2] != ' ')
        return u"命令コードの後に空白がありません"_s;
    const QByteArrayView code = line.first(2);
    out = Command{};

    auto fixed = [&](CommandKind kind, std::initializer_list<std::pair<int*, int>> fields) {
        out.kind = kind;
        if (!readFields(line, fields))
            return u"数字の桁が足りないか数字でない桁があります"_s;
        if (!onlyBlanksFrom(line, fieldsWidth(fields)))
            return u"余分な文字があります"_s;
        return QString();
    };

    if (code == "ST") {
        QString e = fixed(CommandKind::Start, {{&out.paper, 3}, {&out.copies, 3}});
        if (e.isEmpty() && out.copies < 1)
            e = u"部数が0です"_s;
        return e;
    }
    if (code == "CR") {
        QString e = fixed(CommandKind::Setup, {{&out.cpi, 2}, {&out.lpi, 2}, {&out.font, 1}});
        if (e.isEmpty() && (out.cpi < 1 || out.lpi < 1))
            e = u"文字ピッチまたは行ピッチが0です"_s;
        if (e.isEmpty() && out.font != kGothicFont)
            e = u"フォント番号 %1 は使えません"_s.arg(out.font);
        return e;
    }
    if (code == "PE")
        return fixed(CommandKind::Page, {});
    if (code == "ED")
        return fixed(CommandKind::End, {});
    if (code == "RM") {
        out.kind = CommandKind::Remark;
        return {};
    }
    if (code == "LN" || code == "BX") {
        QString e = fixed(code == "LN" ? CommandKind::Line : CommandKind::Box,
                          {{&out.x, 4}, {&out.y, 4}, {&out.x2, 4}, {&out.y2, 4}, {&out.weight, 1}});
        if (e.isEmpty() && out.weight < 1)
            e = u"線の太さが0です"_s;
        return e;
    }
    if (code == "TE") {
        out.kind = CommandKind::Text;
        const std::initializer_list<std::pair<int*, int>> fields = {
            {&out.x, 4},     {&out.y, 4},      {&out.font, 1},
            {&out.style, 1}, {&out.hScale, 3}, {&out.vScale, 3}};
        if (!readFields(line, fields))
            return u"数字の桁が足りないか数字でない桁があります"_s;
        if (out.font != kGothicFont)
            return u"フォント番号 %1 は使えません"_s.arg(out.font);
        if (out.style != 0)
            return u"文字の向き %1 は使えません"_s.arg(out.style);
        if (out.hScale < 1 || out.vScale < 1)
            return u"文字の倍率が0です"_s;
        QStringDecoder decoder("cp932", QStringConverter::Flag::Stateless);
        out.text = decoder.decode(line.sliced(fieldsWidth(fields)));
        if (decoder.hasError())
            return u"文字コードが正しくありません"_s;
        return {};
    }
    return u"命令コード %1 は不明です"_s.arg(QString::fromLatin1(code));
}

bool CommandReader::open(const QString& path)
{
    m_file.close();
    m_line = 0;
    m_error.clear();
    m_device = m_inode = 0;
    m_own = false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 ||
        !m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    m_device = static_cast<quint64>(st.st_dev);
    m_inode = static_cast<quint64>(st.st_ino);
    m_own = S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    return true;
}

CommandReader::Next CommandReader::next(Command& out)
{
    for (;;) {
        m_buffer.resize(4096);
        const qint64 n = m_file.readLine(m_buffer.data(), m_buffer.size());
        if (n < 0) {
            if (m_file.atEnd())
                return Next::EndOfFile;
            m_error = m_file.errorString();
            return Next::Error;
        }
        if (n == 0)
            return Next::EndOfFile;
        ++m_line;
        QByteArrayView line(m_buffer.constData(), n);
        if (!line.endsWith('\n') && !m_file.atEnd()) {
            m_error = u"行が長すぎます"_s;
            return Next::Error;
        }
        while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        m_error = parseCommand(line, out);
        return m_error.isEmpty() ? Next::Command : Next::Error;
    }
}

} // namespace korprint
