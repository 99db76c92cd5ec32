#include "ScreenHarness.h"

#include "Cli_VOR01300.h"

#include <QTest>

class tst_screen_frame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void windowAndHeader();

private:
    ScreenHarness m_host;
    TfrmConcAtivProj *m_screen = nullptr;
};

void tst_screen_frame::initTestCase()
{
    if (!ServerFixture::serverBuilt())
        QSKIP("the application server is not built");
    QString error;
    QVERIFY2(m_host.setUp(&error), qPrintable(error));
    m_screen = m_host.openScreen();
    QVERIFY(m_screen);
}

void tst_screen_frame::windowAndHeader()
{
    QCOMPARE(m_screen->windowTitle(), QStringLiteral("Aprovação de Atividades do Projeto"));
}

QTEST_MAIN(tst_screen_frame)
#include "tst_screen_frame.moc"
