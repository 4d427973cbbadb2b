#include "criteria.h"

#include "base/currency.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Longer texts, deeper nesting or longer lists than any program writes are refused, so that a
// hostile text cannot exhaust the stack or build a statement of unbounded size.
constexpr qsizetype kMaxTextLength = 4000;
constexpr int kMaxDepth = 32;
constexpr int kMaxListValues = 1000;

enum class Tok { End, Ident, Number, Text, LParen, RParen, Comma, Op };

struct Token {
    Tok kind = Tok::End;
    QString text; // identifier, number digits, unquoted text, or operator
    qsizetype pos = 0;
};

class Lexer {
public:
    explicit Lexer(QStringView s) : m_s(s) {}

    // Returns false (and error() says where) on a character that no token may start with.
    bool next(Token* t)
    {
        while (m_i < m_s.size() && m_s[m_i].isSpace())
            ++m_i;
        t->pos = m_i;
        t->text.clear();
        if (m_i >= m_s.size()) {
            t->kind = Tok::End;
            return true;
        }
        const QChar c = m_s[m_i];
        if (c.isLetter() || c == u'_') {
            const qsizetype start = m_i;
            while (m_i < m_s.size() && (m_s[m_i].isLetterOrNumber() || m_s[m_i] == u'_'))
                ++m_i;
            t->kind = Tok::Ident;
            t->text = m_s.mid(start, m_i - start).toString();
            return true;
        }
        const bool signedNumber =
            (c == u'-' || c == u'+') && m_i + 1 < m_s.size() && m_s[m_i + 1].isDigit();
        if (c.isDigit() || signedNumber)
            return number(t);
        if (c == u'\'')
            return text(t);
        ++m_i;
        switch (c.unicode()) {
        case u'(':
            t->kind = Tok::LParen;
            return true;
        case u')':
            t->kind = Tok::RParen;
            return true;
        case u',':
            t->kind = Tok::Comma;
            return true;
        case u'=':
            t->kind = Tok::Op;
            t->text = u"="_s;
            return true;
        case u'<':
        case u'>':
            t->kind = Tok::Op;
            t->text = QString(c);
            if (m_i < m_s.size() && (m_s[m_i] == u'=' || (c == u'<' && m_s[m_i] == u'>')))
                t->text += m_s[m_i++];
            return true;
        default:
            m_error = u"%1 文字目の「%2」は使えません。"_s.arg(t->pos + 1).arg(c);
            return false;
        }
    }

    const QString& error() const { return m_error; }

private:
    bool number(Token* t)
    {
        const qsizetype start = m_i;
        if (m_s[m_i] == u'-' || m_s[m_i] == u'+')
            ++m_i;
        while (m_i < m_s.size() && m_s[m_i].isDigit())
            ++m_i;
        if (m_i < m_s.size() && m_s[m_i] == u'.') {
            ++m_i;
            const qsizetype decimals = m_i;
            while (m_i < m_s.size() && m_s[m_i].isDigit())
                ++m_i;
            if (m_i == decimals) {
                m_error = u"%1 文字目の数値が不正です。"_s.arg(start + 1);
                return false;
            }
        }
        if (m_i < m_s.size() && (m_s[m_i].isLetter() || m_s[m_i] == u'_' || m_s[m_i] == u'.')) {
            m_error = u"%1 文字目の数値が不正です。"_s.arg(start + 1);
            return false;
        }
        t->kind = Tok::Number;
        t->text = m_s.mid(start, m_i - start).toString();
        return true;
    }

    bool text(Token* t)
    {
        const qsizetype start = m_i++;
        QString value = u""_s; // '' is the empty text, never NULL
        while (m_i < m_s.size()) {
            if (m_s[m_i] == u'\'') {
                if (m_i + 1 < m_s.size() && m_s[m_i + 1] == u'\'') {
                    value += u'\'';
                    m_i += 2;
                    continue;
                }
                ++m_i;
                t->kind = Tok::Text;
                t->text = value;
                return true;
            }
            value += m_s[m_i++];
        }
        m_error = u"%1 文字目の文字列が閉じられていません。"_s.arg(start + 1);
        return false;
    }

    QStringView m_s;
    qsizetype m_i = 0;
    QString m_error;
};

bool isKeyword(const Token& t, QStringView word)
{
    return t.kind == Tok::Ident && t.text.compare(word, Qt::CaseInsensitive) == 0;
}

class ConditionParser {
public:
    ConditionParser(QStringView text, const TableInfo& table) : m_lexer(text), m_table(table) {}

    mox::Result<SqlCondition> parse()
    {
        SqlCondition out;
        if (advance() && parseOr(&out, 0)) {
            if (m_tok.kind == Tok::End)
                return out;
            fail(u"余分な記述があります"_s);
        }
        return mox::Status::failure(kBadCondition, m_error);
    }

private:
    bool advance()
    {
        if (m_lexer.next(&m_tok))
            return true;
        m_error = m_lexer.error();
        return false;
    }

    void fail(const QString& what) { m_error = u"%1 文字目: %2。"_s.arg(m_tok.pos + 1).arg(what); }

    bool parseOr(SqlCondition* out, int depth)
    {
        if (depth > kMaxDepth) {
            fail(u"括弧が深すぎます"_s);
            return false;
        }
        if (!parseAnd(out, depth))
            return false;
        while (isKeyword(m_tok, u"OR")) {
            if (!advance())
                return false;
            out->sql += u" OR "_s;
            if (!parseAnd(out, depth))
                return false;
        }
        return true;
    }

    bool parseAnd(SqlCondition* out, int depth)
    {
        if (!parseFactor(out, depth))
            return false;
        while (isKeyword(m_tok, u"AND")) {
            if (!advance())
                return false;
            out->sql += u" AND "_s;
            if (!parseFactor(out, depth))
                return false;
        }
        return true;
    }

    bool parseFactor(SqlCondition* out, int depth)
    {
        if (m_tok.kind == Tok::LParen) {
            if (!advance())
                return false;
            out->sql += u'(';
            if (!parseOr(out, depth + 1))
                return false;
            if (m_tok.kind != Tok::RParen) {
                fail(u"「)」がありません"_s);
                return false;
            }
            out->sql += u')';
            return advance();
        }
        if (m_tok.kind != Tok::Ident || isKeyword(m_tok, u"AND") || isKeyword(m_tok, u"OR") ||
            isKeyword(m_tok, u"IN")) {
            fail(u"項目名がありません"_s);
            return false;
        }
        const int column = m_table.find(m_tok.text);
        if (column < 0 || column == m_table.rowAddress) {
            fail(u"項目「%1」はテーブル %2 にありません"_s.arg(m_tok.text, m_table.name));
            return false;
        }
        const QString field = Connection::quote(m_table.columns[std::size_t(column)].name);
        if (!advance())
            return false;
        if (isKeyword(m_tok, u"IN"))
            return parseIn(out, column, field);
        if (m_tok.kind != Tok::Op) {
            fail(u"比較演算子がありません"_s);
            return false;
        }
        const QString op = m_tok.text;
        if (!advance())
            return false;
        QVariant v;
        if (!value(column, &v))
            return false;
        out->sql += field + u' ' + op + u" ?"_s;
        out->binds.push_back(v);
        return true;
    }

    bool parseIn(SqlCondition* out, int column, const QString& field)
    {
        if (!advance())
            return false;
        if (m_tok.kind != Tok::LParen) {
            fail(u"in の後に「(」がありません"_s);
            return false;
        }
        if (!advance())
            return false;
        QString list;
        for (int n = 0;; ++n) {
            if (n >= kMaxListValues) {
                fail(u"in の値が多すぎます"_s);
                return false;
            }
            QVariant v;
            if (!value(column, &v))
                return false;
            out->binds.push_back(v);
            list += n == 0 ? u"?"_s : u", ?"_s;
            if (m_tok.kind == Tok::Comma) {
                if (!advance())
                    return false;
                continue;
            }
            if (m_tok.kind != Tok::RParen) {
                fail(u"in の値の後に「)」がありません"_s);
                return false;
            }
            break;
        }
        out->sql += field + u" IN ("_s + list + u')';
        return advance();
    }

    // Reads a value and converts it to what the column holds; advances past it.
    bool value(int column, QVariant* v)
    {
        if (m_tok.kind != Tok::Number && m_tok.kind != Tok::Text) {
            fail(u"値がありません"_s);
            return false;
        }
        const ColumnInfo& c = m_table.columns[std::size_t(column)];
        const QString raw = m_tok.text;
        switch (c.kind) {
        case ColumnKind::Text:
            *v = raw;
            break;
        case ColumnKind::Integer: {
            bool ok = false;
            const qlonglong n = raw.trimmed().toLongLong(&ok);
            if (!ok) {
                fail(u"項目「%1」には整数を指定してください"_s.arg(c.name));
                return false;
            }
            *v = n;
            break;
        }
        case ColumnKind::Number: {
            const std::optional<Currency> n = Currency::parse(raw);
            if (!n || raw.contains(u',')) {
                fail(u"項目「%1」には数値を指定してください"_s.arg(c.name));
                return false;
            }
            *v = n->raw() % Currency::kScale == 0 ? QVariant(qlonglong(n->raw() / Currency::kScale))
                                                  : QVariant(n->toPlainString());
            break;
        }
        }
        return advance();
    }

    Lexer m_lexer;
    const TableInfo& m_table;
    QString m_error; // why the text does not parse
    Token m_tok;
};

} // namespace

mox::Result<SqlCondition> parseCondition(QStringView text, const TableInfo& table)
{
    if (text.size() > kMaxTextLength)
        return mox::Status::failure(kBadCondition, u"条件が長すぎます。"_s);
    if (text.trimmed().isEmpty())
        return SqlCondition{};
    return ConditionParser(text, table).parse();
}

mox::Result<std::vector<SortKey>> parseSort(QStringView text, const TableInfo& table)
{
    std::vector<SortKey> keys;
    if (text.size() > kMaxTextLength)
        return mox::Status::failure(kBadCondition, u"並び順が長すぎます。"_s);
    if (text.trimmed().isEmpty())
        return keys;
    Lexer lexer(text);
    Token t;
    auto failAt = [&](const QString& what) {
        return mox::Status::failure(kBadCondition,
                                    u"並び順 %1 文字目: %2。"_s.arg(t.pos + 1).arg(what));
    };
    const auto unreadable = [&] { return mox::Status::failure(kBadCondition, lexer.error()); };
    if (!lexer.next(&t))
        return unreadable();
    for (;;) {
        if (t.kind != Tok::Ident)
            return failAt(u"項目名がありません"_s);
        const int column = table.find(t.text);
        if (column < 0 || column == table.rowAddress)
            return failAt(u"項目「%1」はテーブル %2 にありません"_s.arg(t.text, table.name));
        SortKey key{column, false};
        if (!lexer.next(&t))
            return unreadable();
        if (isKeyword(t, u"ASC") || isKeyword(t, u"DESC")) {
            key.descending = isKeyword(t, u"DESC");
            if (!lexer.next(&t))
                return unreadable();
        }
        keys.push_back(key);
        if (t.kind == Tok::End)
            return keys;
        if (t.kind != Tok::Comma)
            return failAt(u"「,」がありません"_s);
        if (!lexer.next(&t))
            return unreadable();
    }
}

} // namespace KorDAO
