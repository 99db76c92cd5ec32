#include "Service.h"

#include "Contract.h"
#include "DataVersions.h"
#include "Database.h"
#include "DateTimeText.h"
#include "Errors.h"
#include "Keys.h"
#include "Packet.h"
#include "PacketWriter.h"
#include "RpcError.h"

#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>
#include <cmath>
#include <set>
#include <stdexcept>

namespace {

const QString kActivities = QStringLiteral("cdsConcAtivProj");
constexpr int kMaxListValues = 1000;

// A column of a large read into a packet: its text or number, or null.
void textTo(RawPacketWriter &packet, FastRead &r, int c)
{
    const QByteArrayView text = r.textOrNull(c);
    text.data() ? packet.text(text) : packet.null();
}
void numberTo(RawPacketWriter &packet, FastRead &r, int c)
{
    const std::optional<double> number = r.numberOrNull(c);
    number ? packet.number(*number) : packet.null();
}

QJsonValue textOrNull(const QVariant &v)
{
    return v.isNull() ? QJsonValue() : QJsonValue(v.toString());
}

QString arg(const QJsonArray &p, int i)
{
    return p.at(i).toString();
}

[[noreturn]] void badParams(const QString &message)
{
    throw RpcError(RpcCode::InvalidParams, message);
}

// "" or "T", the all-flag of several arguments.
bool allFlag(const QString &value, const QString &what)
{
    if (value.isEmpty())
        return false;
    if (value == QLatin1String("T"))
        return true;
    badParams(QStringLiteral("O indicador de todos (%1) deve ser vazio ou \"T\".").arg(what));
}

QString placeholders(const QString &prefix, qsizetype count, int width)
{
    QStringList list;
    for (qsizetype i = 0; i < count; ++i)
        list << castText(QStringLiteral(":%1%2").arg(prefix).arg(i), width);
    return list.join(QStringLiteral(", "));
}

QString notFoundText(const ActivityKey &k)
{
    return QStringLiteral("Atividade não encontrada (filial %1, projeto %2, sequência %3).")
        .arg(k.project.filial, k.project.projeto, k.seq);
}

// The audit rows of one write, through one prepared statement (an approval
// writes one per activity).
class Auditor
{
public:
    explicit Auditor(QSqlDatabase &db)
        : m_q(db, QStringLiteral(
                      "INSERT INTO AUDITORIA (IDAUDITORIA, DSEVENTO, DTHREVENTO, CDOPERADOR, CDFILIAL, CDPROJETO,"
                      " NRBASELINEPR, CDVERCRONPRJ, CDSEQCRONPRJ, VRANTERIOR, VRNOVO) VALUES ("
                      "%1, %2, %3, %4, %5, %6, %7, %8, %9,"
                      " CAST(:ANT AS DOUBLE PRECISION), CAST(:NOVO AS DOUBLE PRECISION))")
                      .arg(castText(QStringLiteral(":ID"), Width::AuditId),
                           castText(QStringLiteral(":EV"), Width::AuditEvent),
                           castText(QStringLiteral(":DT"), Width::DateTime),
                           castText(QStringLiteral(":OP"), Width::Operador),
                           castText(QStringLiteral(":CDFILIAL"), Width::Filial),
                           castText(QStringLiteral(":CDPROJETO"), Width::Projeto),
                           castText(QStringLiteral(":NRBASELINEPR"), Width::Baseline),
                           castText(QStringLiteral(":CDVERCRONPRJ"), Width::Versao),
                           castText(QStringLiteral(":CDSEQCRONPRJ"), Width::Seq)))
    {
    }
    void add(const QString &event, const QString &when, const QString &operatorCode, const ActivityKey &k,
             const QVariant &before, const QVariant &after)
    {
        m_q.bind(QStringLiteral(":ID"), QUuid::createUuid().toString(QUuid::WithoutBraces))
            .bind(QStringLiteral(":EV"), event)
            .bind(QStringLiteral(":DT"), when)
            .bind(QStringLiteral(":OP"), operatorCode)
            .bind(QStringLiteral(":ANT"), before)
            .bind(QStringLiteral(":NOVO"), after);
        k.bind(m_q);
        m_q.exec();
    }

private:
    Sql m_q;
};

// The activity a write names, with its project's responsible operator and its
// current percentage; a key that names no activity is refused.
struct OwnedActivity
{
    QString responsible;
    QVariant percent;
};

// `lockRow`: the activity's row stays locked until the transaction ends, so
// the value read is the one the write replaces (SQLite's write transaction
// already excludes other writers).
class Ownership
{
public:
    Ownership(QSqlDatabase &db, bool lockRow)
        : m_q(db, QStringLiteral("SELECT P.CDOPERESPRJ, A.VRPERCCONCL FROM ATIVIDADE A JOIN PROJETO P"
                                 " ON P.CDFILIAL = A.CDFILIAL AND P.CDPROJETO = A.CDPROJETO WHERE ")
                      + ActivityKey::where(QStringLiteral("A.")) + (lockRow ? QStringLiteral(" FOR UPDATE OF A") : QString()))
    {
    }
    OwnedActivity operator()(const ActivityKey &k)
    {
        if (!k.fits())
            throw RpcError(RpcCode::NotFound, notFoundText(k));
        k.bind(m_q);
        m_q.exec();
        if (!m_q.next())
            throw RpcError(RpcCode::NotFound, notFoundText(k));
        return {m_q.text(0), m_q.value(1)};
    }

private:
    Sql m_q; // prepared once for all the activities of a write
};

} // namespace

namespace {

MethodResult rawPayload(QByteArray payload)
{
    MethodResult r;
    r.rawPayload = std::move(payload);
    return r;
}

MethodResult payload(QJsonValue value)
{
    MethodResult r;
    r.payload = std::move(value);
    return r;
}

[[noreturn]] void contractMismatch(const QString &what)
{
    Q_ASSERT_X(false, "Service", qPrintable(what));
    throw std::logic_error(what.toStdString());
}

} // namespace

const QHash<QString, Service::Handler> &Service::handlers()
{
    static const QHash<QString, Handler> table = [] {
        using P = const QJsonArray &;
        using Op = const QString &;
        using enum DataVersions::Dep;
        // What each read shows, and so which writes change its answer: the
        // activity list shows operator names and each activity's booked
        // time; the booking lists show task numbers, which only imports set
        // (and an import bumps every version of the project).
        const std::pair<const char *, Handler> entries[] = {
            {"getConcAtivPro", {Reference | Activities | Bookings, [](Service &s, P p, Op) { return rawPayload(s.activities(p, false)); }}},
            {"getFiltroConcAtiv", {Reference | Activities | Bookings, [](Service &s, P p, Op) { return rawPayload(s.activities(p, true)); }}},
            {"getApropriaCSA", {Bookings, [](Service &s, P p, Op) { return rawPayload(s.bookings(p)); }}},
            {"getCSAAux", {Bookings, [](Service &s, P p, Op) { return rawPayload(s.projectBookings(p)); }}},
            {"getPlanProj", {Activities | Bookings, [](Service &s, P p, Op) { return payload(s.plan(p)); }}},
            {"getProjeto", {Reference, [](Service &s, P p, Op) { return payload(s.projects(p)); }}},
            {"getFiltroOper", {Reference | Activities, [](Service &s, P p, Op) { return payload(s.operators(p)); }}},
            {"getFiltroItemTrab", {Reference | Activities, [](Service &s, P p, Op) { return payload(s.workItems(p)); }}},
            {"setAprovaAtividades", {None, [](Service &s, P p, Op op) {
                                         s.approve(p.at(0), op);
                                         return MethodResult();
                                     }}},
            {"SetAtualizaConcCSA", {None, [](Service &s, P p, Op op) {
                                        s.updatePercent(p, op);
                                        return MethodResult();
                                    }}},
        };
        // Exactly the contract's methods, each once: a method without a
        // handler would fail only when called, a handler without a method
        // never runs.
        QHash<QString, Handler> byName;
        for (const auto &[name, handler] : entries) {
            const QString method = QString::fromLatin1(name);
            if (!findMethod(method))
                contractMismatch(QStringLiteral("%1 is not a method of the contract").arg(method));
            if (byName.contains(method))
                contractMismatch(QStringLiteral("%1 has two handlers").arg(method));
            byName.insert(method, handler);
        }
        for (const MethodInfo &m : contractMethods())
            if (!byName.contains(m.name))
                contractMismatch(QStringLiteral("%1 has no handler").arg(m.name));
        return byName;
    }();
    return table;
}

Service::Service(Database &db, Clock clock) : m_db(db), m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentDateTime(); };
    handlers();
}

bool Service::isRead(const QString &method)
{
    return dependsOn(method) != DataVersions::None;
}

unsigned Service::dependsOn(QStringView method)
{
    const auto it = handlers().constFind(method.toString());
    return it == handlers().cend() ? unsigned(DataVersions::None) : it->reads;
}

MethodResult Service::call(const MethodInfo &method, const QJsonArray &p, const QString &operatorCode)
{
    const auto handler = handlers().constFind(method.name);
    if (handler == handlers().cend()) // a MethodInfo made elsewhere than the contract
        contractMismatch(QStringLiteral("%1 has no handler").arg(method.name));
    MethodResult r = handler->run(*this, p, operatorCode);
    for (int i = 0; i < method.byRef.size(); ++i) {
        if (method.byRef[i]) {
            r.hasByref = true;
            r.byref.append(p.at(i));
        }
    }
    return r;
}

// ---- helpers -------------------------------------------------------------

QString Service::hoursText(qint64 seconds, int maxLength)
{
    if (seconds < 0)
        seconds = 0;
    qint64 minutes = (seconds + 30) / 60;
    qint64 h = minutes / 60, m = minutes % 60;
    QString text = QStringLiteral("%1:%2").arg(h).arg(m, 2, 10, QLatin1Char('0'));
    if (text.size() > maxLength) { // beyond what the field holds: its largest value
        h = 1;
        for (int i = 0; i < maxLength - 3; ++i)
            h *= 10;
        text = QStringLiteral("%1:59").arg(h - 1);
    }
    return text;
}

qint64 Service::bookingSeconds(QByteArrayView start, QByteArrayView end)
{
    // A wall-clock difference, free of daylight-saving jumps; read once per
    // booking, so without QDateTime (which consults the time-zone file each time).
    const std::optional<qint64> s = DateTimeText::screenSeconds(start), e = DateTimeText::screenSeconds(end);
    if (!s || !e || *e < *s)
        return 0;
    return *e - *s;
}

bool Service::parsePercent(const QString &text, double *value)
{
    // Digits with at most one separator (the workstation's comma, or a point),
    // any number of decimals: what the screen lets the user type.
    static const QRegularExpression re(QStringLiteral("^[0-9]+(?:[.,][0-9]+)?$"));
    if (!re.match(text).hasMatch())
        return false;
    QString number = text;
    number.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = number.toDouble(&ok);
    if (!ok || v > 100.0)
        return false;
    *value = v;
    return true;
}

bool Service::parseQuotedList(const QString &text, QStringList *values)
{
    QStringList out;
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (n == 0)
        return false;
    while (true) {
        if (i >= n || text[i] != QLatin1Char('\''))
            return false;
        ++i;
        QString value;
        bool closed = false;
        while (i < n) {
            if (text[i] == QLatin1Char('\'')) {
                if (i + 1 < n && text[i + 1] == QLatin1Char('\'')) {
                    value += QLatin1Char('\'');
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            value += text[i++];
        }
        if (!closed)
            return false;
        out << value;
        if (i == n)
            break;
        if (text[i] != QLatin1Char(','))
            return false;
        ++i;
    }
    *values = out;
    return true;
}

// ---- reads ---------------------------------------------------------------

QByteArray Service::activities(const QJsonArray &p, bool filtered)
{
    RawPacketWriter packet(kActivities);
    const ProjectKey project{arg(p, 0), arg(p, 1)};

    QString extra;
    QStringList items, operatorsList, situations;
    int approval = 0; // 0 both, 1 approved only, -1 not approved only
    if (filtered) {
        const bool allItems = allFlag(arg(p, 3), QStringLiteral("stTItTrab"));
        const bool allOperators = allFlag(arg(p, 5), QStringLiteral("stTOperador"));
        auto list = [](const QString &text, bool all, const QString &what, QStringList *values) {
            if (text.isEmpty()) {
                if (!all)
                    badParams(QStringLiteral("A lista de %1 deve ser informada.").arg(what));
                return;
            }
            if (!parseQuotedList(text, values))
                badParams(QStringLiteral("A lista de %1 está mal formada (esperado 'A','B').").arg(what));
            if (values->size() > kMaxListValues)
                badParams(QStringLiteral("A lista de %1 tem valores demais.").arg(what));
        };
        QStringList itemValues, operatorValues;
        list(arg(p, 2), allItems, QStringLiteral("descrições de atividade"), &itemValues);
        list(arg(p, 4), allOperators, QStringLiteral("operadores"), &operatorValues);

        const QString sit = arg(p, 6), sta = arg(p, 7);
        if (sit == QLatin1String("_A"))
            situations = {QStringLiteral("A")};
        else if (sit == QLatin1String("_C"))
            situations = {QStringLiteral("C")};
        else if (sit == QLatin1String("_A_C"))
            situations = {QStringLiteral("A"), QStringLiteral("C")};
        else
            badParams(QStringLiteral("A situação da atividade deve ser \"_A\", \"_C\" ou \"_A_C\"."));
        if (sta == QLatin1String("_A"))
            approval = 1;
        else if (sta == QLatin1String("_N"))
            approval = -1;
        else if (sta != QLatin1String("_A_N"))
            badParams(QStringLiteral("O status de aprovação deve ser \"_A\", \"_N\" ou \"_A_N\"."));

        // Values wider than their column can match nothing.
        auto keepFitting = [](const QStringList &in, int width) {
            QStringList out;
            for (const QString &v : in)
                if (fits(v, width))
                    out << v;
            return out;
        };
        if (!allItems) {
            items = keepFitting(itemValues, Width::Item);
            if (items.isEmpty())
                return packet.finish();
            extra += QStringLiteral(" AND A.CDITEMTRAB IN (%1)").arg(placeholders(QStringLiteral("IT"), items.size(), Width::Item));
        }
        if (!allOperators) {
            operatorsList = keepFitting(operatorValues, Width::Operador);
            if (operatorsList.isEmpty())
                return packet.finish();
            extra += QStringLiteral(" AND A.CDOPERRESP IN (%1)")
                         .arg(placeholders(QStringLiteral("OP"), operatorsList.size(), Width::Operador));
        }
        extra += QStringLiteral(" AND A.SITUACAO IN (%1)").arg(placeholders(QStringLiteral("SI"), situations.size(), Width::Situacao));
        if (approval > 0)
            extra += QStringLiteral(" AND A.DTHRAPROVATIVTA IS NOT NULL");
        else if (approval < 0)
            extra += QStringLiteral(" AND A.DTHRAPROVATIVTA IS NULL");
    }
    if (!project.fits())
        return packet.finish();

    QSqlDatabase db = m_db.connection();

    const std::shared_ptr<const BookedTime> bookedTime = this->bookedTime(db, project.filial, project.projeto);
    const QHash<QByteArray, qint64> &booked = bookedTime->perActivity;

    FastRead::Binds binds = project.binds();
    for (qsizetype i = 0; i < items.size(); ++i)
        binds.append({QStringLiteral(":IT%1").arg(i), items[i]});
    for (qsizetype i = 0; i < operatorsList.size(); ++i)
        binds.append({QStringLiteral(":OP%1").arg(i), operatorsList[i]});
    for (qsizetype i = 0; i < situations.size(); ++i)
        binds.append({QStringLiteral(":SI%1").arg(i), situations[i]});
    FastRead q(db,
               QStringLiteral(
                   "SELECT A.CDSEQCRONPRJ, A.DESCRICAO, A.CDFILIAL, A.CDPROJETO, A.NRBASELINEPR, A.CDVERCRONPRJ,"
                   " A.CDOPERRESP, O.NMOPERADOR, A.NRTAREFA, A.NRPLATIVTARE, A.QTTEMPLAITAR, A.DTINIITCRPRJ,"
                   " A.DTFINITCRPRJ, A.DTINPATIVTAR, A.DTFIPATIVTAR, A.CDFILAPRIO, A.VRPERCCONCL, A.DTHRAPROVATIVTA,"
                   " A.DTINIULTATIV, A.SITUACAO"
                   " FROM ATIVIDADE A JOIN OPERADOR O ON O.CDOPERADOR = A.CDOPERRESP WHERE ")
                   + ProjectKey::where(QStringLiteral("A.")) + extra + QStringLiteral(" ORDER BY A.CDSEQCRONPRJ, A.NRBASELINEPR, A.CDVERCRONPRJ"),
               binds);
    QByteArray key;
    while (q.next()) {
        key.clear();
        key.append(q.utf8(4)).append('\x1f').append(q.utf8(5)).append('\x1f').append(q.utf8(0));
        const qint64 bookedForActivity = booked.value(key);
        const bool approved = !q.textOrNull(17).isEmpty();
        packet.beginRow();
        packet.text(QStringLiteral("N"));        // IDCHECK
        for (int i = 0; i <= 9; ++i)             // CDSEQCRONPRJ, DESCRICAO, CDFILIAL, CDPROJETO, NRBASELINEPR,
            textTo(packet, q, i);                // CDVERCRONPRJ, CDOPERRESP, NMOPERADOR, NRTAREFA, NRPLATIVTARE
        numberTo(packet, q, 10);                 // QTTEMPLAITAR
        for (int i = 11; i <= 15; ++i)           // DTINIITCRPRJ, DTFINITCRPRJ, DTINPATIVTAR, DTFIPATIVTAR,
            textTo(packet, q, i);                // CDFILAPRIO
        numberTo(packet, q, 16);                 // VRPERCCONCL
        textTo(packet, q, 17);                   // DTHRAPROVATIVTA
        textTo(packet, q, 18);                   // DTINIULTATIV
        packet.text(hoursText(bookedForActivity, 8)); // APROPRIA
        packet.text(approved ? QStringLiteral("A") : QStringLiteral("N")); // STAPROVACAO
        textTo(packet, q, 19);                   // SITUACAO
        packet.endRow();
    }
    return packet.finish();
}

QByteArray Service::bookings(const QJsonArray &p)
{
    RawPacketWriter packet(QStringLiteral("cdsApropriaCSA"));
    const ProjectKey project{arg(p, 0), arg(p, 1)};
    const QString tarefa = arg(p, 2), plativ = arg(p, 3);
    if (!project.fits() || !fits(tarefa, Width::Tarefa) || !fits(plativ, Width::PlAtiv))
        return packet.finish();
    Sql q(m_db.connection(),
          QStringLiteral("SELECT P.DTHRINIAPROCSA, P.DTHRFIMAPROCSA, P.VRPERCCONCL, P.INCLUSAO, P.DSOBSAPROATVCSA"
                         " FROM APROPRIACAO P JOIN ATIVIDADE A ON A.CDFILIAL = P.CDFILIAL AND A.CDPROJETO = P.CDPROJETO"
                         " AND A.NRBASELINEPR = P.NRBASELINEPR AND A.CDVERCRONPRJ = P.CDVERCRONPRJ"
                         " AND A.CDSEQCRONPRJ = P.CDSEQCRONPRJ WHERE ")
              + ProjectKey::where(QStringLiteral("A."))
              + QStringLiteral(" AND A.NRTAREFA = %1 AND A.NRPLATIVTARE = %2 ORDER BY P.NRSEQAPROCSA")
                    .arg(castText(QStringLiteral(":NRTAREFA"), Width::Tarefa),
                         castText(QStringLiteral(":NRPLATIVTARE"), Width::PlAtiv)));
    project.bind(q);
    q.bind(QStringLiteral(":NRTAREFA"), tarefa).bind(QStringLiteral(":NRPLATIVTARE"), plativ).exec();
    while (q.next()) {
        packet.beginRow();
        packet.text(q.value(0));
        packet.text(q.value(1));
        packet.number(q.value(2));
        packet.text(q.value(3));
        packet.text(q.value(4));
        packet.endRow();
    }
    return packet.finish();
}

QByteArray Service::projectBookings(const QJsonArray &p)
{
    RawPacketWriter packet(QStringLiteral("cdsCSAAux"));
    const ProjectKey project{arg(p, 0), arg(p, 1)};
    if (!project.fits())
        return packet.finish();
    QSqlDatabase db = m_db.connection();
    const FastRead::Binds binds = project.binds();
    auto scheduleKey = [](FastRead &r, QByteArray *key) {
        key->clear();
        key->append(r.utf8(0)).append('\x1f').append(r.utf8(1)).append('\x1f').append(r.utf8(2));
    };
    // Each booking's NRPLATIVTARE and NRTAREFA come from its activity, looked
    // up here by the schedule key instead of joined row by row (the join's
    // index search per booking was a third of this read).
    QHash<QByteArray, std::pair<QByteArray, QByteArray>> tasks;
    QByteArray key;
    {
        FastRead a(db,
                   QStringLiteral("SELECT A.NRBASELINEPR, A.CDVERCRONPRJ, A.CDSEQCRONPRJ, A.NRPLATIVTARE, A.NRTAREFA"
                                  " FROM ATIVIDADE A WHERE ")
                       + ProjectKey::where(QStringLiteral("A.")),
                   binds);
        while (a.next()) {
            scheduleKey(a, &key);
            tasks.insert(key, {a.utf8(3).toByteArray(), a.utf8(4).toByteArray()});
        }
    }
    FastRead q(db,
               QStringLiteral("SELECT P.NRBASELINEPR, P.CDVERCRONPRJ, P.CDSEQCRONPRJ, P.DTHRINIAPROCSA, P.DTHRFIMAPROCSA,"
                              " P.VRPERCCONCL, P.INCLUSAO, P.DSOBSAPROATVCSA"
                              " FROM APROPRIACAO P WHERE ")
                   + ProjectKey::where(QStringLiteral("P."))
                   // In activity order, read along its index.
                   + QStringLiteral(" ORDER BY P.CDSEQCRONPRJ, P.NRBASELINEPR, P.CDVERCRONPRJ, P.NRSEQAPROCSA"),
               binds);
    while (q.next()) {
        scheduleKey(q, &key);
        const auto task = tasks.constFind(key);
        if (task == tasks.cend()) // a booking without its activity (the foreign key rules it out)
            continue;
        packet.beginRow();
        textTo(packet, q, 3);
        textTo(packet, q, 4);
        numberTo(packet, q, 5);
        textTo(packet, q, 6);
        textTo(packet, q, 7);
        packet.text(QByteArrayView(task->first));
        packet.text(QByteArrayView(task->second));
        packet.endRow();
    }
    return packet.finish();
}

// Approvals and percentage changes rebuild the activity list and the summary
// but leave the bookings (hundreds of thousands in a large project) as they
// were: their times are summed once per version of the project's bookings.
// The version is read first, so the times are never older than it.
std::shared_ptr<const Service::BookedTime> Service::bookedTime(QSqlDatabase &db, const QString &filial,
                                                               const QString &projeto)
{
    const qint64 version = DataVersions::read(db, filial, projeto).bookings;
    const QString key = filial + QLatin1Char('\x1f') + projeto;
    {
        QMutexLocker lock(&m_bookedMutex);
        const auto it = m_booked.constFind(key);
        if (it != m_booked.cend() && it->first == version)
            return it->second;
    }
    auto time = std::make_shared<BookedTime>();
    FastRead q(db,
               QStringLiteral("SELECT P.NRBASELINEPR, P.CDVERCRONPRJ, P.CDSEQCRONPRJ, P.DTHRINIAPROCSA, P.DTHRFIMAPROCSA"
                              " FROM APROPRIACAO P WHERE ")
                   + ProjectKey::where(QStringLiteral("P.")),
               ProjectKey{filial, projeto}.binds());
    QByteArray activity;
    while (q.next()) {
        activity.clear();
        activity.append(q.utf8(0)).append('\x1f').append(q.utf8(1)).append('\x1f').append(q.utf8(2));
        const qint64 seconds = Service::bookingSeconds(q.utf8(3), q.utf8(4));
        time->perActivity[activity] += seconds;
        time->total += seconds;
    }
    QMutexLocker lock(&m_bookedMutex);
    if (m_booked.size() >= 256) // a bound; projects in use come back at once
        m_booked.clear();
    m_booked.insert(key, {version, time});
    return time;
}

QJsonValue Service::plan(const QJsonArray &p)
{
    PacketWriter planning(QStringLiteral("cdsPlanProj"));
    PacketWriter bookedPacket(QStringLiteral("cdsPlanCSA"));
    const ProjectKey project{arg(p, 0), arg(p, 1)};
    if (!project.fits())
        return QJsonArray{planning.json(), bookedPacket.json()};
    QSqlDatabase db = m_db.connection();
    {
        Sql q(db, QStringLiteral("SELECT 1 FROM PROJETO WHERE ") + ProjectKey::where());
        project.bind(q);
        q.exec();
        if (!q.next())
            return QJsonArray{planning.json(), bookedPacket.json()};
    }
    double hours = 0, weighted = 0;
    {
        Sql q(db, QStringLiteral("SELECT A.QTTEMPLAITAR, A.VRPERCCONCL FROM ATIVIDADE A WHERE ")
                      + ProjectKey::where(QStringLiteral("A.")));
        project.bind(q);
        q.exec();
        while (q.next()) {
            const double h = q.value(0).toDouble();
            hours += h;
            weighted += h * q.value(1).toDouble();
        }
    }
    const qint64 bookedSeconds = bookedTime(db, project.filial, project.projeto)->total;
    const double completion = hours > 0 ? weighted / hours : 0.0;
    planning.add(QJsonArray{completion, hoursText(std::llround(hours * 3600.0), 9), hours});
    bookedPacket.add(QJsonArray{hoursText(bookedSeconds, 8), double(bookedSeconds) / 3600.0});
    return QJsonArray{planning.json(), bookedPacket.json()};
}

QJsonValue Service::projects(const QJsonArray &p)
{
    PacketWriter packet(QStringLiteral("cdsProjeto"));
    const ProjectKey project{arg(p, 0), arg(p, 1)};
    const bool all = allFlag(arg(p, 2), QStringLiteral("projetos"));
    if (all ? !fits(project.filial, Width::Filial) : !project.fits())
        return packet.json();
    Sql q(m_db.connection(),
          QStringLiteral("SELECT CDPROJETO, NMPROJETO, CDOPERESPRJ FROM PROJETO WHERE ")
              + (all ? QStringLiteral("CDFILIAL = ") + castText(QStringLiteral(":CDFILIAL"), Width::Filial)
                     : ProjectKey::where())
              + QStringLiteral(" ORDER BY CDPROJETO"));
    if (all)
        q.bind(QStringLiteral(":CDFILIAL"), project.filial);
    else
        project.bind(q);
    q.exec();
    while (q.next())
        packet.add(QJsonArray{textOrNull(q.value(0)), textOrNull(q.value(1)), textOrNull(q.value(2))});
    return packet.json();
}

// The filter dialog's pick lists: one row per distinct value used by the
// project's activities, each unmarked ("N") for the client's list picker.
QJsonValue Service::pickList(const QJsonArray &p, const QString &dataset, const QString &allWhat,
                             const QString &select, const QString &codeColumn, int codeWidth,
                             const QString &orderBy)
{
    PacketWriter packet(dataset);
    const ProjectKey project{arg(p, 0), arg(p, 1)};
    const QString code = arg(p, 2);
    const bool all = allFlag(arg(p, 3), allWhat);
    if (!project.fits() || (!all && !fits(code, codeWidth)))
        return packet.json();
    Sql q(m_db.connection(),
          select + QStringLiteral(" WHERE ") + ProjectKey::where(QStringLiteral("A."))
              + (all ? QString()
                     : QStringLiteral(" AND %1 = %2").arg(codeColumn, castText(QStringLiteral(":CODE"), codeWidth)))
              + orderBy);
    project.bind(q);
    if (!all)
        q.bind(QStringLiteral(":CODE"), code);
    q.exec();
    const int columns = int(contractFields(dataset).size()) - 1;
    while (q.next()) {
        QJsonArray row{QStringLiteral("N")};
        for (int i = 0; i < columns; ++i)
            row.append(textOrNull(q.value(i)));
        packet.add(row);
    }
    return packet.json();
}

QJsonValue Service::operators(const QJsonArray &p)
{
    return pickList(p, QStringLiteral("cdsOperador"), QStringLiteral("operadores"),
                    QStringLiteral("SELECT DISTINCT A.CDOPERRESP, O.NMOPERADOR FROM ATIVIDADE A"
                                   " JOIN OPERADOR O ON O.CDOPERADOR = A.CDOPERRESP"),
                    QStringLiteral("A.CDOPERRESP"), Width::Operador, QStringLiteral(" ORDER BY A.CDOPERRESP"));
}

QJsonValue Service::workItems(const QJsonArray &p)
{
    return pickList(p, QStringLiteral("cdsFiltroItemTrab"), QStringLiteral("descrições"),
                    QStringLiteral("SELECT DISTINCT I.CDREDUITTRAB, I.CDITEMTRAB, I.NMITEMTRAB FROM ATIVIDADE A"
                                   " JOIN ITEMTRAB I ON I.CDITEMTRAB = A.CDITEMTRAB"),
                    QStringLiteral("A.CDITEMTRAB"), Width::Item, QStringLiteral(" ORDER BY I.CDREDUITTRAB, I.CDITEMTRAB"));
}

// ---- writes --------------------------------------------------------------

namespace {

// An update sent without its former row has always been taken as one whose
// keys did not change; ChangeLogPacket wants both rows, so it gets the latest twice.
QJsonValue withFormerRows(const QJsonValue &json)
{
    QJsonObject log = json.toObject();
    QJsonArray changes = log.value(QStringLiteral("changes")).toArray();
    bool filled = false;
    for (qsizetype i = 0; i < changes.size(); ++i) {
        QJsonObject change = changes.at(i).toObject();
        const QJsonValue before = change.value(QStringLiteral("before"));
        if (change.value(QStringLiteral("op")).toString() != QLatin1String("update")
            || !(before.isNull() || before.isUndefined()))
            continue;
        change.insert(QStringLiteral("before"), change.value(QStringLiteral("after")));
        changes[i] = change;
        filled = true;
    }
    if (!filled)
        return json;
    log.insert(QStringLiteral("changes"), changes);
    return log;
}

// The activities a change log of the list marks for approval: those whose
// row after the change has IDCHECK "S", each once, in the order first marked.
// Anything but updates of the list's rows with their keys unchanged is refused.
QList<ActivityKey> markedForApproval(const QJsonValue &json)
{
    const QString notLog = QStringLiteral("O pacote enviado não é uma lista de alterações das atividades.");
    auto parse = [&](const QJsonValue &value) {
        try {
            return ChangeLogPacket::fromJson(value);
        } catch (const EDatabaseError &e) {
            badParams(notLog + QLatin1Char(' ') + e.message());
        }
    };

    // The fields first, alone: a field missing or of another type is named
    // as such, not as rows that do not fit the fields. The log's own field
    // order decides where each value sits.
    const QList<PacketField> fields =
        parse(QJsonObject{{QStringLiteral("fields"), json.toObject().value(QStringLiteral("fields"))},
                          {QStringLiteral("changes"), QJsonArray()}})
            .fields;
    QHash<QString, int> index;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (index.contains(fields.at(i).name))
            badParams(notLog);
        index.insert(fields.at(i).name, int(i));
    }
    for (const ContractField &cf : contractFields(kActivities)) {
        const auto it = index.constFind(cf.name);
        if (it == index.cend() || fieldTypeName(fields.at(*it).type) != cf.type)
            badParams(QStringLiteral("%1 Campo ausente ou de tipo errado: %2.").arg(notLog, cf.name));
    }
    const ChangeLogPacket log = parse(withFormerRows(json));
    const size_t filial = index.value(QStringLiteral("CDFILIAL")), projeto = index.value(QStringLiteral("CDPROJETO")),
                 baseline = index.value(QStringLiteral("NRBASELINEPR")),
                 versao = index.value(QStringLiteral("CDVERCRONPRJ")), seq = index.value(QStringLiteral("CDSEQCRONPRJ")),
                 mark = index.value(QStringLiteral("IDCHECK"));
    auto keyOf = [&](const PacketRow &row, ActivityKey *k) {
        for (size_t i : {filial, projeto, baseline, versao, seq})
            if (!row[i].isValid())
                return false;
        *k = {{row[filial].toString(), row[projeto].toString()},
              row[baseline].toString(), row[versao].toString(), row[seq].toString()};
        return true;
    };

    QList<ActivityKey> marked;
    QSet<ActivityKey> seen;
    for (size_t c = 0; c < log.changes.size(); ++c) {
        const ChangeRecord &change = log.changes[c];
        const QString where = QStringLiteral("alteração %1").arg(qsizetype(c) + 1);
        if (change.op != ChangeRecord::Op::Update)
            badParams(QStringLiteral("%1 Só alterações de atividades existentes são aceitas (%2).").arg(notLog, where));
        ActivityKey key, beforeKey;
        if (!keyOf(change.after, &key))
            badParams(QStringLiteral("%1 Chave da atividade ausente (%2).").arg(notLog, where));
        if (!keyOf(change.before, &beforeKey) || !(beforeKey == key))
            badParams(QStringLiteral("%1 A chave da atividade não pode mudar (%2).").arg(notLog, where));
        if (change.after[mark].toString() != QLatin1String("S"))
            continue;
        if (!seen.contains(key)) {
            seen.insert(key);
            marked << key;
        }
    }
    return marked;
}

} // namespace

void Service::approve(const QJsonValue &packet, const QString &operatorCode)
{
    const QList<ActivityKey> toApprove = markedForApproval(packet);
    if (toApprove.isEmpty())
        return;

    const QString now = m_clock().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    Transaction tx(m_db);
    // First, before any activity row is locked (see DataVersions::bump).
    // In one order for every writer. A key too wide names no activity and is
    // refused below.
    std::set<ProjectKey> projects;
    for (const ActivityKey &k : std::as_const(toApprove))
        if (k.project.fits())
            projects.insert(k.project);
    for (const ProjectKey &project : projects)
        DataVersions::bump(tx.db(), project.filial, project.projeto, DataVersions::Activities);
    Ownership owned(tx.db(), !m_db.config().isSqlite());
    for (const ActivityKey &k : std::as_const(toApprove)) {
        if (owned(k).responsible != operatorCode)
            throw RpcError(RpcCode::NotAllowed,
                           QStringLiteral("Somente o responsável pelo projeto %1 pode aprovar suas atividades.")
                               .arg(k.project.projeto));
    }
    Sql u(tx.db(), QStringLiteral("UPDATE ATIVIDADE SET DTHRAPROVATIVTA = %1, CDOPERAPROV = %2 WHERE ")
                       .arg(castText(QStringLiteral(":DT"), Width::DateTime),
                            castText(QStringLiteral(":OP"), Width::Operador))
                       + ActivityKey::where());
    Auditor audit(tx.db());
    for (const ActivityKey &k : std::as_const(toApprove)) {
        u.bind(QStringLiteral(":DT"), now).bind(QStringLiteral(":OP"), operatorCode);
        k.bind(u);
        u.exec();
        audit.add(QStringLiteral("APROVACAO"), now, operatorCode, k, QVariant(), QVariant());
    }
    tx.commit();
}

void Service::updatePercent(const QJsonArray &p, const QString &operatorCode)
{
    double value = 0;
    if (!parsePercent(arg(p, 5), &value))
        badParams(QStringLiteral("O percentual de conclusão deve ser um número de 0 a 100."));
    const ActivityKey k{{arg(p, 0), arg(p, 1)}, arg(p, 2), arg(p, 3), arg(p, 4)};

    const QString now = m_clock().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    Transaction tx(m_db);
    if (k.fits())
        DataVersions::bump(tx.db(), k.project.filial, k.project.projeto, DataVersions::Activities);
    const OwnedActivity activity = Ownership(tx.db(), !m_db.config().isSqlite())(k);
    if (activity.responsible != operatorCode)
        throw RpcError(RpcCode::NotAllowed,
                       QStringLiteral("Somente o responsável pelo projeto pode alterar o percentual de conclusão."));
    const QVariant before = activity.percent;
    Sql u(tx.db(), QStringLiteral("UPDATE ATIVIDADE SET VRPERCCONCL = CAST(:V AS DOUBLE PRECISION) WHERE ")
                       + ActivityKey::where());
    u.bind(QStringLiteral(":V"), value);
    k.bind(u);
    u.exec();
    Auditor(tx.db()).add(QStringLiteral("PERCENTUAL"), now, operatorCode, k,
                         before.isNull() ? QVariant() : QVariant(before.toDouble()), value);
    tx.commit();
}
