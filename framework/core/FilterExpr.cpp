#include "FilterExpr.h"

#include "CoreUtil.h"
#include "Errors.h"
#include "NumberFormat.h"

#include <QDateTime>
#include <QLocale>

#include <optional>

namespace {

enum class Tok { Ident, String, Number, Op, LParen, RParen, And, Or, Not, Is, Null, Minus, End };

struct Token
{
    Tok kind = Tok::End;
    QString text; // identifier (upper-case), string value or operator
    double number = 0;
    int pos = 0; // 1-based
};

[[noreturn]] void fail(int pos, const QString &what)
{
    throw EDatabaseError(QStringLiteral("Filtro inválido na posição %1: %2.").arg(pos).arg(what));
}

bool identStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool identPart(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

std::vector<Token> tokenize(const QString &text)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        Token t;
        t.pos = int(i + 1);
        if (c == QLatin1Char('\'')) {
            ++i;
            bool closed = false;
            while (i < n) {
                if (text.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < n && text.at(i + 1) == QLatin1Char('\'')) {
                        t.text += QLatin1Char('\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                t.text += text.at(i++);
            }
            if (!closed)
                fail(t.pos, QStringLiteral("texto entre aspas sem a aspa final"));
            t.kind = Tok::String;
        } else if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < n && text.at(i + 1).isDigit())) {
            const qsizetype start = i;
            while (i < n && text.at(i).isDigit())
                ++i;
            if (i < n && text.at(i) == QLatin1Char('.')) {
                ++i;
                while (i < n && text.at(i).isDigit())
                    ++i;
            }
            if (i < n && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
                qsizetype j = i + 1;
                if (j < n && (text.at(j) == QLatin1Char('+') || text.at(j) == QLatin1Char('-')))
                    ++j;
                if (j < n && text.at(j).isDigit()) {
                    i = j;
                    while (i < n && text.at(i).isDigit())
                        ++i;
                }
            }
            if (i < n && identPart(text.at(i)))
                fail(int(i + 1), QStringLiteral("número mal formado"));
            bool ok = false;
            t.number = QLocale::c().toDouble(text.mid(start, i - start), &ok);
            if (!ok)
                fail(t.pos, QStringLiteral("número mal formado"));
            t.kind = Tok::Number;
        } else if (identStart(c)) {
            const qsizetype start = i;
            while (i < n && identPart(text.at(i)))
                ++i;
            t.text = text.mid(start, i - start).toUpper();
            if (t.text == QLatin1String("AND"))
                t.kind = Tok::And;
            else if (t.text == QLatin1String("OR"))
                t.kind = Tok::Or;
            else if (t.text == QLatin1String("NOT"))
                t.kind = Tok::Not;
            else if (t.text == QLatin1String("IS"))
                t.kind = Tok::Is;
            else if (t.text == QLatin1String("NULL"))
                t.kind = Tok::Null;
            else
                t.kind = Tok::Ident;
        } else if (c == QLatin1Char('[')) {
            const qsizetype end = text.indexOf(QLatin1Char(']'), i + 1);
            if (end < 0)
                fail(t.pos, QStringLiteral("nome de campo sem o ']' final"));
            t.text = text.mid(i + 1, end - i - 1).trimmed().toUpper();
            if (t.text.isEmpty())
                fail(t.pos, QStringLiteral("nome de campo vazio"));
            t.kind = Tok::Ident;
            i = end + 1;
        } else if (c == QLatin1Char('(')) {
            t.kind = Tok::LParen;
            ++i;
        } else if (c == QLatin1Char(')')) {
            t.kind = Tok::RParen;
            ++i;
        } else if (c == QLatin1Char('-')) {
            t.kind = Tok::Minus;
            ++i;
        } else if (c == QLatin1Char('=')) {
            t.kind = Tok::Op;
            t.text = QStringLiteral("=");
            ++i;
        } else if (c == QLatin1Char('<') || c == QLatin1Char('>')) {
            t.kind = Tok::Op;
            t.text = c;
            ++i;
            if (i < n && (text.at(i) == QLatin1Char('=') || (c == QLatin1Char('<') && text.at(i) == QLatin1Char('>'))))
                t.text += text.at(i++);
        } else {
            fail(t.pos, QStringLiteral("caractere inesperado '%1'").arg(c));
        }
        tokens.push_back(t);
    }
    Token end;
    end.kind = Tok::End;
    end.pos = int(n + 1);
    tokens.push_back(end);
    return tokens;
}

enum class CmpOp { Eq, Ne, Lt, Gt, Le, Ge };

} // namespace

namespace VorFilter {
struct Operand
{
    int field = -1;  // index into the expression's field names; -1 for a literal
    QVariant value;  // literal: QString, double or null
    QVariant number; // a string literal read as a number, when it is one
    QVariant dateTime; // a string literal read as a date-time, when it is one
};
} // namespace VorFilter
using VorFilter::Operand;

struct FilterExpr::Node
{
    enum class Kind { Or, And, Not, Compare, IsNull, IsNotNull };
    Kind kind = Kind::Compare;
    std::unique_ptr<Node> left;
    std::unique_ptr<Node> right;
    Operand a;
    Operand b;
    CmpOp op = CmpOp::Eq;
};

namespace {

class Parser
{
public:
    Parser(std::vector<Token> tokens, QStringList *fields)
        : m_tokens(std::move(tokens)), m_fields(fields) {}

    std::unique_ptr<FilterExpr::Node> parseAll()
    {
        auto node = parseOr();
        if (peek().kind != Tok::End)
            fail(peek().pos, peek().kind == Tok::RParen ? QStringLiteral("')' sem '(' correspondente")
                                                        : QStringLiteral("esperado AND, OR ou o fim do filtro"));
        return node;
    }

private:
    using NodePtr = std::unique_ptr<FilterExpr::Node>;
    using Kind = FilterExpr::Node::Kind;

    const Token &peek() const { return m_tokens[m_pos]; }
    const Token &take() { return m_tokens[m_pos++]; }

    NodePtr binary(Kind kind, NodePtr l, NodePtr r)
    {
        auto node = std::make_unique<FilterExpr::Node>();
        node->kind = kind;
        node->left = std::move(l);
        node->right = std::move(r);
        return node;
    }

    NodePtr parseOr()
    {
        NodePtr node = parseAnd();
        while (peek().kind == Tok::Or) {
            take();
            node = binary(Kind::Or, std::move(node), parseAnd());
        }
        return node;
    }

    NodePtr parseAnd()
    {
        NodePtr node = parseNot();
        while (peek().kind == Tok::And) {
            take();
            node = binary(Kind::And, std::move(node), parseNot());
        }
        return node;
    }

    NodePtr parseNot()
    {
        if (peek().kind == Tok::Not) {
            take();
            return binary(Kind::Not, parseNot(), nullptr);
        }
        return parsePrimary();
    }

    NodePtr parsePrimary()
    {
        if (peek().kind == Tok::LParen) {
            take();
            NodePtr inner = parseOr();
            if (peek().kind != Tok::RParen)
                fail(peek().pos, QStringLiteral("esperado ')'"));
            take();
            return inner;
        }
        auto node = std::make_unique<FilterExpr::Node>();
        node->a = parseOperand();
        const Token &t = peek();
        if (t.kind == Tok::Is) {
            take();
            bool negated = false;
            if (peek().kind == Tok::Not) {
                take();
                negated = true;
            }
            if (peek().kind != Tok::Null)
                fail(peek().pos, QStringLiteral("esperado NULL depois de IS"));
            take();
            node->kind = negated ? Kind::IsNotNull : Kind::IsNull;
            return node;
        }
        if (t.kind != Tok::Op)
            fail(t.pos, QStringLiteral("esperado um operador de comparação"));
        take();
        static const struct
        {
            const char *text;
            CmpOp op;
        } ops[] = {{"=", CmpOp::Eq}, {"<>", CmpOp::Ne}, {"<", CmpOp::Lt},
                   {">", CmpOp::Gt}, {"<=", CmpOp::Le}, {">=", CmpOp::Ge}};
        for (const auto &o : ops)
            if (t.text == QLatin1String(o.text))
                node->op = o.op;
        node->kind = Kind::Compare;
        node->b = parseOperand();
        return node;
    }

    Operand parseOperand()
    {
        const Token &t = take();
        Operand o;
        switch (t.kind) {
        case Tok::Ident: {
            qsizetype at = m_fields->indexOf(t.text);
            if (at < 0) {
                m_fields->append(t.text);
                at = m_fields->size() - 1;
            }
            o.field = int(at);
            return o;
        }
        case Tok::String: {
            o.value = t.text;
            double v = 0;
            bool ok = false;
            const double c = QLocale::c().toDouble(t.text.trimmed(), &ok);
            if (ok)
                o.number = c;
            else if (TryStrToFloat(t.text, &v))
                o.number = v;
            const QDateTime dt = VorCoreUtil::parseDateTimeText(t.text);
            if (dt.isValid())
                o.dateTime = dt;
            return o;
        }
        case Tok::Number:
            o.value = t.number;
            return o;
        case Tok::Minus:
            if (peek().kind != Tok::Number)
                fail(peek().pos, QStringLiteral("esperado um número depois de '-'"));
            o.value = -take().number;
            return o;
        case Tok::Null:
            return o;
        case Tok::End:
            fail(t.pos, QStringLiteral("o filtro terminou antes do esperado"));
        default:
            fail(t.pos, QStringLiteral("esperado um nome de campo ou um valor"));
        }
    }

    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    QStringList *m_fields;
};

bool asNumber(const QVariant &v, const Operand &o, double *out)
{
    if (v.typeId() == QMetaType::Double) {
        *out = v.toDouble();
        return true;
    }
    if (o.number.isValid()) {
        *out = o.number.toDouble();
        return true;
    }
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const QString text = v.toString().trimmed();
        *out = QLocale::c().toDouble(text, &ok);
        return ok || TryStrToFloat(text, out);
    }
    return false;
}

bool asDateTime(const QVariant &v, const Operand &o, QDateTime *out)
{
    if (v.typeId() == QMetaType::QDateTime) {
        *out = v.toDateTime();
        return true;
    }
    if (o.dateTime.isValid()) {
        *out = o.dateTime.toDateTime();
        return true;
    }
    if (v.typeId() == QMetaType::QString) {
        *out = VorCoreUtil::parseDateTimeText(v.toString());
        return out->isValid();
    }
    return false;
}

template <typename T>
int threeWay(const T &x, const T &y)
{
    return x < y ? -1 : (y < x ? 1 : 0);
}

// Order of two non-null values, or nothing when they cannot be compared.
std::optional<int> order(const QVariant &x, const Operand &xo, const QVariant &y, const Operand &yo)
{
    const int tx = x.typeId();
    const int ty = y.typeId();
    if (tx == QMetaType::QString && ty == QMetaType::QString) {
        const int c = QString::compare(x.toString(), y.toString(), Qt::CaseSensitive);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (tx == QMetaType::QDateTime || ty == QMetaType::QDateTime) {
        QDateTime a, b;
        if (asDateTime(x, xo, &a) && asDateTime(y, yo, &b))
            return threeWay(a, b);
        return std::nullopt;
    }
    double a = 0, b = 0;
    if (asNumber(x, xo, &a) && asNumber(y, yo, &b))
        return threeWay(a, b);
    return std::nullopt;
}

template <typename Get>
bool evalNode(const FilterExpr::Node &node, const Get &get)
{
    using Kind = FilterExpr::Node::Kind;
    switch (node.kind) {
    case Kind::Or:
        return evalNode(*node.left, get) || evalNode(*node.right, get);
    case Kind::And:
        return evalNode(*node.left, get) && evalNode(*node.right, get);
    case Kind::Not:
        return !evalNode(*node.left, get);
    case Kind::IsNull:
    case Kind::IsNotNull: {
        const QVariant &v = node.a.field >= 0 ? get(node.a.field) : node.a.value;
        // An empty text is no value, as the field itself reports it.
        const bool isNull = !v.isValid() || v.isNull()
                            || (v.typeId() == QMetaType::QString && static_cast<const QString *>(v.constData())->isEmpty());
        return node.kind == Kind::IsNull ? isNull : !isNull;
    }
    case Kind::Compare: {
        const QVariant &x = node.a.field >= 0 ? get(node.a.field) : node.a.value;
        const QVariant &y = node.b.field >= 0 ? get(node.b.field) : node.b.value;
        // Null compares false with anything, itself included.
        if (!x.isValid() || x.isNull() || !y.isValid() || y.isNull())
            return false;
        const std::optional<int> c = order(x, node.a, y, node.b);
        if (!c)
            return false;
        switch (node.op) {
        case CmpOp::Eq:
            return *c == 0;
        case CmpOp::Ne:
            return *c != 0;
        case CmpOp::Lt:
            return *c < 0;
        case CmpOp::Gt:
            return *c > 0;
        case CmpOp::Le:
            return *c <= 0;
        case CmpOp::Ge:
            return *c >= 0;
        }
        return false;
    }
    }
    return false;
}

} // namespace

FilterExpr::FilterExpr() = default;
FilterExpr::~FilterExpr() = default;

std::shared_ptr<FilterExpr> FilterExpr::parse(const QString &text)
{
    std::shared_ptr<FilterExpr> expr(new FilterExpr);
    Parser parser(tokenize(text), &expr->m_fields);
    expr->m_root = parser.parseAll();
    return expr;
}

QStringList FilterExpr::fieldNames() const
{
    return m_fields;
}

bool FilterExpr::evaluate(const std::function<QVariant(int fieldNo)> &value) const
{
    return evalNode(*m_root, value);
}

bool FilterExpr::evaluateRow(const std::vector<QVariant> &row, const std::vector<int> &columns) const
{
    static const QVariant null;
    const auto get = [&](int fieldNo) -> const QVariant & {
        const int column = size_t(fieldNo) < columns.size() ? columns[size_t(fieldNo)] : -1;
        return column >= 0 && size_t(column) < row.size() ? row[size_t(column)] : null;
    };
    return evalNode(*m_root, get);
}

QString QuotedStr(const QString &value)
{
    QString out = value;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}
