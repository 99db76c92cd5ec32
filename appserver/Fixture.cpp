#include "Fixture.h"

#include "DataVersions.h"

#include "Auth.h"
#include "ColumnWidths.h"
#include "Database.h"
#include "Keys.h"
#include "DateTimeText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <map>
#include <memory>

namespace {

// Reads one JSON object of the fixture, remembering where it sits so that
// every refusal names its path.
class Node
{
public:
    Node(QJsonObject object, QString path, QStringList allowed)
        : m_object(std::move(object)), m_path(std::move(path))
    {
        for (auto it = m_object.constBegin(); it != m_object.constEnd(); ++it)
            if (!allowed.contains(it.key()))
                throw FixtureError(at(it.key()), QStringLiteral("chave desconhecida"));
    }

    QString at(const QString &key) const { return m_path.isEmpty() ? key : m_path + QLatin1Char('.') + key; }

    // A text of 1..width characters (or null/missing when optional).
    QVariant text(const QString &key, int width, bool required) const
    {
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined() || v.isNull()) {
            if (required)
                throw FixtureError(at(key), QStringLiteral("obrigatório"));
            return QVariant();
        }
        if (!v.isString())
            throw FixtureError(at(key), QStringLiteral("deve ser um texto"));
        const QString s = v.toString();
        if (required && s.isEmpty())
            throw FixtureError(at(key), QStringLiteral("não pode ser vazio"));
        if (s.size() > width)
            throw FixtureError(at(key), QStringLiteral("texto com mais de %1 caracteres").arg(width));
        return s;
    }

    QVariant number(const QString &key, double min, double max) const
    {
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined() || v.isNull())
            return QVariant();
        if (!v.isDouble())
            throw FixtureError(at(key), QStringLiteral("deve ser um número"));
        const double d = v.toDouble();
        if (d < min || d > max)
            throw FixtureError(at(key), QStringLiteral("deve estar entre %1 e %2").arg(min).arg(max));
        return d;
    }

    // "YYYY-MM-DDTHH:MM:SS"
    QVariant isoDateTime(const QString &key) const
    {
        const QVariant v = text(key, Width::DateTime, false);
        if (v.isNull())
            return v;
        if (!DateTimeText::isoSeconds(v.toString()))
            throw FixtureError(at(key), QStringLiteral("data e hora no formato AAAA-MM-DDTHH:MM:SS"));
        return v;
    }

    // "dd/MM/yyyy HH:mm:ss"
    QVariant textDateTime(const QString &key) const
    {
        const QVariant v = text(key, Width::DateTime, false);
        if (v.isNull())
            return v;
        if (!DateTimeText::screenSeconds(v.toString()))
            throw FixtureError(at(key), QStringLiteral("data e hora no formato DD/MM/AAAA HH:MM:SS"));
        return v;
    }

    QJsonArray array(const QString &key) const
    {
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined() || v.isNull())
            return {};
        if (!v.isArray())
            throw FixtureError(at(key), QStringLiteral("deve ser uma lista"));
        return v.toArray();
    }

private:
    QJsonObject m_object;
    QString m_path;
};

Node element(const QJsonArray &list, qsizetype i, const QString &path, QStringList allowed)
{
    const QString here = QStringLiteral("%1[%2]").arg(path).arg(i);
    if (!list.at(i).isObject())
        throw FixtureError(here, QStringLiteral("deve ser um objeto"));
    return Node(list.at(i).toObject(), here, std::move(allowed));
}

bool exists(QSqlDatabase &db, const QString &sql, const QVariantList &values)
{
    Sql q(db, sql);
    for (qsizetype i = 0; i < values.size(); ++i)
        q.bind(QStringLiteral(":P%1").arg(i), values[i]);
    q.exec();
    return q.next();
}

// One prepared INSERT per table for the whole import (a large fixture has
// hundreds of thousands of rows).
class Inserter
{
public:
    explicit Inserter(QSqlDatabase &db) : m_db(db) {}

    void operator()(const QString &table, const QStringList &columns, const QStringList &types,
                    const QVariantList &values)
    {
        std::unique_ptr<Sql> &q = m_statements[table];
        if (!q) {
            QStringList casts;
            for (qsizetype i = 0; i < columns.size(); ++i)
                casts << QStringLiteral("CAST(:P%1 AS %2)").arg(i).arg(types[i]);
            q = std::make_unique<Sql>(m_db, QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                .arg(table, columns.join(QStringLiteral(", ")),
                                                     casts.join(QStringLiteral(", "))));
        }
        while (m_placeholders.size() < values.size())
            m_placeholders << QStringLiteral(":P%1").arg(m_placeholders.size());
        for (qsizetype i = 0; i < values.size(); ++i)
            q->bind(m_placeholders.at(i), values[i]);
        q->exec();
    }

private:
    QSqlDatabase &m_db;
    std::map<QString, std::unique_ptr<Sql>> m_statements;
    QStringList m_placeholders;
};

const QString kDouble = QStringLiteral("DOUBLE PRECISION");

} // namespace

namespace Fixture {

void import(Database &database, const QByteArray &json, int passwordIterations)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw FixtureError(QStringLiteral("$"), QStringLiteral("JSON inválido na posição %1: %2")
                                                    .arg(error.offset)
                                                    .arg(error.errorString()));
    if (!doc.isObject())
        throw FixtureError(QStringLiteral("$"), QStringLiteral("deve ser um objeto"));
    const Node root(doc.object(), QString(),
                    {QStringLiteral("branches"), QStringLiteral("operators"), QStringLiteral("workItems"),
                     QStringLiteral("projects")});

    Transaction tx(database);
    QSqlDatabase &db = tx.db();
    // Whatever was cached or validated before the import is no longer the
    // whole story: new operators, items and projects, and new projects' data.
    DataVersions::bumpReference(db);
    Inserter insert(db);
    QSet<QString> branches, operators, items;

    const QJsonArray branchList = root.array(QStringLiteral("branches"));
    for (qsizetype i = 0; i < branchList.size(); ++i) {
        const Node n = element(branchList, i, QStringLiteral("branches"),
                               {QStringLiteral("CDFILIAL"), QStringLiteral("NMFILIAL")});
        const QString code = n.text(QStringLiteral("CDFILIAL"), Width::Filial, true).toString();
        const QVariant name = n.text(QStringLiteral("NMFILIAL"), Width::NmFilial, true);
        if (branches.contains(code)
            || exists(db, QStringLiteral("SELECT 1 FROM FILIAL WHERE CDFILIAL = ") + castText(QStringLiteral(":P0"), Width::Filial), {code}))
            throw FixtureError(n.at(QStringLiteral("CDFILIAL")), QStringLiteral("filial \"%1\" repetida").arg(code));
        branches.insert(code);
        insert(QStringLiteral("FILIAL"), {QStringLiteral("CDFILIAL"), QStringLiteral("NMFILIAL")}, {varchar(Width::Filial), varchar(Width::NmFilial)},
               {code, name});
    }

    const QJsonArray operatorList = root.array(QStringLiteral("operators"));
    for (qsizetype i = 0; i < operatorList.size(); ++i) {
        const Node n = element(operatorList, i, QStringLiteral("operators"),
                               {QStringLiteral("CDOPERADOR"), QStringLiteral("NMOPERADOR"), QStringLiteral("password")});
        const QString code = n.text(QStringLiteral("CDOPERADOR"), Width::Operador, true).toString();
        const QVariant name = n.text(QStringLiteral("NMOPERADOR"), Width::NmOperador, true);
        const QString password = n.text(QStringLiteral("password"), 200, true).toString();
        if (operators.contains(code)
            || exists(db, QStringLiteral("SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ") + castText(QStringLiteral(":P0"), Width::Operador), {code}))
            throw FixtureError(n.at(QStringLiteral("CDOPERADOR")), QStringLiteral("operador \"%1\" repetido").arg(code));
        operators.insert(code);
        insert(QStringLiteral("OPERADOR"),
               {QStringLiteral("CDOPERADOR"), QStringLiteral("NMOPERADOR"), QStringLiteral("DSSENHAHASH")},
               {varchar(Width::Operador), varchar(Width::NmOperador), varchar(200)}, {code, name, Passwords::hash(password, passwordIterations)});
    }

    const QJsonArray itemList = root.array(QStringLiteral("workItems"));
    for (qsizetype i = 0; i < itemList.size(); ++i) {
        const Node n = element(itemList, i, QStringLiteral("workItems"),
                               {QStringLiteral("CDITEMTRAB"), QStringLiteral("CDREDUITTRAB"), QStringLiteral("NMITEMTRAB")});
        const QString code = n.text(QStringLiteral("CDITEMTRAB"), Width::Item, true).toString();
        const QVariant shortCode = n.text(QStringLiteral("CDREDUITTRAB"), Width::ItemReduzido, true);
        const QVariant name = n.text(QStringLiteral("NMITEMTRAB"), Width::NmItem, true);
        if (items.contains(code)
            || exists(db, QStringLiteral("SELECT 1 FROM ITEMTRAB WHERE CDITEMTRAB = ") + castText(QStringLiteral(":P0"), Width::Item), {code}))
            throw FixtureError(n.at(QStringLiteral("CDITEMTRAB")),
                               QStringLiteral("item de trabalho \"%1\" repetido").arg(code));
        items.insert(code);
        insert(QStringLiteral("ITEMTRAB"),
               {QStringLiteral("CDITEMTRAB"), QStringLiteral("CDREDUITTRAB"), QStringLiteral("NMITEMTRAB")},
               {varchar(Width::Item), varchar(Width::ItemReduzido), varchar(Width::NmItem)}, {code, shortCode, name});
    }

    auto knownOperator = [&](const Node &n, const QString &key, const QString &code) {
        if (!operators.contains(code)
            && !exists(db, QStringLiteral("SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ") + castText(QStringLiteral(":P0"), Width::Operador), {code}))
            throw FixtureError(n.at(key), QStringLiteral("operador \"%1\" não cadastrado").arg(code));
    };

    const QJsonArray projectList = root.array(QStringLiteral("projects"));
    QSet<QString> projectKeys;
    for (qsizetype i = 0; i < projectList.size(); ++i) {
        const Node n = element(projectList, i, QStringLiteral("projects"),
                               {QStringLiteral("CDFILIAL"), QStringLiteral("CDPROJETO"), QStringLiteral("NMPROJETO"),
                                QStringLiteral("CDOPERESPRJ"), QStringLiteral("activities")});
        const QString filial = n.text(QStringLiteral("CDFILIAL"), Width::Filial, true).toString();
        const QString projeto = n.text(QStringLiteral("CDPROJETO"), Width::Projeto, true).toString();
        const QVariant name = n.text(QStringLiteral("NMPROJETO"), Width::NmProjeto, true);
        const QString responsible = n.text(QStringLiteral("CDOPERESPRJ"), Width::Operador, true).toString();
        if (!branches.contains(filial)
            && !exists(db, QStringLiteral("SELECT 1 FROM FILIAL WHERE CDFILIAL = ") + castText(QStringLiteral(":P0"), Width::Filial), {filial}))
            throw FixtureError(n.at(QStringLiteral("CDFILIAL")), QStringLiteral("filial \"%1\" não cadastrada").arg(filial));
        knownOperator(n, QStringLiteral("CDOPERESPRJ"), responsible);
        const QString projectKey = filial + QLatin1Char('\x1f') + projeto;
        if (projectKeys.contains(projectKey)
            || exists(db, QStringLiteral("SELECT 1 FROM PROJETO WHERE CDFILIAL = ")
                                    + castText(QStringLiteral(":P0"), Width::Filial) + QStringLiteral(" AND CDPROJETO = ")
                                    + castText(QStringLiteral(":P1"), Width::Projeto),
                      {filial, projeto}))
            throw FixtureError(n.at(QStringLiteral("CDPROJETO")),
                               QStringLiteral("projeto \"%1\" repetido na filial \"%2\"").arg(projeto, filial));
        projectKeys.insert(projectKey);
        DataVersions::bump(db, filial, projeto, DataVersions::Activities | DataVersions::Bookings);
        insert(QStringLiteral("PROJETO"),
               {QStringLiteral("CDFILIAL"), QStringLiteral("CDPROJETO"), QStringLiteral("NMPROJETO"),
                QStringLiteral("CDOPERESPRJ")},
               {varchar(Width::Filial), varchar(Width::Projeto), varchar(Width::NmProjeto), varchar(Width::Operador)}, {filial, projeto, name, responsible});

        const QString activitiesPath = n.at(QStringLiteral("activities"));
        const QJsonArray activityList = n.array(QStringLiteral("activities"));
        QSet<QString> scheduleKeys, taskKeys;
        for (qsizetype j = 0; j < activityList.size(); ++j) {
            const Node a = element(
                activityList, j, activitiesPath,
                {QStringLiteral("CDSEQCRONPRJ"), QStringLiteral("NRBASELINEPR"), QStringLiteral("CDVERCRONPRJ"),
                 QStringLiteral("CDITEMTRAB"), QStringLiteral("DESCRICAO"), QStringLiteral("CDOPERRESP"),
                 QStringLiteral("NRTAREFA"), QStringLiteral("NRPLATIVTARE"), QStringLiteral("QTTEMPLAITAR"),
                 QStringLiteral("DTINIITCRPRJ"), QStringLiteral("DTFINITCRPRJ"), QStringLiteral("DTINPATIVTAR"),
                 QStringLiteral("DTFIPATIVTAR"), QStringLiteral("CDFILAPRIO"), QStringLiteral("VRPERCCONCL"),
                 QStringLiteral("DTHRAPROVATIVTA"), QStringLiteral("DTINIULTATIV"), QStringLiteral("SITUACAO"),
                 QStringLiteral("bookings")});
            const QString seq = a.text(QStringLiteral("CDSEQCRONPRJ"), Width::Seq, true).toString();
            const QString baseline = a.text(QStringLiteral("NRBASELINEPR"), Width::Baseline, true).toString();
            const QString version = a.text(QStringLiteral("CDVERCRONPRJ"), Width::Versao, true).toString();
            const QString task = a.text(QStringLiteral("NRTAREFA"), Width::Tarefa, true).toString();
            const QString plativ = a.text(QStringLiteral("NRPLATIVTARE"), Width::PlAtiv, true).toString();
            const QVariant description = a.text(QStringLiteral("DESCRICAO"), Width::Descricao, true);
            const QString responsibleOp = a.text(QStringLiteral("CDOPERRESP"), Width::Operador, true).toString();
            const QString situation = a.text(QStringLiteral("SITUACAO"), Width::Situacao, true).toString();
            if (situation != QLatin1String("A") && situation != QLatin1String("C"))
                throw FixtureError(a.at(QStringLiteral("SITUACAO")), QStringLiteral("deve ser \"A\" ou \"C\""));
            knownOperator(a, QStringLiteral("CDOPERRESP"), responsibleOp);
            const QVariant item = a.text(QStringLiteral("CDITEMTRAB"), Width::Item, false);
            if (!item.isNull() && !items.contains(item.toString())
                && !exists(db, QStringLiteral("SELECT 1 FROM ITEMTRAB WHERE CDITEMTRAB = ") + castText(QStringLiteral(":P0"), Width::Item),
                           {item}))
                throw FixtureError(a.at(QStringLiteral("CDITEMTRAB")),
                                   QStringLiteral("item de trabalho \"%1\" não cadastrado").arg(item.toString()));
            const QString scheduleKey = baseline + QLatin1Char('\x1f') + version + QLatin1Char('\x1f') + seq;
            if (scheduleKeys.contains(scheduleKey))
                throw FixtureError(a.at(QStringLiteral("CDSEQCRONPRJ")),
                                   QStringLiteral("atividade repetida (NRBASELINEPR, CDVERCRONPRJ, CDSEQCRONPRJ)"));
            const QString taskKey = task + QLatin1Char('\x1f') + plativ;
            if (taskKeys.contains(taskKey))
                throw FixtureError(a.at(QStringLiteral("NRTAREFA")),
                                   QStringLiteral("atividade repetida (NRTAREFA, NRPLATIVTARE)"));
            scheduleKeys.insert(scheduleKey);
            taskKeys.insert(taskKey);

            const QVariantList values{
                filial, projeto, baseline, version, seq, item, description, responsibleOp, task, plativ,
                a.number(QStringLiteral("QTTEMPLAITAR"), 0, 100000),
                a.isoDateTime(QStringLiteral("DTINIITCRPRJ")), a.isoDateTime(QStringLiteral("DTFINITCRPRJ")),
                a.textDateTime(QStringLiteral("DTINPATIVTAR")), a.textDateTime(QStringLiteral("DTFIPATIVTAR")),
                a.text(QStringLiteral("CDFILAPRIO"), Width::FilaPrio, false), a.number(QStringLiteral("VRPERCCONCL"), 0, 100),
                a.isoDateTime(QStringLiteral("DTHRAPROVATIVTA")), a.isoDateTime(QStringLiteral("DTINIULTATIV")),
                situation};
            insert(QStringLiteral("ATIVIDADE"),
                   {QStringLiteral("CDFILIAL"), QStringLiteral("CDPROJETO"), QStringLiteral("NRBASELINEPR"),
                    QStringLiteral("CDVERCRONPRJ"), QStringLiteral("CDSEQCRONPRJ"), QStringLiteral("CDITEMTRAB"),
                    QStringLiteral("DESCRICAO"), QStringLiteral("CDOPERRESP"), QStringLiteral("NRTAREFA"),
                    QStringLiteral("NRPLATIVTARE"), QStringLiteral("QTTEMPLAITAR"), QStringLiteral("DTINIITCRPRJ"),
                    QStringLiteral("DTFINITCRPRJ"), QStringLiteral("DTINPATIVTAR"), QStringLiteral("DTFIPATIVTAR"),
                    QStringLiteral("CDFILAPRIO"), QStringLiteral("VRPERCCONCL"), QStringLiteral("DTHRAPROVATIVTA"),
                    QStringLiteral("DTINIULTATIV"), QStringLiteral("SITUACAO")},
                   {varchar(Width::Filial), varchar(Width::Projeto), varchar(Width::Baseline), varchar(Width::Versao), varchar(Width::Seq), varchar(Width::Item), varchar(Width::Descricao), varchar(Width::Operador), varchar(Width::Tarefa), varchar(Width::PlAtiv), kDouble, varchar(Width::DateTime),
                    varchar(Width::DateTime), varchar(Width::DateTime), varchar(Width::DateTime), varchar(Width::FilaPrio), kDouble, varchar(Width::DateTime), varchar(Width::DateTime), varchar(Width::Situacao)},
                   values);

            const QString bookingsPath = a.at(QStringLiteral("bookings"));
            const QJsonArray bookingList = a.array(QStringLiteral("bookings"));
            for (qsizetype k = 0; k < bookingList.size(); ++k) {
                const Node b = element(bookingList, k, bookingsPath,
                                       {QStringLiteral("DTHRINIAPROCSA"), QStringLiteral("DTHRFIMAPROCSA"),
                                        QStringLiteral("VRPERCCONCL"), QStringLiteral("INCLUSAO"),
                                        QStringLiteral("DSOBSAPROATVCSA")});
                const QVariant start = b.textDateTime(QStringLiteral("DTHRINIAPROCSA"));
                const QVariant end = b.textDateTime(QStringLiteral("DTHRFIMAPROCSA"));
                if (!start.isNull() && !end.isNull()
                    && *DateTimeText::screenSeconds(end.toString()) < *DateTimeText::screenSeconds(start.toString()))
                    throw FixtureError(b.at(QStringLiteral("DTHRFIMAPROCSA")),
                                       QStringLiteral("o fim não pode ser anterior ao início"));
                insert(QStringLiteral("APROPRIACAO"),
                       {QStringLiteral("CDFILIAL"), QStringLiteral("CDPROJETO"), QStringLiteral("NRBASELINEPR"),
                        QStringLiteral("CDVERCRONPRJ"), QStringLiteral("CDSEQCRONPRJ"), QStringLiteral("NRSEQAPROCSA"),
                        QStringLiteral("DTHRINIAPROCSA"), QStringLiteral("DTHRFIMAPROCSA"), QStringLiteral("VRPERCCONCL"),
                        QStringLiteral("INCLUSAO"), QStringLiteral("DSOBSAPROATVCSA")},
                       {varchar(Width::Filial), varchar(Width::Projeto), varchar(Width::Baseline), varchar(Width::Versao), varchar(Width::Seq), QStringLiteral("INTEGER"), varchar(Width::DateTime), varchar(Width::DateTime), kDouble, varchar(Width::Inclusao),
                        varchar(Width::Observacao)},
                       {filial, projeto, baseline, version, seq, int(k + 1), start, end,
                        b.number(QStringLiteral("VRPERCCONCL"), 0, 100), b.text(QStringLiteral("INCLUSAO"), Width::Inclusao, false),
                        b.text(QStringLiteral("DSOBSAPROATVCSA"), Width::Observacao, false)});
            }
        }
    }
    tx.commit();
    // Fresh statistics: PostgreSQL would otherwise plan the next reads for
    // empty tables (a nested loop over every booking) until autovacuum comes by.
    database.analyze();
}

bool loadDemoIfEmpty(Database &db)
{
    if (!db.isEmpty())
        return false;
    import(db, demoJson());
    return true;
}

} // namespace Fixture
