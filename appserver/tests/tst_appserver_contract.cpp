// The contract itself, and every method's payload against it.
#include "Harness.h"

#include <QRegularExpression>

class TestContract : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { VOR_REQUIRE_TEST_BACKEND(); }
    void datasets_data();
    void datasets();
    void methods();
    void sizesAreTheStoredWidths();
    void payloadsFollowContract_data();
    void payloadsFollowContract();
};

void TestContract::datasets_data()
{
    QTest::addColumn<QString>("dataset");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("spotField");
    QTest::addColumn<QString>("spotType");
    QTest::addColumn<int>("spotSize");
    QTest::newRow("activities") << "cdsConcAtivProj" << 23 << "STAPROVACAO" << "fixedstring" << 1;
    QTest::newRow("bookings") << "cdsApropriaCSA" << 5 << "DSOBSAPROATVCSA" << "string" << 4000;
    QTest::newRow("project bookings") << "cdsCSAAux" << 7 << "NRTAREFA" << "string" << 10;
    QTest::newRow("planning") << "cdsPlanProj" << 3 << "NRHORASPLAN" << "string" << 9;
    QTest::newRow("booked") << "cdsPlanCSA" << 2 << "NRHORASAPROPRIA" << "string" << 8;
    QTest::newRow("projects") << "cdsProjeto" << 3 << "CDOPERESPRJ" << "string" << 12;
    QTest::newRow("operators") << "cdsOperador" << 3 << "IDMARCADO" << "fixedstring" << 1;
    QTest::newRow("work items") << "cdsFiltroItemTrab" << 4 << "CDREDUITTRAB" << "string" << 20;
}

void TestContract::datasets()
{
    QFETCH(QString, dataset);
    QFETCH(int, count);
    QFETCH(QString, spotField);
    QFETCH(QString, spotType);
    QFETCH(int, spotSize);
    const QList<ContractField> &fields = contractFields(dataset);
    QCOMPARE(fields.size(), count);
    const int i = contractFieldIndex(dataset, spotField);
    QVERIFY(i >= 0);
    QCOMPARE(fields[i].type, spotType);
    QCOMPARE(fields[i].size, spotSize);
    for (const ContractField &f : fields) {
        const bool sized = f.type == QLatin1String("string") || f.type == QLatin1String("fixedstring");
        QVERIFY2(sized ? f.size > 0 : f.size == 0, qPrintable(f.name));
    }
    QVERIFY(contractFields(u"nope").isEmpty());
}

void TestContract::methods()
{
    QCOMPARE(contractModuleName(), QStringLiteral("VOR01300.rdmConcAtivProje"));
    QCOMPARE(contractMethods().size(), 10);
    QCOMPARE(contractFields(u"cdsConcAtivProj").first().name, QStringLiteral("IDCHECK"));
    QCOMPARE(contractFields(u"cdsConcAtivProj").last().name, QStringLiteral("SITUACAO"));
    const MethodInfo *filter = findMethod(u"getFiltroConcAtiv");
    QVERIFY(filter);
    QCOMPARE(filter->argCount, 8);
    QCOMPARE(filter->byRef, (QList<bool>{false, false, true, true, true, true, true, true}));
    for (const MethodInfo &m : contractMethods()) {
        QCOMPARE(m.byRef.size(), m.argCount);
        QCOMPARE(m.argKinds.size(), m.argCount);
        if (m.name != filter->name)
            QCOMPARE(m.byRefCount(), 0);
        for (const QString &ds : m.payloadDatasets)
            QVERIFY2(!contractFields(ds).isEmpty(), qPrintable(ds));
        // The server's reads are the methods that answer a payload.
        QVERIFY2(Service::isRead(m.name) == (m.payloadKind != ContractPayloadKind::None), qPrintable(m.name));
    }
    QVERIFY(!Service::isRead(QStringLiteral("getconcativpro")));
    QCOMPARE(findMethod(u"setAprovaAtividades")->argKinds, QList<ContractArgKind>{ContractArgKind::Packet});
    QCOMPARE(findMethod(u"SetAtualizaConcCSA")->argCount, 6);
    QCOMPARE(findMethod(u"getPlanProj")->payloadDatasets, (QStringList{"cdsPlanProj", "cdsPlanCSA"}));
    QVERIFY(!findMethod(u"getconcativpro"));
}

// A field that carries a stored column is exactly as wide as the column, in
// every table that has it: a value the screen accepts is one the database keeps.
void TestContract::sizesAreTheStoredWidths()
{
    Harness h;
    QHash<QString, QList<int>> widths; // column name -> its declared width in each table
    Sql q(h.db->connection(),
          TestBackend::postgres()
              ? QStringLiteral("SELECT UPPER(column_name), character_maximum_length FROM information_schema.columns"
                               " WHERE table_schema = current_schema() AND character_maximum_length IS NOT NULL")
              : QStringLiteral("SELECT c.name, c.type FROM sqlite_master t JOIN pragma_table_info(t.name) c"
                               " WHERE t.type = 'table' AND c.type LIKE 'VARCHAR(%'"));
    q.exec();
    static const QRegularExpression digits(QStringLiteral("(\\d+)"));
    while (q.next())
        widths[q.text(0)] << digits.match(q.text(1)).captured(1).toInt();
    QVERIFY2(widths.value(QStringLiteral("CDFILIAL")).size() >= 4, "the schema was not read");

    int checked = 0;
    for (const QString &dataset : contractDatasets()) {
        for (const ContractField &f : contractFields(dataset)) {
            if (f.size == 0 || !widths.contains(f.name))
                continue; // a float or date-time, or a value the server makes
            for (int width : widths.value(f.name))
                QVERIFY2(width == f.size, qPrintable(QStringLiteral("%1.%2: %3 in the schema, %4 in the contract")
                                                         .arg(dataset, f.name).arg(width).arg(f.size)));
            ++checked;
        }
    }
    QVERIFY(checked >= 20);
}

void TestContract::payloadsFollowContract_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonArray>("params");
    const QString f = "0001", p = "0000000001";
    QTest::newRow("getConcAtivPro") << "getConcAtivPro" << QJsonArray{f, p};
    QTest::newRow("getApropriaCSA") << "getApropriaCSA" << QJsonArray{f, p, "1", "1"};
    QTest::newRow("getCSAAux") << "getCSAAux" << QJsonArray{f, p};
    QTest::newRow("getPlanProj") << "getPlanProj" << QJsonArray{f, p};
    QTest::newRow("getProjeto") << "getProjeto" << QJsonArray{f, "", "T"};
    QTest::newRow("getFiltroOper") << "getFiltroOper" << QJsonArray{f, p, "", "T"};
    QTest::newRow("getFiltroItemTrab") << "getFiltroItemTrab" << QJsonArray{f, p, "", "T"};
    QTest::newRow("getFiltroConcAtiv") << "getFiltroConcAtiv" << QJsonArray{f, p, "", "T", "", "T", "_A_C", "_A_N"};
    QTest::newRow("SetAtualizaConcCSA") << "SetAtualizaConcCSA" << QJsonArray{f, p, "001", "001", "00004", "55,5"};
}

void TestContract::payloadsFollowContract()
{
    QFETCH(QString, method);
    QFETCH(QJsonArray, params);
    Harness h;
    const QByteArray token = h.login("ANA", "ana123");
    const QJsonObject reply = h.call(token, method, params);
    QVERIFY2(reply.contains("result"), QJsonDocument(reply).toJson());
    const MethodInfo *info = findMethod(method);
    const QJsonValue payload = Harness::payload(reply);

    QJsonArray packets;
    switch (info->payloadKind) {
    case ContractPayloadKind::None:
        QVERIFY(payload.isNull());
        return;
    case ContractPayloadKind::Packet:
        packets.append(payload);
        break;
    case ContractPayloadKind::PacketPair:
        QVERIFY(payload.isArray());
        packets = payload.toArray();
        break;
    }
    QCOMPARE(packets.size(), info->payloadDatasets.size());
    for (qsizetype k = 0; k < packets.size(); ++k) {
        const QJsonObject packet = packets.at(k).toObject();
        const QList<ContractField> &expected = contractFields(info->payloadDatasets.at(k));
        const QJsonArray fields = packet.value("fields").toArray();
        QCOMPARE(fields.size(), expected.size());
        for (qsizetype i = 0; i < fields.size(); ++i) {
            const QJsonObject fo = fields.at(i).toObject();
            const ContractField got{fo.value("name").toString(), fo.value("type").toString(), fo.value("size").toInt()};
            QCOMPARE(got, expected.at(i));
        }
        const QJsonArray rows = packet.value("rows").toArray();
        QVERIFY2(!rows.isEmpty(), "the demo data should give rows here");
        for (const QJsonValue &rowValue : rows) {
            const QJsonArray row = rowValue.toArray();
            QCOMPARE(row.size(), expected.size());
            for (qsizetype i = 0; i < row.size(); ++i) {
                const QJsonValue v = row.at(i);
                const ContractField &cf = expected.at(i);
                if (v.isNull())
                    continue;
                if (cf.type == QLatin1String("float")) {
                    QVERIFY2(v.isDouble(), qPrintable(cf.name));
                } else if (cf.type == QLatin1String("datetime")) {
                    QVERIFY2(QDateTime::fromString(v.toString(), Qt::ISODate).isValid(), qPrintable(cf.name));
                } else {
                    QVERIFY2(v.isString(), qPrintable(cf.name));
                    QVERIFY2(v.toString().size() <= cf.size, qPrintable(cf.name));
                }
            }
        }
    }
    if (info->byRefCount() > 0) {
        const QJsonArray byref = reply.value("result").toObject().value("byref").toArray();
        QCOMPARE(byref.size(), info->byRefCount());
    }
}

QTEST_GUILESS_MAIN(TestContract)
#include "tst_appserver_contract.moc"
