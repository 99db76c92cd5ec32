#include <QTest>
class TestOptions : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(TestOptions)
#include "tst_appserver_options.moc"
