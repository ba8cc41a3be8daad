#include "logcapture.h"
#include "zelkoqtroot.h"
#include "zelkosettingshelper.h"

#include <QJSEngine>
#include <QtTest>

// A real settings file in a temporary folder, reached only through the element.
class ZelkoSettingsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void roundTrip_data();
    void roundTrip();
    void missingKeyReadsEmptyString();
    void elementsShareOneStore();
    void removeGroupTakesSubKeys();
    void removeRootTakesEverything_data();
    void removeRootTakesEverything();
    void badKeys_data();
    void badKeys();
    void writtenToFileAtShutdown();

private:
    QTemporaryDir m_config;
    QJSEngine m_js;
};

void ZelkoSettingsTest::initTestCase()
{
    // Before any QSettings exists: the user path is fixed on first use.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
}

void ZelkoSettingsTest::cleanupTestCase()
{
    ZelkoQtRoot::destroy();
}

void ZelkoSettingsTest::roundTrip_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("stored"); // what value() gives; invalid: value itself
    const auto row = [](const char *name, const char *key, const QVariant &value,
                        const QVariant &stored = {}) {
        QTest::newRow(name) << QString::fromUtf8(key) << value << stored;
    };
    row("string", "query", QStringLiteral("weather"));
    row("non-ascii string", "name", QStringLiteral("Zürich ∑ 北京"));
    row("empty string", "blank", QString(""));
    row("int", "page", 42);
    row("double", "ratio", 0.75);
    row("bool", "dark", true);
    row("grouped key", "recent/0", QStringLiteral("news"));
    row("odd characters in key", "a b=c;d%e", QStringLiteral("v"));
    // What QML hands over: lists and objects as the plain values they hold, undefined as "".
    const auto js = [this](const char *code) {
        return QVariant::fromValue(m_js.evaluate(QString::fromUtf8(code)));
    };
    row("list from QML", "list", js("[1, 'a', [true]]"), QVariantList{1, "a", QVariantList{true}});
    row("object from QML", "map", js("({b: {c: 'd'}, a: [2]})"),
        QVariantMap{{"a", QVariantList{2}}, {"b", QVariantMap{{"c", "d"}}}});
    row("list of strings", "names", QStringList{"a", "b"}, QVariantList{"a", "b"});
    row("undefined from QML", "none", js("undefined"), QString(""));
    row("invalid", "nothing", QVariant(), QString(""));
}

void ZelkoSettingsTest::roundTrip()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QVariant, stored);
    ZelkoSettingsHelper settings;
    settings.setValue(key, value);
    QVERIFY(settings.contains(key));
    QCOMPARE(settings.value(key), stored.isValid() ? stored : value);
    settings.setValue(key, QStringLiteral("replaced"));
    QCOMPARE(settings.value(key).toString(), QStringLiteral("replaced"));
}

void ZelkoSettingsTest::missingKeyReadsEmptyString()
{
    ZelkoSettingsHelper settings;
    const QVariant v = settings.value(QStringLiteral("never/written"));
    QVERIFY(v.isValid());
    QCOMPARE(v.userType(), int(QMetaType::QString));
    QCOMPARE(v.toString(), QString(""));
    QVERIFY(!settings.contains(QStringLiteral("never/written")));
    settings.remove(QStringLiteral("never/written"));
    QVERIFY(!settings.contains(QStringLiteral("never/written")));
}

void ZelkoSettingsTest::elementsShareOneStore()
{
    ZelkoSettingsHelper writer;
    ZelkoSettingsHelper reader;
    writer.setValue(QStringLiteral("shared"), 7);
    QCOMPARE(reader.value(QStringLiteral("shared")).toInt(), 7);
    reader.remove(QStringLiteral("shared"));
    QVERIFY(!writer.contains(QStringLiteral("shared")));
}

void ZelkoSettingsTest::removeGroupTakesSubKeys()
{
    ZelkoSettingsHelper settings;
    settings.setValue(QStringLiteral("history/0"), QStringLiteral("a"));
    settings.setValue(QStringLiteral("history/1/deep"), QStringLiteral("b"));
    settings.setValue(QStringLiteral("historyless"), QStringLiteral("c"));
    settings.remove(QStringLiteral("history"));
    QVERIFY(!settings.contains(QStringLiteral("history/0")));
    QVERIFY(!settings.contains(QStringLiteral("history/1/deep")));
    QVERIFY(settings.contains(QStringLiteral("historyless")));
}

void ZelkoSettingsTest::removeRootTakesEverything_data()
{
    QTest::addColumn<QString>("root");
    QTest::newRow("empty") << QString("");
    QTest::newRow("null") << QString();
    // QSettings drops leading, trailing and repeated slashes before it looks at a key, so a key
    // of slashes only names the root as well: it clears the store, it is not a key of its own.
    QTest::newRow("slash only, as QSettings reads it") << "/";
    QTest::newRow("slashes only, as QSettings reads it") << "///";
}

void ZelkoSettingsTest::removeRootTakesEverything()
{
    QFETCH(QString, root);
    ZelkoSettingsHelper settings;
    settings.remove(QString()); // what earlier cases left
    const QStringList keys{"top", "recent/0", "recent/1", "deep/a/b/c", "deep", "odd key=1"};
    for (const QString &k : keys)
        settings.setValue(k, k + "-value");
    for (const QString &k : keys)
        QVERIFY2(settings.contains(k), qPrintable(k));
    QSignalSpy changed(&settings, &ZelkoSettingsHelper::valueChanged);
    settings.remove(root);
    QStringList named;
    for (const QList<QVariant> &signal : qAsConst(changed))
        named << signal.first().toString();
    named.sort();
    QCOMPARE(named, QStringList({"deep", "deep/a/b/c", "odd key=1", "recent/0", "recent/1", "top"}));
    for (const QString &k : keys) {
        QVERIFY2(!settings.contains(k), qPrintable(k));
        const QVariant v = settings.value(k);
        QCOMPARE(v.userType(), int(QMetaType::QString));
        QCOMPARE(v.toString(), QString(""));
    }
    // The store stays usable after being emptied.
    settings.setValue(QStringLiteral("recent/0"), QStringLiteral("again"));
    QCOMPARE(settings.value(QStringLiteral("recent/0")).toString(), QStringLiteral("again"));
}

void ZelkoSettingsTest::badKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name"); // the key the value goes under; empty: none
    QTest::newRow("empty") << QString() << "";
    QTest::newRow("slash only") << "/"
                                << "";
    QTest::newRow("slashes only") << "///"
                                  << "";
    QTest::newRow("doubled slashes") << "//a//b//"
                                     << "a/b";
    QTest::newRow("backslash") << "a\\b"
                               << "a\\b";
    QTest::newRow("nul character") << QString(QChar(0)) + "x" << QString(QChar(0)) + "x";
}

void ZelkoSettingsTest::badKeys()
{
    // Whatever QML passes must neither crash, warn nor disturb other keys; every element
    // hears of a change, once.
    QFETCH(QString, key);
    QFETCH(QString, name);
    ZelkoSettingsHelper settings, other;
    settings.setValue(QStringLiteral("keep"), QStringLiteral("kept"));
    LogCapture log;
    QSignalSpy changed(&other, &ZelkoSettingsHelper::valueChanged);
    settings.setValue(key, QStringLiteral("x"));
    settings.setValue(key, QStringLiteral("x"));
    QCOMPARE(settings.contains(key), !name.isEmpty());
    // value() keeps the promise contains() makes: a key that holds nothing reads as "".
    QCOMPARE(settings.value(key),
             QVariant(name.isEmpty() ? QString(QLatin1String("")) : QStringLiteral("x")));
    QCOMPARE(changed.count(), name.isEmpty() ? 0 : 1);
    if (!name.isEmpty()) {
        QCOMPARE(changed.first().first().toString(), name);
        other.remove(name);
        QCOMPARE(changed.count(), 2);
        QVERIFY(!settings.contains(key));
    }
    QCOMPARE(settings.value(QStringLiteral("keep")).toString(), QStringLiteral("kept"));
    QCOMPARE(log.otherLines, QStringList());
}

void ZelkoSettingsTest::writtenToFileAtShutdown()
{
    ZelkoSettingsHelper settings;
    settings.setValue(QStringLiteral("persist/me"), QStringLiteral("yes"));
    ZelkoQtRoot::destroy();
    QSettings file(m_config.filePath(QStringLiteral("Zelko/QtClient.conf")), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("persist/me")).toString(), QStringLiteral("yes"));
}

QTEST_GUILESS_MAIN(ZelkoSettingsTest)
#include "zelkosettingstest.moc"
