// What the methods return and record: the activity list, the summary,
// approval and percentage rules with their refusals, the filters.
#include "Harness.h"

#include <atomic>
#include <thread>
#include "Service.h"

namespace {

// A fixture with quotes in codes, for the filter lists.
const QByteArray kQuotes = R"({
 "branches":[{"CDFILIAL":"0001","NMFILIAL":"Matriz"}],
 "operators":[{"CDOPERADOR":"O'NEIL","NMOPERADOR":"Ana O'Neil","password":"x1"},
              {"CDOPERADOR":"ZE","NMOPERADOR":"José","password":"x2"}],
 "workItems":[{"CDITEMTRAB":"IT'1","CDREDUITTRAB":"AS'PAS","NMITEMTRAB":"Com aspas"},
              {"CDITEMTRAB":"IT2","CDREDUITTRAB":"SEM","NMITEMTRAB":"Sem aspas"}],
 "projects":[{"CDFILIAL":"0001","CDPROJETO":"P'1","NMPROJETO":"Aspas","CDOPERESPRJ":"O'NEIL","activities":[
   {"CDSEQCRONPRJ":"00001","NRBASELINEPR":"001","CDVERCRONPRJ":"001","CDITEMTRAB":"IT'1","DESCRICAO":"a",
    "CDOPERRESP":"O'NEIL","NRTAREFA":"1","NRPLATIVTARE":"1","SITUACAO":"A"},
   {"CDSEQCRONPRJ":"00002","NRBASELINEPR":"001","CDVERCRONPRJ":"001","CDITEMTRAB":"IT2","DESCRICAO":"b",
    "CDOPERRESP":"ZE","NRTAREFA":"1","NRPLATIVTARE":"2","SITUACAO":"C"}]}]})";

QJsonObject changeLog(const QJsonObject &listPacket, const QList<QPair<QString, QString>> &marks)
{
    return Harness::changeLog(listPacket, marks);
}

QStringList column(const QJsonObject &reply, const QString &name)
{
    const QJsonObject packet = Harness::payload(reply).toObject();
    QStringList out;
    for (const QJsonValue &row : packet.value("rows").toArray())
        out << Harness::field(packet, row.toArray(), name).toVariant().toString();
    return out;
}

} // namespace

class TestRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { VOR_REQUIRE_TEST_BACKEND(); }
    void helpers();
    void activityList();
    void bookingsAndLookups();
    void planningSummary();
    void approval();
    void approvalRefusals_data();
    void approvalRefusals();
    void percentage_data();
    void percentage();
    void percentageRefusals();
    void filters_data();
    void filters();
    void filterListsWithQuotes();
    void databaseFailuresWriteNothing();
    void concurrentPercentChangesAuditedInOrder();
};

void TestRules::helpers()
{
    QCOMPARE(Service::hoursText(5400, 8), QStringLiteral("1:30"));
    QCOMPARE(Service::hoursText(0, 8), QStringLiteral("0:00"));
    QCOMPARE(Service::hoursText(36, 8), QStringLiteral("0:01"));
    QCOMPARE(Service::hoursText(qint64(196.5 * 3600), 9), QStringLiteral("196:30"));
    QCOMPARE(Service::hoursText(qint64(1e12), 8), QStringLiteral("99999:59"));
    QCOMPARE(Service::bookingSeconds("05/01/2026 08:00:00", "05/01/2026 12:15:00"), 4 * 3600 + 900);
    QCOMPARE(Service::bookingSeconds("05/01/2026 23:00:00", "06/01/2026 01:00:00"), 2 * 3600);
    QCOMPARE(Service::bookingSeconds("05/01/2026 08:00:00", QByteArray()), 0);
    QCOMPARE(Service::bookingSeconds("05/01/2026 08:00:00", "04/01/2026 08:00:00"), 0);

    QStringList v;
    QVERIFY(Service::parseQuotedList("'A','B'", &v));
    QCOMPARE(v, (QStringList{"A", "B"}));
    QVERIFY(Service::parseQuotedList("'O''NEIL'", &v));
    QCOMPARE(v, QStringList{"O'NEIL"});
    QVERIFY(Service::parseQuotedList("''", &v));
    QCOMPARE(v, QStringList{""});
    for (const char *bad : {"", "A", "'A", "'A'B'", "'A',", ",'A'", "'A' ,'B'", "'A''", "'A',,'B'"})
        QVERIFY2(!Service::parseQuotedList(QString::fromLatin1(bad), &v), bad);
}

void TestRules::activityList()
{
    Harness h;
    const QByteArray t = h.login("BIA", "bia123");
    const QJsonObject reply = h.call(t, "getConcAtivPro", {"0001", "0000000001"});
    QCOMPARE(column(reply, "CDSEQCRONPRJ"),
             (QStringList{"00001", "00002", "00003", "00004", "00005", "00006", "00007", "00008", "00009", "00010",
                          "00011", "00012"}));
    QCOMPARE(column(reply, "IDCHECK"), QStringList(12, "N"));
    QCOMPARE(column(reply, "STAPROVACAO"),
             (QStringList{"A", "A", "N", "N", "A", "N", "N", "N", "N", "A", "N", "N"}));
    QCOMPARE(column(reply, "APROPRIA"),
             (QStringList{"17:00", "9:00", "22:00", "3:15", "4:30", "25:45", "4:00", "0:00", "0:00", "2:20", "0:00", "0:00"}));
    QCOMPARE(column(reply, "NMOPERADOR").first(), QStringLiteral("Beatriz Alves"));
    QCOMPARE(column(reply, "VRPERCCONCL").at(4), QStringLiteral("37.5"));
    QCOMPARE(column(reply, "DTINPATIVTAR").at(7), QString()); // null
    QCOMPARE(column(reply, "DTHRAPROVATIVTA").first(), QStringLiteral("2026-01-08T17:30:00"));

    for (const QJsonArray &unknown : {QJsonArray{"0001", "0000000099"}, QJsonArray{"9999", "0000000001"},
                                      QJsonArray{"", ""}, QJsonArray{"0002", "0000000001"}}) {
        const QJsonObject r = h.call(t, "getConcAtivPro", unknown);
        QCOMPARE(Harness::rows(r).size(), 0);
        QCOMPARE(Harness::payload(r).toObject().value("fields").toArray().size(), 23);
    }
}

void TestRules::bookingsAndLookups()
{
    Harness h;
    const QByteArray t = h.login("CAIO", "caio123");
    QCOMPARE(column(h.call(t, "getApropriaCSA", {"0001", "0000000001", "3", "2"}), "DTHRINIAPROCSA"),
             (QStringList{"22/01/2026 08:00:00", "26/01/2026 08:00:00", "28/01/2026 08:00:00"}));
    QCOMPARE(Harness::rows(h.call(t, "getApropriaCSA", {"0001", "0000000001", "3", "4"})).size(), 0);
    QCOMPARE(Harness::rows(h.call(t, "getApropriaCSA", {"", "", "", ""})).size(), 0);
    const QJsonObject aux = h.call(t, "getCSAAux", {"0001", "0000000001"});
    QCOMPARE(Harness::rows(aux).size(), 17);
    QCOMPARE(column(aux, "NRTAREFA").first(), QStringLiteral("1"));

    QCOMPARE(column(h.call(t, "getProjeto", {"0001", "", "T"}), "CDPROJETO"), (QStringList{"0000000001", "0000000002"}));
    QCOMPARE(column(h.call(t, "getProjeto", {"0001", "0000000002", ""}), "CDOPERESPRJ"), QStringList{"ANA"});
    QCOMPARE(column(h.call(t, "getProjeto", {"0002", "", "T"}), "CDOPERESPRJ"), QStringList{"BIA"});
    QCOMPARE(Harness::rows(h.call(t, "getProjeto", {"0003", "", "T"})).size(), 0);
    QCOMPARE(Harness::rows(h.call(t, "getProjeto", {"0002", "0000000001", ""})).size(), 0);
    QCOMPARE(Harness::rows(h.call(t, "getProjeto", {"0001", "", ""})).size(), 0);

    const QJsonObject ops = h.call(t, "getFiltroOper", {"0001", "0000000001", "", "T"});
    QCOMPARE(column(ops, "CDOPERRESP"), (QStringList{"ANA", "BIA", "CAIO"}));
    QCOMPARE(column(ops, "IDMARCADO"), (QStringList{"N", "N", "N"}));
    QCOMPARE(column(h.call(t, "getFiltroOper", {"0001", "0000000001", "BIA", ""}), "NMOPERADOR"),
             QStringList{"Beatriz Alves"});
    const QJsonObject items = h.call(t, "getFiltroItemTrab", {"0001", "0000000002", "", "T"});
    QCOMPARE(column(items, "CDITEMTRAB"), (QStringList{"IT01", "IT03", "IT05", "IT04"}));
    QCOMPARE(column(items, "CDREDUITTRAB"), (QStringList{"ANALISE", "DESENV", "IMPLANT", "TESTE"}));
}

void TestRules::planningSummary()
{
    Harness h;
    const QByteArray t = h.login("ANA", "ana123");
    const QJsonArray pair = Harness::payload(h.call(t, "getPlanProj", {"0001", "0000000001"})).toArray();
    QCOMPARE(pair.size(), 2);
    const QJsonArray plan = pair[0].toObject().value("rows").toArray().first().toArray();
    const QJsonArray booked = pair[1].toObject().value("rows").toArray().first().toArray();
    // Weighted by planned hours: (16*100 + 8*100 + 24*100 + 6.5*50 + 12*37.5 + 40*62.5 + 32*12.5 + 10*20.5) / 196.5
    const double mean = (1600 + 800 + 2400 + 325 + 450 + 2500 + 400 + 205) / 196.5;
    QCOMPARE(plan[0].toDouble(), mean);
    QCOMPARE(plan[1].toString(), QStringLiteral("196:30"));
    QCOMPARE(plan[2].toDouble(), 196.5);
    QCOMPARE(booked[0].toString(), QStringLiteral("87:50"));
    QCOMPARE(booked[1].toDouble(), 87.0 + 50.0 / 60.0);

    for (const QJsonArray &unknown : {QJsonArray{"0001", "0000000099"}, QJsonArray{"", ""}}) {
        const QJsonArray empty = Harness::payload(h.call(t, "getPlanProj", unknown)).toArray();
        QCOMPARE(empty.size(), 2);
        QVERIFY(empty[0].toObject().value("rows").toArray().isEmpty());
        QVERIFY(empty[1].toObject().value("rows").toArray().isEmpty());
        QCOMPARE(empty[1].toObject().value("fields").toArray().size(), 2);
    }
}

void TestRules::approval()
{
    Harness h;
    const QByteArray ana = h.login("ANA", "ana123");
    const QJsonObject list = Harness::payload(h.call(ana, "getConcAtivPro", {"0001", "0000000001"})).toObject();
    // 00003 and 00006 marked; 00004 marked and cleared again; 00002 re-approved.
    const QJsonObject log = changeLog(list, {{"00003", "S"}, {"00004", "N"}, {"00006", "S"}, {"00002", "S"}});
    const QJsonObject reply = h.call(ana, "setAprovaAtividades", {log});
    QVERIFY2(reply.contains("result"), QJsonDocument(reply).toJson());
    QVERIFY(Harness::payload(reply).isNull());

    const QJsonObject after = h.call(ana, "getConcAtivPro", {"0001", "0000000001"});
    QCOMPARE(column(after, "STAPROVACAO"), (QStringList{"A", "A", "A", "N", "A", "A", "N", "N", "N", "A", "N", "N"}));
    const QStringList dates = column(after, "DTHRAPROVATIVTA");
    QCOMPARE(dates[1], QStringLiteral("2026-05-04T10:30:00"));
    QCOMPARE(dates[2], QStringLiteral("2026-05-04T10:30:00"));
    QCOMPARE(dates[5], QStringLiteral("2026-05-04T10:30:00"));
    QCOMPARE(dates[0], QStringLiteral("2026-01-08T17:30:00"));
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM AUDITORIA WHERE DSEVENTO = 'APROVACAO' AND CDOPERADOR = 'ANA'"), 3);

    // One row twice, the second time without its former row (read as keys
    // unchanged): approved once.
    QJsonObject twice = changeLog(list, {{"00007", "S"}, {"00007", "S"}});
    QJsonArray changes = twice.value("changes").toArray();
    QJsonObject second = changes[1].toObject();
    second.remove("before");
    changes[1] = second;
    twice["changes"] = changes;
    QVERIFY(h.call(ana, "setAprovaAtividades", {twice}).contains("result"));
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM AUDITORIA WHERE CDSEQCRONPRJ = '00007'"), 1);

    // Nothing marked: nothing written, still a success.
    QVERIFY(h.call(ana, "setAprovaAtividades", {changeLog(list, {{"00007", "N"}})}).contains("result"));
    QVERIFY(h.call(ana, "setAprovaAtividades", {QJsonObject{{"fields", list.value("fields")}, {"changes", QJsonArray()}}})
                .contains("result"));
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM AUDITORIA"), 4);
}

void TestRules::approvalRefusals_data()
{
    QTest::addColumn<QString>("who");
    QTest::addColumn<QString>("mutation");
    QTest::addColumn<int>("code");
    QTest::newRow("not the responsible") << "BIA" << "" << -32003;
    QTest::newRow("another operator's project too") << "ANA" << "foreign" << -32003;
    QTest::newRow("unknown activity") << "ANA" << "unknown" << -32011;
    QTest::newRow("missing field") << "ANA" << "dropField" << -32602;
    QTest::newRow("wrong field type") << "ANA" << "retype" << -32602;
    QTest::newRow("short row") << "ANA" << "shortRow" << -32602;
    QTest::newRow("value of wrong type") << "ANA" << "badValue" << -32602;
    QTest::newRow("key changed") << "ANA" << "keyChanged" << -32602;
    QTest::newRow("insert") << "ANA" << "insert" << -32602;
    QTest::newRow("delete") << "ANA" << "delete" << -32602;
    QTest::newRow("field twice") << "ANA" << "fieldTwice" << -32602;
    QTest::newRow("data packet, not a log") << "ANA" << "rows" << -32602;
    QTest::newRow("null key") << "ANA" << "nullKey" << -32602;
}

void TestRules::approvalRefusals()
{
    QFETCH(QString, who);
    QFETCH(QString, mutation);
    QFETCH(int, code);
    Harness h;
    const QByteArray token = h.login(who, who.toLower() + "123");
    const QByteArray ana = h.login("ANA", "ana123");
    const QJsonObject list = Harness::payload(h.call(ana, "getConcAtivPro", {"0001", "0000000001"})).toObject();
    QJsonObject log = changeLog(list, {{"00003", "S"}, {"00006", "S"}});
    QJsonArray changes = log.value("changes").toArray();
    QJsonObject first = changes[0].toObject();
    QJsonArray after = first.value("after").toArray();
    QJsonArray fields = log.value("fields").toArray();
    const int seqIndex = contractFieldIndex(u"cdsConcAtivProj", u"CDSEQCRONPRJ");
    const int projIndex = contractFieldIndex(u"cdsConcAtivProj", u"CDPROJETO");
    const int filIndex = contractFieldIndex(u"cdsConcAtivProj", u"CDFILIAL");

    if (mutation == "foreign") { // an activity of BIA's project rides along
        const QJsonObject other = Harness::payload(h.call(ana, "getConcAtivPro", {"0002", "0000000003"})).toObject();
        changes.append(changeLog(other, {{"00001", "S"}}).value("changes").toArray().first());
    } else if (mutation == "unknown") {
        QJsonObject extra = changes[1].toObject();
        QJsonArray a = extra.value("after").toArray(), b = extra.value("before").toArray();
        a[seqIndex] = "99999";
        b[seqIndex] = "99999";
        extra["after"] = a;
        extra["before"] = b;
        changes.append(extra);
    } else if (mutation == "dropField") {
        fields.removeAt(fields.size() - 1);
        log["fields"] = fields;
    } else if (mutation == "retype") {
        QJsonObject f = fields[contractFieldIndex(u"cdsConcAtivProj", u"VRPERCCONCL")].toObject();
        f["type"] = "string";
        fields[contractFieldIndex(u"cdsConcAtivProj", u"VRPERCCONCL")] = f;
        log["fields"] = fields;
    } else if (mutation == "shortRow") {
        after.removeLast();
        first["after"] = after;
    } else if (mutation == "badValue") {
        after[contractFieldIndex(u"cdsConcAtivProj", u"QTTEMPLAITAR")] = "lots";
        first["after"] = after;
    } else if (mutation == "keyChanged") {
        after[projIndex] = "0000000002";
        first["after"] = after;
    } else if (mutation == "insert") {
        first["op"] = "insert";
        first["before"] = QJsonValue();
    } else if (mutation == "delete") {
        first["op"] = "delete";
        first["after"] = QJsonValue();
    } else if (mutation == "fieldTwice") {
        QJsonObject f = fields.last().toObject();
        f["name"] = "IDCHECK";
        fields[fields.size() - 1] = f;
        log["fields"] = fields;
    } else if (mutation == "rows") {
        log = list;
    } else if (mutation == "nullKey") {
        after[filIndex] = QJsonValue();
        QJsonArray before = first.value("before").toArray();
        before[filIndex] = QJsonValue();
        first["after"] = after;
        first["before"] = before;
    }
    if (mutation != "rows") {
        changes[0] = first;
        log["changes"] = changes;
    }
    const QJsonObject reply = h.call(token, "setAprovaAtividades", {log});
    QCOMPARE(Harness::errorCode(reply), code);
    if (code == -32602) // one opening sentence, whatever is wrong
        QVERIFY(reply.value("error").toObject().value("message").toString().startsWith(
            QStringLiteral("O pacote enviado não é uma lista de alterações das atividades.")));
    // All or nothing.
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM ATIVIDADE WHERE DTHRAPROVATIVTA LIKE '2026-05-04%'"), 0);
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM AUDITORIA"), 0);
}

void TestRules::percentage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("comma") << "12,5" << 12.5;
    QTest::newRow("point") << "12.5" << 12.5;
    QTest::newRow("whole") << "80" << 80.0;
    QTest::newRow("zero") << "0" << 0.0;
    QTest::newRow("hundred") << "100" << 100.0;
    QTest::newRow("hundred with decimal") << "100,0" << 100.0;
    QTest::newRow("leading zero") << "07,5" << 7.5;
    // Any number of decimals, stored as typed.
    QTest::newRow("two decimals") << "12,55" << 12.55;
    QTest::newRow("many decimals") << "99,999" << 99.999;
    QTest::newRow("point, three decimals") << "1.000" << 1.0;
    QTest::newRow("hundred, zeros") << "100,000" << 100.0;
}

void TestRules::percentage()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    Harness h;
    const QByteArray ana = h.login("ANA", "ana123");
    const QJsonObject reply = h.call(ana, "SetAtualizaConcCSA", {"0001", "0000000001", "001", "001", "00006", text});
    QVERIFY2(reply.contains("result"), QJsonDocument(reply).toJson());
    QVERIFY(Harness::payload(reply).isNull());
    QCOMPARE(column(h.call(ana, "getConcAtivPro", {"0001", "0000000001"}), "VRPERCCONCL").at(5).toDouble(), value);

    Sql q(h.db->connection(), "SELECT VRANTERIOR, VRNOVO, CDOPERADOR, DTHREVENTO, CDSEQCRONPRJ FROM AUDITORIA"
                              " WHERE DSEVENTO = 'PERCENTUAL'");
    q.exec();
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toDouble(), 62.5);
    QCOMPARE(q.value(1).toDouble(), value);
    QCOMPARE(q.text(2), QStringLiteral("ANA"));
    QCOMPARE(q.text(3), QStringLiteral("2026-05-04T10:30:00"));
    QCOMPARE(q.text(4), QStringLiteral("00006"));
    QVERIFY(!q.next());
}

void TestRules::percentageRefusals()
{
    Harness h;
    const QByteArray ana = h.login("ANA", "ana123");
    const QByteArray bia = h.login("BIA", "bia123");
    for (const char *bad : {"", "100,1", "101", "-1", "abc", "1e2", " 12", "12 ", "12,", ",5", "50%",
                            "1,2,3", "NaN", "100,0001", "1,5.5", "-0,5"}) {
        const QJsonObject r = h.call(ana, "SetAtualizaConcCSA", {"0001", "0000000001", "001", "001", "00006", bad});
        QVERIFY2(Harness::errorCode(r) == -32602, bad);
    }
    QCOMPARE(Harness::errorCode(h.call(bia, "SetAtualizaConcCSA", {"0001", "0000000001", "001", "001", "00006", "10"})), -32003);
    QCOMPARE(Harness::errorCode(h.call(ana, "SetAtualizaConcCSA", {"0001", "0000000001", "001", "001", "00099", "10"})), -32011);
    QCOMPARE(Harness::errorCode(h.call(ana, "SetAtualizaConcCSA", {"0002", "0000000003", "001", "001", "00001", "10"})), -32003);
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM AUDITORIA"), 0);
    QCOMPARE(column(h.call(ana, "getConcAtivPro", {"0001", "0000000001"}), "VRPERCCONCL").at(5), QStringLiteral("62.5"));
    // BIA is responsible for her own project.
    QVERIFY(h.call(bia, "SetAtualizaConcCSA", {"0002", "0000000003", "001", "001", "00001", "45,5"}).contains("result"));
}

void TestRules::filters_data()
{
    QTest::addColumn<QJsonArray>("criteria"); // arguments 3 to 8
    QTest::addColumn<QStringList>("sequences");
    QTest::newRow("screen defaults: open, both statuses")
        << QJsonArray{"", "T", "", "T", "_A", "_A_N"}
        << QStringList{"00004", "00005", "00006", "00007", "00008", "00009", "00010", "00011", "00012"};
    QTest::newRow("concluded") << QJsonArray{"", "T", "", "T", "_C", "_A_N"} << QStringList{"00001", "00002", "00003"};
    QTest::newRow("approved, any situation") << QJsonArray{"", "T", "", "T", "_A_C", "_A"}
                                             << QStringList{"00001", "00002", "00005", "00010"};
    QTest::newRow("not approved, concluded") << QJsonArray{"", "T", "", "T", "_C", "_N"} << QStringList{"00003"};
    QTest::newRow("operators") << QJsonArray{"", "T", "'ANA','CAIO'", "", "_A_C", "_A_N"}
                               << QStringList{"00002", "00004", "00005", "00007", "00009", "00010", "00011"};
    QTest::newRow("items") << QJsonArray{"'IT02','IT06'", "", "", "T", "_A_C", "_A_N"}
                           << QStringList{"00003", "00004", "00010"};
    QTest::newRow("items and operators") << QJsonArray{"'IT03'", "", "'BIA'", "", "_A", "_N"}
                                         << QStringList{"00006", "00008"};
    QTest::newRow("unknown values") << QJsonArray{"'NOPE'", "", "", "T", "_A_C", "_A_N"} << QStringList{};
    QTest::newRow("too wide values") << QJsonArray{"", "T", "'ANAANAANAANAANA'", "", "_A_C", "_A_N"} << QStringList{};
    QTest::newRow("flag wins over list") << QJsonArray{"'NOPE'", "T", "", "T", "_C", "_A_N"}
                                         << QStringList{"00001", "00002", "00003"};
}

void TestRules::filters()
{
    QFETCH(QJsonArray, criteria);
    QFETCH(QStringList, sequences);
    Harness h;
    const QByteArray t = h.login("CAIO", "caio123");
    QJsonArray params{"0001", "0000000001"};
    for (const QJsonValue &v : criteria)
        params.append(v);
    const QJsonObject reply = h.call(t, "getFiltroConcAtiv", params);
    QVERIFY2(reply.contains("result"), QJsonDocument(reply).toJson());
    QCOMPARE(column(reply, "CDSEQCRONPRJ"), sequences);
    QCOMPARE(reply.value("result").toObject().value("byref").toArray(), criteria);
}

void TestRules::filterListsWithQuotes()
{
    Harness h(kQuotes);
    const QByteArray t = h.login("ZE", "x2");
    auto seqs = [&](const QString &items, const QString &ops) {
        return column(h.call(t, "getFiltroConcAtiv",
                             {"0001", "P'1", items, items.isEmpty() ? "T" : "", ops, ops.isEmpty() ? "T" : "", "_A_C", "_A_N"}),
                      "CDSEQCRONPRJ");
    };
    QCOMPARE(seqs("'IT''1'", ""), QStringList{"00001"});
    QCOMPARE(seqs("", "'O''NEIL'"), QStringList{"00001"});
    QCOMPARE(seqs("'IT''1','IT2'", "'O''NEIL','ZE'"), (QStringList{"00001", "00002"}));
    QCOMPARE(seqs("'IT'", ""), QStringList{});
    QCOMPARE(column(h.call(t, "getFiltroOper", {"0001", "P'1", "", "T"}), "CDOPERRESP"), (QStringList{"O'NEIL", "ZE"}));
    QCOMPARE(column(h.call(t, "getFiltroItemTrab", {"0001", "P'1", "", "T"}), "CDREDUITTRAB"), (QStringList{"AS'PAS", "SEM"}));
    QCOMPARE(column(h.call(t, "getProjeto", {"0001", "P'1", ""}), "NMPROJETO"), QStringList{"Aspas"});
}

void TestRules::databaseFailuresWriteNothing()
{
    Harness h;
    const QByteArray ana = h.login("ANA", "ana123");
    const QJsonObject list = Harness::payload(h.call(ana, "getConcAtivPro", {"0001", "0000000001"})).toObject();
    // The audit row is the last statement of each write: losing its table
    // makes every write fail at its very end.
    h.execute("DROP TABLE AUDITORIA");

    QJsonObject r = h.call(ana, "SetAtualizaConcCSA", {"0001", "0000000001", "001", "001", "00006", "99"});
    QCOMPARE(Harness::errorCode(r), -32010);
    QVERIFY(!r.value("error").toObject().value("message").toString().contains("AUDITORIA"));
    r = h.call(ana, "setAprovaAtividades", {changeLog(list, {{"00003", "S"}, {"00006", "S"}})});
    QCOMPARE(Harness::errorCode(r), -32010);

    const QJsonObject after = h.call(ana, "getConcAtivPro", {"0001", "0000000001"});
    QCOMPARE(column(after, "VRPERCCONCL").at(5), QStringLiteral("62.5"));
    QCOMPARE(column(after, "STAPROVACAO").at(2), QStringLiteral("N"));
    QCOMPARE(column(after, "STAPROVACAO").at(5), QStringLiteral("N"));
    bool logged = false;
    for (const QByteArray &line : std::as_const(h.log))
        logged = logged || line.contains("databaseError");
    QVERIFY(logged);

    h.execute("DROP TABLE APROPRIACAO");
    QCOMPARE(Harness::errorCode(h.call(ana, "getCSAAux", {"0001", "0000000001"})), -32010);
    QCOMPARE(Harness::rows(h.call(ana, "getProjeto", {"0001", "", "T"})).size(), 2); // still serving
}

void TestRules::concurrentPercentChangesAuditedInOrder()
{
    // Two users change the same percentage at once, many times: every audit
    // row must name as its previous value the value its change replaced, so
    // the rows chain from the first value to the last without a gap or repeat.
    Harness h;
    const QByteArray ana = h.login("ANA", "ana123");
    const QString where = "CDFILIAL = '0001' AND CDPROJETO = '0000000001' AND CDSEQCRONPRJ = '00004'";
    const qint64 initial = h.scalar("SELECT CAST(VRPERCCONCL * 10 AS INTEGER) FROM ATIVIDADE WHERE " + where);
    constexpr int perThread = 40;
    std::atomic<int> good{0};
    auto run = [&](int first) {
        for (int i = 0; i < perThread; ++i) {
            const QString value = QString::number(first + 2 * i); // 1, 3, 5... or 2, 4, 6...: all distinct
            const QJsonObject r = h.call(ana, "SetAtualizaConcCSA", {"0001", "0000000001", "001", "001", "00004", value});
            if (r.contains("result"))
                ++good;
        }
    };
    std::thread a(run, 1), b(run, 2);
    a.join();
    b.join();
    QCOMPARE(good.load(), 2 * perThread);

    QList<qint64> previous, next;
    Sql q(h.db->connection(), "SELECT CAST(VRANTERIOR * 10 AS INTEGER), CAST(VRNOVO * 10 AS INTEGER) FROM AUDITORIA"
                              " WHERE DSEVENTO = 'PERCENTUAL'");
    q.exec();
    while (q.next()) {
        previous << q.value(0).toLongLong();
        next << q.value(1).toLongLong();
    }
    QCOMPARE(previous.size(), 2 * perThread);
    const qint64 last = h.scalar("SELECT CAST(VRPERCCONCL * 10 AS INTEGER) FROM ATIVIDADE WHERE " + where);
    QList<qint64> expected = next;
    expected.removeOne(last);
    expected << initial;
    std::sort(previous.begin(), previous.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(previous, expected);
}

QTEST_GUILESS_MAIN(TestRules)
#include "tst_appserver_rules.moc"
