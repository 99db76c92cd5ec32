#include "ADOIBQuery.h"

#include "ClientDataSet.h"
#include "DBGeral.h"
#include "Errors.h"
#include "Packet.h"

#include <QSqlError>
#include <algorithm>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {
bool isNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

QString driverText(const QSqlError &error)
{
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("erro desconhecido do banco de dados local") : text;
}

QDateTime toDateTime(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
        if (!parsed.isValid())
            parsed = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!parsed.isValid())
            parsed = QDateTime(QDate::fromString(text, Qt::ISODate), QTime(0, 0));
        return parsed;
    }
    return value.toDateTime();
}
} // namespace

void TParam::SetAsString(const QString &value)
{
    // A string parameter that was set is a string, never NULL: "" compares as "".
    m_value = value.isNull() ? QString::fromLatin1("") : value;
    m_null = false;
}

void TParam::Clear()
{
    m_value.clear();
    m_null = true;
}

TADOIBQuery::TADOIBQuery(QObject *owner)
    : QObject(owner)
    , m_query(new TClientDataSet(this))
{
    m_query->setObjectName(QStringLiteral("Query"));
    m_query->ReadOnly = true;
}

TADOIBQuery::~TADOIBQuery() = default;

void TADOIBQuery::parse()
{
    const QString text = SQL.join(QLatin1Char('\n'));
    if (m_parsed && text == m_parsedText)
        return;

    QString positional;
    QStringList occurrences;
    positional.reserve(text.size());
    enum class Mode { Code, Quote, DoubleQuote, LineComment, BlockComment } mode = Mode::Code;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        switch (mode) {
        case Mode::Quote:
            if (c == QLatin1Char('\''))
                mode = Mode::Code; // a doubled quote re-enters at once
            positional += c;
            continue;
        case Mode::DoubleQuote:
            if (c == QLatin1Char('"'))
                mode = Mode::Code;
            positional += c;
            continue;
        case Mode::LineComment:
            if (c == QLatin1Char('\n'))
                mode = Mode::Code;
            positional += c;
            continue;
        case Mode::BlockComment:
            if (c == QLatin1Char('*') && next == QLatin1Char('/')) {
                positional += QStringLiteral("*/");
                ++i;
                mode = Mode::Code;
            } else {
                positional += c;
            }
            continue;
        case Mode::Code:
            break;
        }
        if (c == QLatin1Char('\'')) {
            mode = Mode::Quote;
        } else if (c == QLatin1Char('"')) {
            mode = Mode::DoubleQuote;
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            mode = Mode::LineComment;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            positional += QStringLiteral("/*");
            ++i;
            mode = Mode::BlockComment;
            continue;
        } else if (c == QLatin1Char(':') && next == QLatin1Char(':')) {
            positional += QStringLiteral("::"); // a type cast, not a parameter
            ++i;
            continue;
        } else if (c == QLatin1Char(':') && isNameStart(next)) {
            qsizetype end = i + 1;
            while (end < text.size() && isNameChar(text.at(end)))
                ++end;
            occurrences.append(text.mid(i + 1, end - i - 1));
            positional += QLatin1Char('?');
            i = end - 1;
            continue;
        }
        positional += c;
    }

    std::vector<std::unique_ptr<TParam>> params;
    for (const QString &name : std::as_const(occurrences)) {
        const bool seen = std::any_of(params.begin(), params.end(), [&name](const auto &p) {
            return p->Name().compare(name, Qt::CaseInsensitive) == 0;
        });
        if (seen)
            continue;
        auto param = std::make_unique<TParam>(name);
        if (TParam *old = FindParam(name); old && !old->IsNull())
            param->SetAsString(old->AsString());
        params.push_back(std::move(param));
    }
    m_params = std::move(params);
    m_positional = positional;
    m_occurrences = occurrences;
    m_parsedText = text;
    m_parsed = true;
}

const std::vector<std::unique_ptr<TParam>> &TADOIBQuery::Params()
{
    parse();
    return m_params;
}

TParam *TADOIBQuery::FindParam(const QString &name)
{
    for (const auto &param : m_params) {
        if (param->Name().compare(name, Qt::CaseInsensitive) == 0)
            return param.get();
    }
    return nullptr;
}

TParam *TADOIBQuery::ParamByName(const QString &name)
{
    parse();
    if (TParam *param = FindParam(name))
        return param;
    throw EDatabaseError(QStringLiteral("Parâmetro '%1' não encontrado na consulta %2.")
                             .arg(name, objectName().isEmpty() ? QStringLiteral("local") : objectName()));
}

QString TADOIBQuery::positionalText()
{
    parse();
    return m_positional;
}

QStringList TADOIBQuery::placeholderNames()
{
    parse();
    return m_occurrences;
}

void TADOIBQuery::Open()
{
    if (m_query->Active())
        return;
    parse();

    const TADOConnection &connection = Connection ? *Connection : dtmDBGeral().adcGeral;
    QSqlDatabase db = connection.database();
    if (!db.isValid() || !db.isOpen())
        throw EDatabaseError(QStringLiteral("O banco de dados local não está aberto."));

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(m_positional))
        throw EDatabaseError(driverText(query.lastError()));
    for (const QString &name : std::as_const(m_occurrences)) {
        const TParam *param = FindParam(name);
        if (param->IsNull())
            query.addBindValue(QVariant(QMetaType::fromType<QString>()));
        else
            query.addBindValue(param->AsString());
    }
    if (!query.exec())
        throw EDatabaseError(driverText(query.lastError()));

    const QSqlRecord record = query.record();
    DataPacket packet;
    QList<int> columns;
    const bool derive = m_query->FieldCount() == 0;
    if (derive) {
        for (int i = 0; i < record.count(); ++i) {
            packet.fields.append(PacketField{record.fieldName(i), TFieldType::String, 0});
            columns.append(i);
        }
    } else {
        for (const auto &field : m_query->Fields()) {
            const int column = record.indexOf(field->FieldName());
            if (column < 0)
                throw EDatabaseError(QStringLiteral("A consulta não retornou a coluna %1.").arg(field->FieldName()));
            packet.fields.append(PacketField{field->FieldName(), field->DataType(), field->Size()});
            columns.append(column);
        }
    }

    while (query.next()) {
        PacketRow row;
        row.reserve(columns.size());
        for (qsizetype f = 0; f < columns.size(); ++f) {
            const int column = columns.at(f);
            if (query.isNull(column)) {
                row.emplace_back();
                continue;
            }
            const QVariant value = query.value(column);
            switch (packet.fields.at(f).type) {
            case TFieldType::String:
            case TFieldType::FixedString:
                row.emplace_back(value.toString());
                break;
            case TFieldType::Float:
                row.emplace_back(value.toDouble());
                break;
            case TFieldType::DateTime:
                row.emplace_back(toDateTime(value));
                break;
            }
        }
        packet.rows.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        throw EDatabaseError(driverText(query.lastError()));

    if (derive) {
        // String fields wide enough for what came back (and for ordinary
        // codes and names on later opens).
        for (qsizetype f = 0; f < packet.fields.size(); ++f) {
            int size = qMax(255, record.field(columns.at(f)).length());
            for (const PacketRow &row : packet.rows)
                size = qMax(size, int(row.at(f).toString().size()));
            packet.fields[f].size = size;
            m_query->AddField(packet.fields.at(f).name, TFieldType::String, size);
        }
    }
    m_query->SetData(packet);
}

void TADOIBQuery::Close()
{
    m_query->Close();
}

bool TADOIBQuery::Active() const
{
    return m_query->Active();
}

bool TADOIBQuery::IsEmpty() const
{
    return m_query->IsEmpty();
}

TField *TADOIBQuery::FieldByName(const QString &name) const
{
    return m_query->FieldByName(name);
}
