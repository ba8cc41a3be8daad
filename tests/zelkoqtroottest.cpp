#include "zelkoqtroot.h"
#include "zelkosettingshelper.h"

#include <QtTest>

// Order matters: the first case needs a process in which nothing has made the root yet.
class ZelkoQtRootTest : public QObject
{
    Q_OBJECT
private slots:
    void identityAloneCreatesNothing();
    void storageCreatesRootOnce();
    void destroyTwiceIsHarmless();
    void storeComesBackAfterDestroy();
};

void ZelkoQtRootTest::identityAloneCreatesNothing()
{
    ZelkoSettingsHelper settings;
    QTest::ignoreMessage(QtDebugMsg, "**********MOBILITY_SYSTEMINFO************");
    QVERIFY(!settings.info().isEmpty());
    settings.uid();
    QCOMPARE(settings.pid(), QStringLiteral("10010"));
    QCOMPARE(settings.cid(), QStringLiteral("C1000"));
    QCOMPARE(settings.vid(), QStringLiteral("21001002"));

    QVERIFY(!ZelkoQtRoot::exists());
    QVERIFY(QCoreApplication::organizationName().isEmpty());
    QVERIFY(QCoreApplication::organizationDomain().isEmpty());
    // Shutdown with nothing made deletes nothing and stays harmless.
    ZelkoQtRoot::destroy();
    QVERIFY(!ZelkoQtRoot::exists());
}

void ZelkoQtRootTest::storageCreatesRootOnce()
{
    ZelkoSettingsHelper first;
    ZelkoSettingsHelper second;
    first.contains(QStringLiteral("anything"));
    QVERIFY(ZelkoQtRoot::exists());
    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Zelko"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("QtClient"));

    ZelkoQtRoot *root = ZelkoQtRoot::getInstance();
    QCOMPARE(root->parent(), nullptr);
    QCOMPARE(root->findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    second.value(QStringLiteral("other"));
    QCOMPARE(ZelkoQtRoot::getInstance(), root);
    QCOMPARE(root->findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
}

void ZelkoQtRootTest::destroyTwiceIsHarmless()
{
    ZelkoQtRoot::getInstance();
    QPointer<QObject> child = ZelkoQtRoot::getInstance()->findChild<QObject *>();
    ZelkoQtRoot::destroy();
    QVERIFY(!ZelkoQtRoot::exists());
    QVERIFY(child.isNull());
    ZelkoQtRoot::destroy();
    QVERIFY(!ZelkoQtRoot::exists());
}

void ZelkoQtRootTest::storeComesBackAfterDestroy()
{
    // A store used after shutdown must not be reached through a dangling pointer.
    ZelkoSettingsHelper settings;
    settings.setValue(QStringLiteral("k"), 1);
    ZelkoQtRoot::destroy();
    QCOMPARE(settings.value(QStringLiteral("k")).toInt(), 1);
    QVERIFY(ZelkoQtRoot::exists());
    ZelkoQtRoot::destroy();
}

QTEST_GUILESS_MAIN(ZelkoQtRootTest)
#include "zelkoqtroottest.moc"
