#include "Field.h"

#include "ClientDataSet.h"
#include "CoreUtil.h"
#include "Errors.h"
#include "NumberFormat.h"

TField::TField(TClientDataSet *dataSet, const QString &name, TFieldType type, int size, int index)
    : m_dataSet(dataSet), m_name(name), m_type(type), m_size(size), m_index(index)
{
    if (type == TFieldType::Float)
        Alignment = Qt::AlignRight;
}

QVariant TField::Value() const
{
    return m_dataSet ? m_dataSet->currentValue(m_index) : QVariant();
}

bool TField::IsNull() const
{
    // An empty text is no value: packets and edits cannot tell the two apart.
    const QVariant v = Value();
    return !v.isValid() || v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty());
}

QString TField::AsString() const
{
    const QVariant v = Value();
    if (!v.isValid() || v.isNull())
        return QString();
    switch (m_type) {
    case TFieldType::String:
    case TFieldType::FixedString:
        return v.toString();
    case TFieldType::Float:
        return FloatToStr(v.toDouble());
    case TFieldType::DateTime:
        return DateTimeToStr(v.toDateTime());
    }
    return v.toString();
}

double TField::AsFloat() const
{
    const QVariant v = Value();
    if (!v.isValid() || v.isNull())
        return 0;
    switch (m_type) {
    case TFieldType::Float:
        return v.toDouble();
    case TFieldType::String:
    case TFieldType::FixedString: {
        const QString text = v.toString();
        if (text.trimmed().isEmpty())
            return 0;
        double d = 0;
        if (!TryStrToFloat(text, &d))
            throw EDatabaseError(QStringLiteral("O valor \"%1\" do campo %2 não é um número válido.").arg(text, m_name));
        return d;
    }
    case TFieldType::DateTime:
        break;
    }
    throw EDatabaseError(QStringLiteral("O campo %1 não pode ser lido como número.").arg(m_name));
}

QDateTime TField::AsDateTime() const
{
    const QVariant v = Value();
    if (!v.isValid() || v.isNull())
        return QDateTime();
    if (m_type == TFieldType::DateTime)
        return v.toDateTime();
    if (m_type == TFieldType::Float)
        throw EDatabaseError(QStringLiteral("O campo %1 não pode ser lido como data e hora.").arg(m_name));
    return VorCoreUtil::parseDateTimeText(v.toString());
}

QVariant TField::OldValue() const
{
    return m_dataSet ? m_dataSet->currentOldValue(m_index) : QVariant();
}

void TField::SetValue(const QVariant &value)
{
    if (!m_dataSet || m_dataSet->state() != TClientDataSet::State::Edit)
        throw EDatabaseError(
            QStringLiteral("O conjunto de dados não está em modo de edição: o campo %1 não pode ser alterado.").arg(m_name));
    if (ReadOnly)
        throw EDatabaseError(QStringLiteral("O campo %1 é somente leitura.").arg(m_name));

    QVariant stored;
    if (value.isValid() && !value.isNull()) {
        switch (m_type) {
        case TFieldType::String:
        case TFieldType::FixedString: {
            QString text;
            if (value.typeId() == QMetaType::Double)
                text = FloatToStr(value.toDouble());
            else if (value.typeId() == QMetaType::QDateTime)
                text = DateTimeToStr(value.toDateTime());
            else
                text = value.toString();
            if (m_size > 0 && text.size() > m_size)
                throw EDatabaseError(QStringLiteral("O valor \"%1\" excede o tamanho %2 do campo %3.")
                                         .arg(text)
                                         .arg(m_size)
                                         .arg(m_name));
            stored = text;
            break;
        }
        case TFieldType::Float: {
            double d = 0;
            bool ok = false;
            if (value.typeId() == QMetaType::QString) {
                const QString text = value.toString();
                if (text.trimmed().isEmpty())
                    break; // empty text clears
                ok = TryStrToFloat(text, &d);
            } else if (value.canConvert<double>() && value.typeId() != QMetaType::QDateTime) {
                d = value.toDouble(&ok);
            }
            if (!ok)
                throw EDatabaseError(QStringLiteral("Valor inválido para o campo %1: \"%2\" não é um número.")
                                         .arg(m_name, value.toString()));
            stored = d;
            break;
        }
        case TFieldType::DateTime: {
            QDateTime dt;
            if (value.typeId() == QMetaType::QDateTime) {
                dt = VorCoreUtil::wallClock(value.toDateTime());
            } else if (value.typeId() == QMetaType::QDate) {
                dt = QDateTime(value.toDate(), QTime(0, 0), Qt::UTC);
            } else if (value.typeId() == QMetaType::QString) {
                if (value.toString().trimmed().isEmpty())
                    break; // empty text clears
                dt = VorCoreUtil::parseDateTimeText(value.toString());
            }
            if (!dt.isValid())
                throw EDatabaseError(QStringLiteral("Valor inválido para o campo %1: \"%2\" não é uma data e hora.")
                                         .arg(m_name, value.toString()));
            stored = dt;
            break;
        }
        }
    }
    m_dataSet->setCurrentValue(m_index, stored);
}

void TField::SetAsString(const QString &text)
{
    SetValue(text);
}

void TField::SetAsFloat(double value)
{
    SetValue(value);
}

void TField::SetAsDateTime(const QDateTime &value)
{
    SetValue(value.isValid() ? QVariant(value) : QVariant());
}

void TField::Clear()
{
    SetValue(QVariant());
}

QString TField::DisplayText() const
{
    return textFor(true);
}

QString TField::Text() const
{
    return textFor(false);
}

QString TField::textFor(bool display) const
{
    QString text = AsString();
    if (OnGetText) {
        OnGetText(const_cast<TField &>(*this), text, display);
        return text;
    }
    if (display && m_type == TFieldType::Float && !DisplayFormat.isEmpty() && !IsNull())
        text = FormatFloat(DisplayFormat, AsFloat());
    return text;
}
