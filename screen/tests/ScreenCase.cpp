#include "ScreenCase.h"

#include "GridSteps.h"

void ScreenCase::initTestCase()
{
    if (!ServerFixture::serverBuilt())
        QSKIP("the application server is not built");
    QString error;
    s = GridSteps::openOnFixture(m_host, m_fixture, &error);
    QVERIFY2(s, qPrintable(error));
}

void ScreenCase::expectMessages(const QStringList &expected)
{
    QCOMPARE(m_host.takeMessages(), expected);
}

void GridCase::init()
{
    QVERIFY(GridSteps::startCase(m_host, s));
}
