#include "ClientDataSet.h"

#include "CoreUtil.h"
#include "Errors.h"
#include "FilterExpr.h"
#include "NumberFormat.h"

#include <QHash>

#include <algorithm>
#include <climits>
#include <map>
#include <numeric>

namespace {

constexpr int kNoReadOverride = INT_MIN;

bool isNullValue(const QVariant &v)
{
    return !v.isValid() || v.isNull();
}

// Makes a packet value fit a declared field, or says why it cannot.
bool fitValue(QVariant &v, TFieldType type, int size)
{
    if (isNullValue(v)) {
        v = QVariant();
        return true;
    }
    const int id = v.typeId();
    switch (type) {
    case TFieldType::String:
    case TFieldType::FixedString:
        if (id != QMetaType::QString)
            return false;
        return size <= 0 || static_cast<const QString *>(v.constData())->size() <= size;
    case TFieldType::Float:
        if (id == QMetaType::Double)
            return true;
        if (id == QMetaType::Int || id == QMetaType::LongLong || id == QMetaType::UInt
            || id == QMetaType::ULongLong || id == QMetaType::Float) {
            v = v.toDouble();
            return true;
        }
        return false;
    case TFieldType::DateTime:
        if (id == QMetaType::QDateTime) {
            if (!v.toDateTime().isValid())
                return false;
            if (v.toDateTime().timeSpec() != Qt::UTC)
                v = VorCoreUtil::wallClock(v.toDateTime());
            return true;
        }
        if (id == QMetaType::QString) {
            const QDateTime dt = VorCoreUtil::parseIsoDateTime(v.toString());
            if (!dt.isValid())
                return false;
            v = dt;
            return true;
        }
        return false;
    }
    return false;
}

bool sameValue(const QVariant &stored, const QVariant &wanted, TFieldType type)
{
    if (isNullValue(wanted))
        return isNullValue(stored);
    if (isNullValue(stored))
        return false;
    switch (type) {
    case TFieldType::String:
    case TFieldType::FixedString:
        if (wanted.typeId() == QMetaType::Double)
            return stored.toString() == FloatToStr(wanted.toDouble());
        return stored.toString() == wanted.toString();
    case TFieldType::Float: {
        double w = 0;
        if (wanted.typeId() == QMetaType::QString) {
            if (!TryStrToFloat(wanted.toString(), &w)) {
                bool ok = false;
                w = QLocale::c().toDouble(wanted.toString().trimmed(), &ok);
                if (!ok)
                    return false;
            }
        } else {
            bool ok = false;
            w = wanted.toDouble(&ok);
            if (!ok)
                return false;
        }
        return stored.toDouble() == w;
    }
    case TFieldType::DateTime: {
        const QDateTime w = wanted.typeId() == QMetaType::QString ? VorCoreUtil::parseDateTimeText(wanted.toString())
                                                                  : VorCoreUtil::wallClock(wanted.toDateTime());
        return w.isValid() && stored.toDateTime() == w;
    }
    }
    return false;
}

} // namespace

struct TClientDataSet::Impl
{
    QList<PacketField> layout;          // declared fields first, then extra packet fields
    std::vector<PacketRow> rows;        // current values, in load order
    std::map<int, PacketRow> originals; // changed rows (by row index): values as loaded
    std::vector<int> visible;           // visible row -> row index
    bool eof = true;
    bool bof = true;
    PacketRow editBuffer;
    bool modified = false;
    int readOverride = kNoReadOverride;
    std::shared_ptr<FilterExpr> filter; // parsed m_filterText; null when blank
    std::vector<int> filterColumns;     // filter field no -> column
    quint64 generation = 0;             // bumped whenever the rows are replaced or dropped
    QJsonValue loadedFrom{QJsonValue::Undefined}; // the packet the rows came from, while they are unchanged
    bool changedSinceLoad = false;      // a row was posted since the last load
    QHash<QString, int> fieldByName;    // upper-case name -> declared field index
    std::vector<std::pair<int, StateListener>> stateListeners;
    int nextListenerId = 1;

    int readRow(int current) const
    {
        const int vr = readOverride != kNoReadOverride ? readOverride : current;
        return vr >= 0 && size_t(vr) < visible.size() ? vr : -1;
    }
};

TClientDataSet::TClientDataSet(QObject *owner)
    : QObject(owner), d(std::make_unique<Impl>())
{
}

TClientDataSet::~TClientDataSet() = default;

TField *TClientDataSet::AddField(const QString &name, TFieldType type, int size)
{
    if (Active())
        throw EDatabaseError(QStringLiteral("Não é possível declarar o campo %1 com o conjunto de dados aberto.").arg(name));
    if (m_fieldsFromData) { // declared fields take the place of those made from data
        m_fields.clear();
        d->fieldByName.clear();
        d->layout.clear();
        m_fieldsFromData = false;
    }
    const QString key = name.toUpper();
    if (name.isEmpty() || d->fieldByName.contains(key))
        throw EDatabaseError(QStringLiteral("Campo %1 declarado em duplicidade ou sem nome.").arg(name));
    const int index = FieldCount();
    m_fields.push_back(std::make_unique<TField>(this, name, type, size, index));
    d->fieldByName.insert(key, index);
    d->layout.append(PacketField{name, type, size});
    return m_fields.back().get();
}

int TClientDataSet::fieldIndex(const QString &name) const
{
    return d->fieldByName.value(name.toUpper(), -1);
}

TField *TClientDataSet::FindField(const QString &name) const
{
    const int i = fieldIndex(name);
    return i >= 0 ? m_fields[size_t(i)].get() : nullptr;
}

TField *TClientDataSet::FieldByName(const QString &name) const
{
    TField *f = FindField(name);
    if (!f)
        throw EDatabaseError(QStringLiteral("Campo '%1' não encontrado no conjunto de dados %2.").arg(name, objectName()));
    return f;
}

// --- data in and out -------------------------------------------------------

void TClientDataSet::SetData(const QJsonValue &packet)
{
    // The very packet the rows came from (a read the server answered as not
    // modified), over rows nobody changed: the rows are already these, so
    // only the reopening is done again. Equal packets compare in a moment
    // when they are one shared value.
    if (m_state == State::Browse && !d->changedSinceLoad && !d->loadedFrom.isUndefined() && d->loadedFrom == packet) {
        reopen();
        return;
    }
    setDataImpl(DataPacket::fromJson(packet));
    d->loadedFrom = packet;
}

void TClientDataSet::SetData(const DataPacket &packet)
{
    setDataImpl(DataPacket(packet));
}

void TClientDataSet::SetData(DataPacket &&packet)
{
    setDataImpl(std::move(packet));
}

void TClientDataSet::setDataImpl(DataPacket &&packet)
{
    // New rows under a row being edited would throw the user's typing away
    // unseen: whoever replaces the data posts or cancels the edit first.
    if (m_state == State::Edit)
        throw EDatabaseError(QStringLiteral("O conjunto de dados %1 tem uma alteração pendente: grave-a ou cancele-a "
                                            "antes de carregar novos dados.")
                                 .arg(objectName()));
    // Everything is checked and built aside first: a refused packet leaves the
    // current content untouched.
    // Without declared fields the packet's own field list becomes the fields
    // (made again from every packet), so that copies and scratch datasets can
    // be read and filtered by name.
    const bool fromPacket = m_fields.empty() || m_fieldsFromData;
    const int declared = fromPacket ? int(packet.fields.size()) : FieldCount();
    std::vector<int> columnOf; // layout column -> packet column
    columnOf.reserve(size_t(packet.fields.size()));
    QList<PacketField> layout = fromPacket ? packet.fields : d->layout.mid(0, declared);
    std::vector<bool> used(size_t(packet.fields.size()), false);
    for (int i = 0; i < declared; ++i) {
        const int pc = packet.indexOf(layout.at(i).name);
        if (pc < 0)
            throw EDatabaseError(QStringLiteral("O pacote de dados não traz o campo %1.").arg(layout.at(i).name));
        columnOf.push_back(pc);
        used[size_t(pc)] = true;
    }
    for (qsizetype pc = 0; pc < packet.fields.size(); ++pc) {
        if (used[size_t(pc)])
            continue;
        layout.append(packet.fields.at(pc));
        columnOf.push_back(int(pc));
    }

    const size_t width = size_t(packet.fields.size());
    for (size_t r = 0; r < packet.rows.size(); ++r) {
        PacketRow &row = packet.rows[r];
        if (row.size() != width)
            throw EDatabaseError(QStringLiteral("A linha %1 do pacote de dados tem %2 valores para %3 campos.")
                                     .arg(r + 1)
                                     .arg(row.size())
                                     .arg(width));
        for (int i = 0; i < declared; ++i) {
            const PacketField &f = layout.at(i);
            if (!fitValue(row[size_t(columnOf[size_t(i)])], f.type, f.size))
                throw EDatabaseError(QStringLiteral("Valor inválido para o campo %1 na linha %2 do pacote de dados.")
                                         .arg(f.name)
                                         .arg(r + 1));
        }
    }

    bool identity = true;
    for (size_t k = 0; k < columnOf.size(); ++k)
        identity = identity && columnOf[k] == int(k);
    std::vector<PacketRow> rows;
    if (identity) {
        rows = std::move(packet.rows);
    } else {
        rows.reserve(packet.rows.size());
        for (PacketRow &source : packet.rows) {
            PacketRow row;
            row.reserve(width);
            for (int pc : columnOf)
                row.push_back(std::move(source[size_t(pc)]));
            rows.push_back(std::move(row));
        }
    }

    // Commit.
    if (fromPacket)
        adoptPacketFields(layout);
    d->layout = std::move(layout);
    d->rows = std::move(rows);
    d->loadedFrom = QJsonValue(QJsonValue::Undefined);
    d->changedSinceLoad = false;
    reopen();
}

void TClientDataSet::reopen()
{
    d->originals.clear();
    d->editBuffer.clear();
    d->modified = false;
    d->readOverride = kNoReadOverride;
    ++d->generation;
    rebuildVisible();
    m_current = -1;
    // Replacing the rows of an open dataset is a reopening for whoever follows
    // its state: the listeners hear it as they hear an open.
    setState(State::Browse, true);
    notifyDataSet();
    d->bof = true;
    d->eof = d->visible.empty();
    moveTo(d->visible.empty() ? -1 : 0);
}

DataPacket TClientDataSet::Data() const
{
    DataPacket packet;
    packet.fields = d->layout;
    if (Active())
        packet.rows = d->rows;
    return packet;
}

ChangeLogPacket TClientDataSet::Delta() const
{
    ChangeLogPacket log;
    log.fields = d->layout;
    log.changes.reserve(d->originals.size());
    for (const auto &[row, original] : d->originals)
        log.changes.push_back(ChangeRecord{ChangeRecord::Op::Update, original, d->rows[size_t(row)]});
    return log;
}

int TClientDataSet::ChangeCount() const
{
    return int(d->originals.size());
}

void TClientDataSet::MergeChangeLog()
{
    CheckBrowseMode();
    d->originals.clear();
}

// --- open / close ---------------------------------------------------------

void TClientDataSet::SetActive(bool active)
{
    if (active)
        Open();
    else
        Close();
}

void TClientDataSet::Open()
{
    if (Active())
        return;
    DataPacket empty;
    empty.fields = d->layout.mid(0, FieldCount());
    setDataImpl(std::move(empty));
}

void TClientDataSet::Close()
{
    if (!Active())
        return;
    d->layout = d->layout.mid(0, FieldCount());
    d->rows.clear();
    d->rows.shrink_to_fit();
    d->loadedFrom = QJsonValue(QJsonValue::Undefined);
    d->originals.clear();
    d->visible.clear();
    d->editBuffer.clear();
    d->modified = false;
    d->readOverride = kNoReadOverride;
    d->eof = d->bof = true;
    ++d->generation;
    m_current = -1;
    setState(State::Inactive);
    notifyDataSet();
}

bool TClientDataSet::IsEmpty() const
{
    return !Active() || d->visible.empty();
}

void TClientDataSet::checkActive() const
{
    if (!Active())
        throw EDatabaseError(QStringLiteral("Operação não permitida: o conjunto de dados %1 está fechado.").arg(objectName()));
}

// --- cursor ---------------------------------------------------------------

void TClientDataSet::moveTo(int visibleRow)
{
    m_current = visibleRow;
    if (m_disableCount == 0)
        Q_EMIT cursorMoved(visibleRow);
    else
        m_pendingReset = true;
    if (AfterScroll)
        AfterScroll(*this);
}

void TClientDataSet::First()
{
    checkActive();
    CheckBrowseMode();
    d->bof = true;
    d->eof = d->visible.empty();
    moveTo(d->visible.empty() ? -1 : 0);
}

void TClientDataSet::Last()
{
    checkActive();
    CheckBrowseMode();
    d->eof = true;
    d->bof = d->visible.empty();
    moveTo(int(d->visible.size()) - 1);
}

void TClientDataSet::Next()
{
    checkActive();
    CheckBrowseMode();
    if (m_current < 0 || size_t(m_current) + 1 >= d->visible.size()) {
        d->eof = true;
        return;
    }
    d->eof = d->bof = false;
    moveTo(m_current + 1);
}

void TClientDataSet::Prior()
{
    checkActive();
    CheckBrowseMode();
    if (m_current <= 0) {
        d->bof = true;
        return;
    }
    d->eof = d->bof = false;
    moveTo(m_current - 1);
}

bool TClientDataSet::Eof() const
{
    return !Active() || d->eof;
}

bool TClientDataSet::Bof() const
{
    return !Active() || d->bof;
}

int TClientDataSet::RecNo() const
{
    return Active() && m_current >= 0 ? m_current + 1 : 0;
}

void TClientDataSet::SetRecNo(int recNo)
{
    checkActive();
    CheckBrowseMode();
    if (recNo < 1 || size_t(recNo) > d->visible.size() || recNo - 1 == m_current)
        return;
    d->eof = d->bof = false;
    moveTo(recNo - 1);
}

int TClientDataSet::RecordCount() const
{
    return Active() ? int(d->visible.size()) : 0;
}

bool TClientDataSet::Locate(const QStringList &fieldNames, const QVariantList &values)
{
    checkActive();
    if (fieldNames.size() != values.size())
        throw EDatabaseError(QStringLiteral("Locate: %1 campos para %2 valores.").arg(fieldNames.size()).arg(values.size()));
    std::vector<int> columns;
    for (const QString &name : fieldNames)
        columns.push_back(FieldByName(name)->Index());
    CheckBrowseMode();
    for (size_t vr = 0; vr < d->visible.size(); ++vr) {
        const PacketRow &row = d->rows[size_t(d->visible[vr])];
        bool match = true;
        for (size_t k = 0; k < columns.size() && match; ++k)
            match = sameValue(row[size_t(columns[k])], values.at(qsizetype(k)), d->layout.at(columns[k]).type);
        if (match) {
            d->eof = d->bof = false;
            moveTo(int(vr));
            return true;
        }
    }
    return false;
}

// --- editing --------------------------------------------------------------

void TClientDataSet::adoptPacketFields(const QList<PacketField> &fields)
{
    bool same = m_fieldsFromData && qsizetype(m_fields.size()) == fields.size();
    for (qsizetype i = 0; same && i < fields.size(); ++i) {
        const TField &f = *m_fields[size_t(i)];
        same = f.FieldName() == fields.at(i).name && f.DataType() == fields.at(i).type && f.Size() == fields.at(i).size;
    }
    if (same) // keep the field objects callers may hold
        return;
    m_fields.clear();
    d->fieldByName.clear();
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const PacketField &f = fields.at(i);
        m_fields.push_back(std::make_unique<TField>(this, f.name, f.type, f.size, int(i)));
        // The first of two like-named packet fields answers to the name.
        if (!d->fieldByName.contains(f.name.toUpper()))
            d->fieldByName.insert(f.name.toUpper(), int(i));
    }
    m_fieldsFromData = true;
}

void TClientDataSet::setState(State s, bool evenIfSame)
{
    if (m_state == s && !evenIfSame)
        return;
    m_state = s;
    Q_EMIT stateChanged();
    // A copy: a listener may add or remove listeners.
    const auto listeners = d->stateListeners;
    for (const auto &[id, listener] : listeners)
        if (listener)
            listener();
}

int TClientDataSet::addStateListener(StateListener listener)
{
    const int id = d->nextListenerId++;
    d->stateListeners.emplace_back(id, std::move(listener));
    return id;
}

void TClientDataSet::removeStateListener(int id)
{
    auto &listeners = d->stateListeners;
    listeners.erase(std::remove_if(listeners.begin(), listeners.end(), [id](const auto &l) { return l.first == id; }),
                    listeners.end());
}

void TClientDataSet::Edit()
{
    checkActive();
    if (m_state == State::Edit)
        return;
    if (ReadOnly)
        throw EDatabaseError(QStringLiteral("O conjunto de dados %1 é somente leitura.").arg(objectName()));
    if (m_current < 0)
        throw EDatabaseError(QStringLiteral("Não há registro para alterar no conjunto de dados %1.").arg(objectName()));
    d->editBuffer = d->rows[size_t(d->visible[size_t(m_current)])];
    d->modified = false;
    setState(State::Edit);
}

void TClientDataSet::Post()
{
    if (m_state != State::Edit)
        return;
    const int current = m_current;
    const int row = d->visible[size_t(current)];
    if (d->modified) {
        if (d->originals.find(row) == d->originals.end())
            d->originals.emplace(row, d->rows[size_t(row)]);
        d->rows[size_t(row)] = std::move(d->editBuffer);
        d->changedSinceLoad = true;
    }
    d->editBuffer.clear();
    d->modified = false;
    setState(State::Browse);
    if (m_disableCount == 0)
        Q_EMIT recordChanged(current);
    else
        m_pendingReset = true;

    const quint64 generation = d->generation;
    if (AfterPost)
        AfterPost(*this);

    // A posted row that no longer passes the filter leaves the view.
    if (generation == d->generation && filterActive() && m_state == State::Browse
        && !d->filter->evaluateRow(d->rows[size_t(row)], d->filterColumns)) {
        rebuildVisible();
        notifyDataSet();
        const int next = std::min(current, int(d->visible.size()) - 1);
        d->bof = next <= 0;
        d->eof = d->visible.empty();
        moveTo(next);
    }
}

void TClientDataSet::Cancel()
{
    if (m_state != State::Edit)
        return;
    d->editBuffer.clear();
    d->modified = false;
    setState(State::Browse);
    if (m_disableCount == 0)
        Q_EMIT recordChanged(m_current);
    else
        m_pendingReset = true;
}

void TClientDataSet::CheckBrowseMode()
{
    if (m_state == State::Edit)
        Post();
}

// --- filter ---------------------------------------------------------------

bool TClientDataSet::filterActive() const
{
    return m_filtered && d->filter != nullptr;
}

void TClientDataSet::SetFilter(const QString &text)
{
    if (text == m_filterText)
        return;
    std::shared_ptr<FilterExpr> expr;
    std::vector<int> columns;
    if (!text.trimmed().isEmpty()) {
        expr = FilterExpr::parse(text);
        for (const QString &name : expr->fieldNames()) {
            const int column = fieldIndex(name);
            if (column < 0)
                throw EDatabaseError(QStringLiteral("Filtro inválido: o campo %1 não existe no conjunto de dados %2.")
                                         .arg(name, objectName()));
            columns.push_back(column);
        }
    }
    const bool wasActive = filterActive();
    if (Active() && (wasActive || (m_filtered && expr)))
        CheckBrowseMode();
    m_filterText = text;
    d->filter = std::move(expr);
    d->filterColumns = std::move(columns);
    if (Active() && (wasActive || filterActive()))
        repositionAfterFilter();
}

void TClientDataSet::SetFiltered(bool on)
{
    if (on == m_filtered)
        return;
    if (Active() && d->filter)
        CheckBrowseMode();
    m_filtered = on;
    if (Active() && d->filter)
        repositionAfterFilter();
}

void TClientDataSet::repositionAfterFilter()
{
    rebuildVisible();
    notifyDataSet();
    d->bof = true;
    d->eof = d->visible.empty();
    moveTo(d->visible.empty() ? -1 : 0);
}

void TClientDataSet::rebuildVisible()
{
    d->visible.clear();
    if (!filterActive()) {
        d->visible.resize(d->rows.size());
        std::iota(d->visible.begin(), d->visible.end(), 0);
        return;
    }
    d->visible.reserve(d->rows.size());
    const FilterExpr &filter = *d->filter;
    for (size_t r = 0; r < d->rows.size(); ++r)
        if (filter.evaluateRow(d->rows[r], d->filterColumns))
            d->visible.push_back(int(r));
}

// --- controls -------------------------------------------------------------

void TClientDataSet::DisableControls()
{
    ++m_disableCount;
}

void TClientDataSet::EnableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0) {
        m_pendingReset = false;
        Q_EMIT dataSetChanged();
    }
}

void TClientDataSet::notifyDataSet()
{
    if (m_disableCount > 0)
        m_pendingReset = true;
    else
        Q_EMIT dataSetChanged();
}

// --- access for controls and fields ---------------------------------------

QVariant TClientDataSet::valueAt(int visibleRow, int fieldIndex) const
{
    if (!Active() || visibleRow < 0 || size_t(visibleRow) >= d->visible.size() || fieldIndex < 0
        || fieldIndex >= d->layout.size())
        return QVariant();
    if (m_state == State::Edit && visibleRow == m_current)
        return d->editBuffer[size_t(fieldIndex)];
    return d->rows[size_t(d->visible[size_t(visibleRow)])][size_t(fieldIndex)];
}

int TClientDataSet::setActiveRecordForRead(int visibleRow)
{
    const int token = d->readOverride;
    d->readOverride = visibleRow;
    return token;
}

void TClientDataSet::restoreActiveRecord(int token)
{
    d->readOverride = token;
}

QVariant TClientDataSet::currentValue(int fieldIndex) const
{
    if (!Active())
        return QVariant();
    return valueAt(d->readRow(m_current), fieldIndex);
}

QVariant TClientDataSet::currentOldValue(int fieldIndex) const
{
    const int vr = Active() ? d->readRow(m_current) : -1;
    if (vr < 0 || fieldIndex < 0 || fieldIndex >= d->layout.size())
        return QVariant();
    const int row = d->visible[size_t(vr)];
    const auto original = d->originals.find(row);
    const PacketRow &values = original != d->originals.end() ? original->second : d->rows[size_t(row)];
    return values[size_t(fieldIndex)];
}

void TClientDataSet::setCurrentValue(int fieldIndex, const QVariant &value)
{
    if (m_state != State::Edit)
        throw EDatabaseError(QStringLiteral("O conjunto de dados %1 não está em modo de edição.").arg(objectName()));
    if (fieldIndex < 0 || fieldIndex >= d->layout.size())
        return;
    d->editBuffer[size_t(fieldIndex)] = value;
    d->modified = true;
    if (m_disableCount == 0)
        Q_EMIT recordChanged(m_current);
    else
        m_pendingReset = true;
}
