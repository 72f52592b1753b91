#include <QTest>
class Tst : public QObject { Q_OBJECT private slots: void placeholder() { QVERIFY(true); } };
QTEST_APPLESS_MAIN(Tst)
#include "tst_progress.moc"
