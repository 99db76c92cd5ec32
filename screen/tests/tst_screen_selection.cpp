#include "ScreenHarness.h"

#include <QTest>

class tst_screen_selection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void placeholder() {}
};

QTEST_MAIN(tst_screen_selection)
#include "tst_screen_selection.moc"
