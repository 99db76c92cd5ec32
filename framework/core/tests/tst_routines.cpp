#include "Errors.h"
#include "Guard.h"
#include "Messages.h"
#include "NumberFormat.h"
#include "Routines.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

QJsonValue json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

} // namespace

class TstRoutines : public QObject
{
    Q_OBJECT

    QStringList m_shown;

private Q_SLOTS:
    void initTestCase()
    {
        Workstation::setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    }

    void init()
    {
        m_shown.clear();
        setErrorPresenter([this](const QString &text) { m_shown << text; });
    }

    void cleanupTestCase() { setErrorPresenter(nullptr); }

    void ajusta()
    {
        QCOMPARE(Ajusta(QStringLiteral("1"), 4), QStringLiteral("0001"));
        QCOMPARE(Ajusta(QStringLiteral("123"), 10), QStringLiteral("0000000123"));
        QCOMPARE(Ajusta(QStringLiteral("7"), 2), QStringLiteral("07"));
        QCOMPARE(Ajusta(QStringLiteral("12345"), 4), QStringLiteral("12345"));
        QCOMPARE(Ajusta(QString(), 2), QStringLiteral("00"));
        QVERIFY(EmptyString(QString()));
        QVERIFY(EmptyString(QStringLiteral("   ")));
        QVERIFY(!EmptyString(QStringLiteral(" 0 ")));
    }

    void messages()
    {
        TMessages msg;
        msg.Messages = {QStringLiteral("FILINF|Filial deve ser informada"), QStringLiteral("PIPE|a|b"),
                        QStringLiteral("FIL|outra")};
        QCOMPARE(msg.Msg(QStringLiteral("FILINF")), QStringLiteral("Filial deve ser informada"));
        QCOMPARE(msg.Msg(QStringLiteral("PIPE")), QStringLiteral("a|b"));
        QCOMPARE(msg.Msg(QStringLiteral("FIL")), QStringLiteral("outra"));
        QCOMPARE(msg.Msg(QStringLiteral("NOPE")), QStringLiteral("NOPE"));
    }

    void mensErro()
    {
        QVERIFY_THROWS_EXCEPTION(EAbort, MensErro(QStringLiteral("Projeto não encontrado"), true));
        MensErro(QStringLiteral("aviso"), false);
        QCOMPARE(m_shown, (QStringList{"Projeto não encontrado", "aviso"}));
    }

    void checkResultServ()
    {
        QCOMPARE(CheckResultServ(json(R"({"payload":{"rows":[]},"byref":["x"]})"), true, 0),
                 QJsonValue(QJsonObject{{"rows", QJsonArray()}}));
        QCOMPARE(CheckResultServ(json(R"({"payload":null})"), true, 0), QJsonValue(QJsonValue::Null));
        QVERIFY(m_shown.isEmpty());

        QVERIFY_THROWS_EXCEPTION(
            EAbort, CheckResultServ(json(R"({"error":{"code":3,"message":"Projeto inexistente."}})"), true, 0));
        QVERIFY_THROWS_EXCEPTION(EAbort, CheckResultServ(json(R"({"rows":[]})"), true, 0));
        QVERIFY_THROWS_EXCEPTION(EAbort, CheckResultServ(QJsonValue(QStringLiteral("OK")), true, 0));
        QCOMPARE(m_shown.size(), 3);
        QCOMPARE(m_shown.at(0), QStringLiteral("Projeto inexistente."));
        QCOMPARE(m_shown.at(1), QStringLiteral("Resposta inválida do servidor de aplicação."));
        QCOMPARE(m_shown.at(2), m_shown.at(1));
    }

    void floatText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("comma") << 12.5 << "12,5";
        QTest::newRow("no group separator") << 123456789012.5 << "123456789012,5";
        QTest::newRow("15 digits") << 0.1 + 0.2 << "0,3";
        QTest::newRow("integer") << 50.0 << "50";
        QTest::newRow("negative") << -7.25 << "-7,25";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("large") << 1e20 << "1E20";
        QTest::newRow("small") << 1e-5 << "1E-5";
    }

    void floatText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(FloatToStr(value), text);
        QCOMPARE(StrToFloat(text), value);
    }

    void parseFloat()
    {
        double v = 0;
        QVERIFY(TryStrToFloat(QStringLiteral(" 3,75 "), &v));
        QCOMPARE(v, 3.75);
        QVERIFY(!TryStrToFloat(QStringLiteral("3.75"), &v));
        QVERIFY(!TryStrToFloat(QStringLiteral("1.234,5"), &v));
        QVERIFY(!TryStrToFloat(QString(), &v));
        QVERIFY(!TryStrToFloat(QStringLiteral("12a"), &v));
        QVERIFY_THROWS_EXCEPTION(EVorError, StrToFloat(QStringLiteral("abc")));

        Workstation::setLocale(QLocale::c());
        QCOMPARE(FloatToStr(12.5), QStringLiteral("12.5"));
        QVERIFY(TryStrToFloat(QStringLiteral("3.75"), &v));
        Workstation::setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    }

    void formatFloat_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0 half up") << "0" << 2.5 << "3";
        QTest::newRow("0 half away from zero") << "0" << -2.5 << "-3";
        QTest::newRow("0 below half") << "0" << 2.49 << "2";
        QTest::newRow("0 negative zero") << "0" << -0.4 << "0";
        QTest::newRow("0 large, no separator") << "0" << 1234567.0 << "1234567";
        QTest::newRow("0 binary noise") << "0" << 0.5 + 1e-17 << "1";
        QTest::newRow("# zero is empty") << "#" << 0.0 << "";
        QTest::newRow("# rounds") << "#" << 41.6 << "42";
        QTest::newRow("0.00") << "0.00" << 1.005 << "1,01";
        QTest::newRow("0.00 pads") << "0.00" << 3.0 << "3,00";
        QTest::newRow("0.## trims") << "0.##" << 3.10 << "3,1";
        QTest::newRow("grouping") << "#,##0.00" << 1234567.891 << "1.234.567,89";
        QTest::newRow("carry") << "0.00" << 9.999 << "10,00";
        QTest::newRow("literal suffix") << "0'%'" << 33.3 << "33%";
        QTest::newRow("negative section") << "0;(0)" << -4.0 << "(4)";
    }

    void formatFloat()
    {
        QFETCH(QString, mask);
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(FormatFloat(mask, value), text);
    }

    void dateTimeText()
    {
        QCOMPARE(DateTimeToStr(QDateTime(QDate(2026, 3, 9), QTime(7, 5, 3))), QStringLiteral("09/03/2026 07:05:03"));
        QCOMPARE(DateTimeToStr(QDateTime()), QString());
    }

    void guard()
    {
        QVERIFY(runGuarded([] {}));
        QVERIFY(!runGuarded([] { throw EAbort(); }));
        QVERIFY(m_shown.isEmpty());

        QVERIFY(!runGuarded([] { MensErro(QStringLiteral("Filial deve ser informada"), true); }));
        QCOMPARE(m_shown, QStringList{"Filial deve ser informada"});

        m_shown.clear();
        QVERIFY(!runGuarded([] { throw EDatabaseError(QStringLiteral("Campo X não encontrado")); }));
        QVERIFY(!runGuarded([] { throw std::runtime_error("falhou"); }));
        QVERIFY(!runGuarded([] { throw 42; }));
        QCOMPARE(m_shown.size(), 3);
        QCOMPARE(m_shown.at(0), QStringLiteral("Campo X não encontrado"));
        QCOMPARE(m_shown.at(1), QStringLiteral("falhou"));
        QVERIFY(!m_shown.at(2).isEmpty());

        // A presenter that throws does not break the boundary.
        setErrorPresenter([](const QString &) { throw std::runtime_error("presenter"); });
        QVERIFY(!runGuarded([] { throw EVorError(QStringLiteral("x")); }));
    }
};

QTEST_GUILESS_MAIN(TstRoutines)
#include "tst_routines.moc"
