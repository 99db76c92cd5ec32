// The large reads write their packets as JSON text themselves: the bytes must
// be exactly what QJsonDocument writes for the same reply (escapes, number
// forms, key order), texts must come back as stored, and a batch (which
// carries the packets as values) must hold the same packets.
#include "Harness.h"

namespace {

const QString kAwkward = QStringLiteral("aspas \" barra \\ fim\n tab\t cr\r bs\b ff\f ctl\x01\x1f del\x7f "
                                        "acentuação ção 😀 / <>&");

QByteArray fixture()
{
    QJsonObject booking{{"DTHRINIAPROCSA", "05/01/2026 08:00:00"}, {"DTHRFIMAPROCSA", "05/01/2026 12:15:00"},
                        {"VRPERCCONCL", 33.333333333333336}, {"INCLUSAO", "ANA 05/01/2026 12:16"},
                        {"DSOBSAPROATVCSA", kAwkward}};
    QJsonObject bare{{"DTHRINIAPROCSA", "06/01/2026 08:00:00"}, {"VRPERCCONCL", 0.1}};
    auto activity = [](const char *seq, const char *step, const QJsonValue &hours, const QJsonArray &bookings) {
        return QJsonObject{{"CDSEQCRONPRJ", seq},   {"NRBASELINEPR", "001"},   {"CDVERCRONPRJ", "001"},
                           {"DESCRICAO", kAwkward}, {"CDOPERRESP", "ANA"},     {"NRTAREFA", "T1"},
                           {"NRPLATIVTARE", step},  {"QTTEMPLAITAR", hours},   {"VRPERCCONCL", 12.5},
                           {"SITUACAO", "A"},       {"bookings", bookings}};
    };
    const QJsonObject doc{
        {"branches", QJsonArray{QJsonObject{{"CDFILIAL", "0001"}, {"NMFILIAL", "Matriz"}}}},
        {"operators", QJsonArray{QJsonObject{{"CDOPERADOR", "ANA"}, {"NMOPERADOR", "Ana \"Lima\""}, {"password", "a"}}}},
        {"projects",
         QJsonArray{QJsonObject{{"CDFILIAL", "0001"},
                                {"CDPROJETO", "0000000001"},
                                {"NMPROJETO", "P"},
                                {"CDOPERESPRJ", "ANA"},
                                {"activities", QJsonArray{activity("00001", "1", 12345.678901234567, {booking, bare}),
                                                          activity("00002", "2", 1e-7, {}),
                                                          activity("00003", "3", 100000, {booking}),
                                                          activity("00004", "4", QJsonValue(), {})}}}}}};
    return QJsonDocument(doc).toJson();
}

QByteArray rpc(const char *method, const QJsonArray &params, int id)
{
    return QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}})
        .toJson(QJsonDocument::Compact);
}

const QJsonArray kProject{"0001", "0000000001"};
const QJsonArray kFilter{"0001", "0000000001", "", "T", "'ANA'", "", "_A_C", "_A_N"};

} // namespace

class TestPackets final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sameBytesAsQJsonDocument_data();
    void sameBytesAsQJsonDocument();
    void batchCarriesTheSamePackets();
};

void TestPackets::sameBytesAsQJsonDocument_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QJsonArray>("params");
    QTest::addColumn<int>("rows");
    QTest::newRow("getConcAtivPro") << QByteArray("getConcAtivPro") << kProject << 4;
    QTest::newRow("getFiltroConcAtiv") << QByteArray("getFiltroConcAtiv") << kFilter << 4;
    QTest::newRow("getCSAAux") << QByteArray("getCSAAux") << kProject << 3;
    QTest::newRow("getApropriaCSA") << QByteArray("getApropriaCSA") << QJsonArray{"0001", "0000000001", "T1", "1"} << 2;
    QTest::newRow("getApropriaCSA, none") << QByteArray("getApropriaCSA") << QJsonArray{"0001", "0000000001", "T1", "2"} << 0;
    QTest::newRow("unknown project") << QByteArray("getConcAtivPro") << QJsonArray{"0001", "X"} << 0;
    QTest::newRow("filter keeps nothing") << QByteArray("getFiltroConcAtiv")
                                          << QJsonArray{"0001", "0000000001", "", "T", "'ZE'", "", "_A_C", "_A_N"} << 0;
}

void TestPackets::sameBytesAsQJsonDocument()
{
    QFETCH(QByteArray, method);
    QFETCH(QJsonArray, params);
    QFETCH(int, rows);
    Harness h(fixture());
    const QByteArray token = h.login("ANA", "a");
    const CoreResponse r = h.request("POST", h.rpcPath(), rpc(method.constData(), params, 3), token);
    QCOMPARE(r.status, 200);
    const QJsonDocument doc = QJsonDocument::fromJson(r.body);
    QVERIFY2(doc.isObject(), r.body.left(300).constData());
    const QByteArray canonical = doc.toJson(QJsonDocument::Compact);
    qsizetype at = 0;
    while (at < r.body.size() && at < canonical.size() && r.body[at] == canonical[at])
        ++at;
    QVERIFY2(r.body == canonical, QByteArray(r.body.mid(at - 40, 80) + " <> " + canonical.mid(at - 40, 80)).constData());

    const QJsonArray rowList = Harness::rows(doc.object());
    QCOMPARE(rowList.size(), rows);
    bool sawAwkward = rows == 0;
    for (const QJsonValue &row : rowList)
        for (const QJsonValue &v : row.toArray())
            sawAwkward = sawAwkward || v.toString() == kAwkward;
    QVERIFY(sawAwkward);
}

void TestPackets::batchCarriesTheSamePackets()
{
    Harness h(fixture());
    const QByteArray token = h.login("ANA", "a");
    const QByteArray batch = "[" + rpc("getConcAtivPro", kProject, 1) + "," + rpc("getCSAAux", kProject, 2) + ","
                             + rpc("getFiltroConcAtiv", kFilter, 3) + "]";
    const CoreResponse r = h.request("POST", h.rpcPath(), batch, token);
    const QJsonArray replies = QJsonDocument::fromJson(r.body).array();
    QCOMPARE(replies.size(), 3);
    QCOMPARE(replies[0].toObject().value("result"), h.call(token, "getConcAtivPro", kProject).value("result"));
    QCOMPARE(replies[1].toObject().value("result"), h.call(token, "getCSAAux", kProject).value("result"));
    const QJsonObject filtered = replies[2].toObject().value("result").toObject();
    QCOMPARE(filtered.value("payload"), h.call(token, "getFiltroConcAtiv", kFilter).value("result").toObject().value("payload"));
    QCOMPARE(filtered.value("byref").toArray().size(), 6);
}

QTEST_GUILESS_MAIN(TestPackets)
#include "tst_appserver_packets.moc"
