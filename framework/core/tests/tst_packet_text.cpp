// Packets read straight from their text against the document reader.
#include "Errors.h"
#include "Packet.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <cstring>

// Declared ahead of the texts below, whose unbalanced braces moc would misread.
class TstPacketText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Whatever the text, the same packet or the same refusal as the document
    // reader: values, numbers, escapes, layout, and every kind of fault.
    void sameOutcomeAsDocument_data();
    void sameOutcomeAsDocument();
    // The packet's text inside a reply, found without reading the reply.
    void memberText();
};

namespace {

// A packet, or the message it was refused with.
struct Outcome
{
    DataPacket packet;
    QString error;
};

Outcome outcome(const std::function<DataPacket()> &read)
{
    try {
        return {read(), QString()};
    } catch (const EDatabaseError &e) {
        return {{}, e.message()};
    }
}

Outcome byDocument(const QByteArray &text)
{
    return outcome([&] {
        const QJsonDocument d = QJsonDocument::fromJson(text);
        return DataPacket::fromJson(d.isObject() ? QJsonValue(d.object()) : d.isArray() ? QJsonValue(d.array())
                                                                                         : QJsonValue());
    });
}

// Equal values of the same kind; doubles bit for bit (-0 is not 0).
QString difference(const DataPacket &a, const DataPacket &b)
{
    if (!(a.fields == b.fields))
        return QStringLiteral("fields differ");
    if (a.rows.size() != b.rows.size())
        return QStringLiteral("%1 rows for %2").arg(a.rows.size()).arg(b.rows.size());
    for (size_t r = 0; r < a.rows.size(); ++r) {
        if (a.rows[r].size() != b.rows[r].size())
            return QStringLiteral("row %1: width").arg(r);
        for (size_t c = 0; c < a.rows[r].size(); ++c) {
            const QVariant &x = a.rows[r][c], &y = b.rows[r][c];
            bool same = x.metaType() == y.metaType() && x.isNull() == y.isNull();
            if (same && x.typeId() == QMetaType::Double) {
                const double dx = x.toDouble(), dy = y.toDouble();
                same = std::memcmp(&dx, &dy, sizeof dx) == 0;
            } else if (same && x.typeId() == QMetaType::QDateTime) {
                same = x.toDateTime() == y.toDateTime() && x.toDateTime().timeSpec() == y.toDateTime().timeSpec();
            } else if (same) {
                same = x == y;
            }
            if (!same)
                return QStringLiteral("row %1 column %2: %3 / %4").arg(r).arg(c).arg(x.toString(), y.toString());
        }
    }
    return QString();
}

const char kFields[] = R"([{"name":"S","type":"string","size":6},{"name":"F","type":"float"},)"
                       R"({"name":"D","type":"datetime"},{"name":"X","type":"fixedstring","size":1}])";

QByteArray packet(const char *rows)
{
    return QByteArray(R"({"fields":)") + kFields + R"(,"rows":)" + rows + '}';
}

} // namespace

void TstPacketText::sameOutcomeAsDocument_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("values") << packet(R"([["abc",1.5,"2026-01-05T08:00:00","S"],[null,null,null,null]])");
    QTest::newRow("numbers") << packet(R"([["",0,null,""],["",-0,null,""],["",-0.0,null,""],["",1e3,null,""],)"
                                       R"(["",9007199254740993,null,""],["",-12345678901234567890,null,""],)"
                                       R"(["",1.7976931348623157e308,null,""],["",5e-324,null,""],)"
                                       R"(["",0.1,null,""],["",1E-2,null,""],["",123456789012,null,""]])");
    QTest::newRow("escapes and UTF-8")
        << packet(R"([["a\"b\\c",1,null,"\/"],["\u00e9\n\t\r",1,null,"\b"],["\ud83d\ude00",1,null,"\f"],)"
                  R"(["ação",1,null,"é"],["日本",1,null,"\u0041"],["\u0000",1,null,""]])");
    QTest::newRow("repeats share values")
        << packet(R"([["a",1,"2026-01-05","N"],["a",1,"2026-01-05","N"],["b",2,"2026-01-06","S"],)"
                  R"(["a",1,"2026-01-05","N"],["ab",3,"2026-01-05T00:00:00","S"],["ba",3,null,"N"]])");
    QTest::newRow("spaces, other members, rows last")
        << QByteArray(" \n{ \"x\" : [1, {\"y\": [true, false, null]}, \"z\"] ,\t\"fields\" : ") + kFields
               + " , \"rows\" : [ [ \"a\" , 2 , null , \"S\" ] ] , \"w\": {} }\r\n";
    QTest::newRow("rows before fields") << QByteArray(R"({"rows":[["a",1,null,"S"]],"fields":)") + kFields + '}';
    QTest::newRow("no rows") << packet("[]");
    QTest::newRow("empty fields") << QByteArray(R"({"fields":[],"rows":[[],[]]})");
    QTest::newRow("field with extra keys")
        << QByteArray(R"({"fields":[{"type":"string","x":[1],"name":"A","size":null}],"rows":[["q"]]})");
    QTest::newRow("text too long") << packet(R"([["abcdefg",1,null,"S"]])");
    QTest::newRow("fixed text too long") << packet(R"([["a",1,null,"SN"]])");
    QTest::newRow("number for text") << packet(R"([[1,1,null,"S"]])");
    QTest::newRow("text for number") << packet(R"([["a","1",null,"S"]])");
    QTest::newRow("boolean") << packet(R"([["a",true,null,"S"]])");
    QTest::newRow("bad date") << packet(R"([["a",1,"05/01/2026","S"]])");
    QTest::newRow("short row") << packet(R"([["a",1,null]])");
    QTest::newRow("long row") << packet(R"([["a",1,null,"S",2]])");
    QTest::newRow("row not a list") << packet(R"([{"a":1}])");
    QTest::newRow("rows not a list") << packet("null");
    QTest::newRow("no fields") << QByteArray(R"({"rows":[]})");
    QTest::newRow("unknown type") << QByteArray(R"({"fields":[{"name":"A","type":"int"}],"rows":[]})");
    QTest::newRow("fields twice") << QByteArray(R"({"fields":[],"fields":[],"rows":[]})");
    QTest::newRow("trailing comma") << packet(R"([["a",1,null,"S"],])");
    QTest::newRow("leading zero") << packet(R"([["a",01,null,"S"]])");
    QTest::newRow("bare point") << packet(R"([["a",1.,null,"S"]])");
    QTest::newRow("huge number") << packet(R"([["a",1e999,null,"S"]])");
    QTest::newRow("control character") << packet("[[\"a\tb\",1,null,\"S\"]]");
    QTest::newRow("bad UTF-8") << packet("[[\"a\xff\",1,null,\"S\"]]");
    QTest::newRow("lone surrogate") << packet(R"([["\ud83d",1,null,"S"]])");
    QTest::newRow("bad escape") << packet(R"([["\x",1,null,"S"]])");
    QTest::newRow("unterminated") << packet(R"([["a",1,null,"S"])");
    QTest::newRow("garbage after") << packet(R"([])") + "x";
    QTest::newRow("array") << QByteArray("[1,2]");
    QTest::newRow("not JSON") << QByteArray("fields");
    QTest::newRow("empty") << QByteArray();
}

void TstPacketText::sameOutcomeAsDocument()
{
    QFETCH(QByteArray, text);
    const Outcome expected = byDocument(text);
    const Outcome actual = outcome([&] { return DataPacket::fromJsonText(text); });
    QCOMPARE(actual.error, expected.error);
    const QString diff = difference(actual.packet, expected.packet);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TstPacketText::memberText()
{
    const QByteArray reply = R"({"id":1,"jsonrpc":"2.0","result" : {"x":"}\"{","payload": {"fields":[],"rows":[]} }})";
    const QByteArrayView result = jsonMemberText(reply, QLatin1StringView("result"));
    QCOMPARE(jsonMemberText(result, QLatin1StringView("payload")), QByteArrayView(R"({"fields":[],"rows":[]})"));
    QCOMPARE(jsonMemberText(reply, QLatin1StringView("error")), QByteArrayView());
    QCOMPARE(jsonMemberText(R"({"a":1,"a":2})", QLatin1StringView("a")), QByteArrayView());
    QCOMPARE(jsonMemberText(R"({"a":1)", QLatin1StringView("a")), QByteArrayView());
    QCOMPARE(jsonMemberText("[1]", QLatin1StringView("a")), QByteArrayView());
}

QTEST_GUILESS_MAIN(TstPacketText)
#include "tst_packet_text.moc"
