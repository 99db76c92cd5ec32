// Fixture import: refusals name the JSON path and write nothing; the demo
// data fills only an empty database.
#include "Harness.h"

namespace {

// A valid base fixture; each refusal case patches one spot of it.
QJsonObject base()
{
    return QJsonDocument::fromJson(R"({
 "branches":[{"CDFILIAL":"0001","NMFILIAL":"Matriz"}],
 "operators":[{"CDOPERADOR":"ANA","NMOPERADOR":"Ana","password":"a"},{"CDOPERADOR":"BIA","NMOPERADOR":"Bia","password":"b"}],
 "workItems":[{"CDITEMTRAB":"IT01","CDREDUITTRAB":"ANALISE","NMITEMTRAB":"Análise"}],
 "projects":[{"CDFILIAL":"0001","CDPROJETO":"0000000001","NMPROJETO":"Portal","CDOPERESPRJ":"ANA","activities":[
   {"CDSEQCRONPRJ":"00001","NRBASELINEPR":"001","CDVERCRONPRJ":"001","CDITEMTRAB":"IT01","DESCRICAO":"Um",
    "CDOPERRESP":"BIA","NRTAREFA":"T1","NRPLATIVTARE":"1","QTTEMPLAITAR":1.5,"DTINIITCRPRJ":"2026-01-05T08:00:00",
    "DTINPATIVTAR":"05/01/2026 08:00:00","VRPERCCONCL":40,"SITUACAO":"A",
    "bookings":[{"DTHRINIAPROCSA":"05/01/2026 08:00:00","DTHRFIMAPROCSA":"05/01/2026 12:00:00","VRPERCCONCL":20}]},
   {"CDSEQCRONPRJ":"00002","NRBASELINEPR":"001","CDVERCRONPRJ":"001","DESCRICAO":"Dois",
    "CDOPERRESP":"ANA","NRTAREFA":"T1","NRPLATIVTARE":"2","SITUACAO":"C"}]}]})").object();
}

// Sets a value at a path like "projects.0.activities.1.NRTAREFA" (null removes a key).
QJsonValue patched(const QJsonValue &node, QStringList path, const QJsonValue &value)
{
    const QString head = path.takeFirst();
    if (node.isArray()) {
        QJsonArray a = node.toArray();
        const int i = head.toInt();
        a[i] = path.isEmpty() ? value : patched(a[i], path, value);
        return a;
    }
    QJsonObject o = node.toObject();
    if (path.isEmpty()) {
        if (value.isUndefined())
            o.remove(head);
        else
            o[head] = value;
    } else {
        o[head] = patched(o[head], path, value);
    }
    return o;
}

const QJsonValue kRemove(QJsonValue::Undefined);

} // namespace

class TestFixture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { VOR_REQUIRE_TEST_BACKEND(); }
    void accepted();
    void refused_data();
    void refused();
    void refusedAgainstExistingData();
    void demoOnlyIntoEmptyDatabase();
};

void TestFixture::accepted()
{
    Harness h(QJsonDocument(base()).toJson());
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM ATIVIDADE"), 2);
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM APROPRIACAO"), 1);
    const QByteArray t = h.login("BIA", "b");
    QVERIFY(!t.isEmpty());
    const QJsonObject r = h.call(t, "getConcAtivPro", {"0001", "0000000001"});
    QCOMPARE(Harness::rows(r).size(), 2);
    QCOMPARE(Harness::rows(r).first().toArray().at(20).toString(), QStringLiteral("4:00"));
}

void TestFixture::refused_data()
{
    QTest::addColumn<QString>("at");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("path");
    const QString a0 = "projects.0.activities.0.", a1 = "projects.0.activities.1.";
    QTest::newRow("unknown top key") << "bogus" << QJsonValue(1) << "bogus";
    QTest::newRow("branches not a list") << "branches" << QJsonValue("x") << "branches";
    QTest::newRow("branch without name") << "branches.0.NMFILIAL" << kRemove << "branches[0].NMFILIAL";
    QTest::newRow("branch code too wide") << "branches.0.CDFILIAL" << QJsonValue("00001") << "branches[0].CDFILIAL";
    QTest::newRow("repeated operator") << "operators.1.CDOPERADOR" << QJsonValue("ANA") << "operators[1].CDOPERADOR";
    QTest::newRow("operator without password") << "operators.0.password" << kRemove << "operators[0].password";
    QTest::newRow("work item not an object") << "workItems.0" << QJsonValue("IT01") << "workItems[0]";
    QTest::newRow("unknown branch") << "projects.0.CDFILIAL" << QJsonValue("0009") << "projects[0].CDFILIAL";
    QTest::newRow("unknown responsible") << "projects.0.CDOPERESPRJ" << QJsonValue("ZE") << "projects[0].CDOPERESPRJ";
    QTest::newRow("project without name") << "projects.0.NMPROJETO" << QJsonValue() << "projects[0].NMPROJETO";
    QTest::newRow("unknown activity key") << a0 + "DESCRICAOX" << QJsonValue("x") << "projects[0].activities[0].DESCRICAOX";
    QTest::newRow("unknown operator") << a0 + "CDOPERRESP" << QJsonValue("ZE") << "projects[0].activities[0].CDOPERRESP";
    QTest::newRow("unknown work item") << a1 + "CDITEMTRAB" << QJsonValue("IT99") << "projects[0].activities[1].CDITEMTRAB";
    QTest::newRow("repeated schedule key") << a1 + "CDSEQCRONPRJ" << QJsonValue("00001") << "projects[0].activities[1].CDSEQCRONPRJ";
    QTest::newRow("repeated task key") << a1 + "NRPLATIVTARE" << QJsonValue("1") << "projects[0].activities[1].NRTAREFA";
    QTest::newRow("missing task") << a1 + "NRTAREFA" << kRemove << "projects[0].activities[1].NRTAREFA";
    QTest::newRow("bad situation") << a1 + "SITUACAO" << QJsonValue("X") << "projects[0].activities[1].SITUACAO";
    QTest::newRow("hours as text") << a0 + "QTTEMPLAITAR" << QJsonValue("1,5") << "projects[0].activities[0].QTTEMPLAITAR";
    QTest::newRow("percentage over 100") << a0 + "VRPERCCONCL" << QJsonValue(101) << "projects[0].activities[0].VRPERCCONCL";
    QTest::newRow("plan date format") << a0 + "DTINIITCRPRJ" << QJsonValue("05/01/2026 08:00:00") << "projects[0].activities[0].DTINIITCRPRJ";
    QTest::newRow("real date format") << a0 + "DTINPATIVTAR" << QJsonValue("2026-01-05T08:00:00") << "projects[0].activities[0].DTINPATIVTAR";
    QTest::newRow("description too long") << a0 + "DESCRICAO" << QJsonValue(QString(101, 'd')) << "projects[0].activities[0].DESCRICAO";
    QTest::newRow("booking date") << a0 + "bookings.0.DTHRINIAPROCSA" << QJsonValue("5/1/2026 8:00")
                                  << "projects[0].activities[0].bookings[0].DTHRINIAPROCSA";
    QTest::newRow("booking ends before start") << a0 + "bookings.0.DTHRFIMAPROCSA" << QJsonValue("04/01/2026 12:00:00")
                                               << "projects[0].activities[0].bookings[0].DTHRFIMAPROCSA";
}

void TestFixture::refused()
{
    QFETCH(QString, at);
    QFETCH(QJsonValue, value);
    QFETCH(QString, path);
    Harness h(QByteArray{});
    const QJsonObject fixture = patched(base(), at.split('.'), value).toObject();
    try {
        Fixture::import(*h.db, QJsonDocument(fixture).toJson(), Harness::kFastHash);
        QFAIL("accepted");
    } catch (const FixtureError &e) {
        QCOMPARE(e.path(), path);
        QVERIFY(e.text().startsWith(path + ": "));
    }
    QVERIFY(h.db->isEmpty());
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM ATIVIDADE"), 0);
}

void TestFixture::refusedAgainstExistingData()
{
    Harness h(QJsonDocument(base()).toJson());
    // The same branch again is refused, and the new operator of that file is not kept.
    const QByteArray again = R"({"operators":[{"CDOPERADOR":"CAIO","NMOPERADOR":"Caio","password":"c"}],
                                 "branches":[{"CDFILIAL":"0001","NMFILIAL":"Outra"}]})";
    try {
        Fixture::import(*h.db, again, Harness::kFastHash);
        QFAIL("accepted");
    } catch (const FixtureError &e) {
        QCOMPARE(e.path(), QStringLiteral("branches[0].CDFILIAL"));
    }
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM OPERADOR"), 2);
    // A later file may refer to what is stored.
    Fixture::import(*h.db, R"({"projects":[{"CDFILIAL":"0001","CDPROJETO":"2","NMPROJETO":"Dois","CDOPERESPRJ":"BIA"}]})",
                    Harness::kFastHash);
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM PROJETO"), 2);
    try {
        Fixture::import(*h.db, "{\"branches\":[", Harness::kFastHash);
        QFAIL("accepted");
    } catch (const FixtureError &e) {
        QCOMPARE(e.path(), QStringLiteral("$"));
    }
}

void TestFixture::demoOnlyIntoEmptyDatabase()
{
    Harness empty(QByteArray{});
    QVERIFY(Fixture::loadDemoIfEmpty(*empty.db));
    QCOMPARE(empty.scalar("SELECT COUNT(*) FROM FILIAL"), 3);
    QCOMPARE(empty.scalar("SELECT COUNT(*) FROM PROJETO WHERE CDFILIAL = '0003'"), 0);
    QVERIFY(!Fixture::loadDemoIfEmpty(*empty.db));
    QCOMPARE(empty.scalar("SELECT COUNT(*) FROM FILIAL"), 3);

    Harness other(QJsonDocument(base()).toJson());
    QVERIFY(!Fixture::loadDemoIfEmpty(*other.db));
    QCOMPARE(other.scalar("SELECT COUNT(*) FROM FILIAL"), 1);
}

QTEST_GUILESS_MAIN(TestFixture)
#include "tst_appserver_fixture.moc"
