#include <QTest>
class TestUpdatePieces : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(TestUpdatePieces)
#include "tst_updatepieces.moc"
