#include "zelkostaticdata.h"

#include <QDeviceInfo>
#include <QtTest>

class ZelkoStaticDataTest : public QObject
{
    Q_OBJECT
private slots:
    void infoText_data();
    void infoText();
    void infoFromDevice();
    void serviceUrlForm();
};

void ZelkoStaticDataTest::infoText_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all empty") << QStringList{"", "", "", "", ""}
                               << R"({imei:"",productName:"",model:"",osVersion:"",firmwareVersion:""})";
    QTest::newRow("plain")
        << QStringList{"356938035643809", "N9", "RM-696", "1.2", "PR1.3"}
        << R"({imei:"356938035643809",productName:"N9",model:"RM-696",osVersion:"1.2",firmwareVersion:"PR1.3"})";
    QTest::newRow("quote and backslash kept")
        << QStringList{"1", "say \"hi\"", "a\\b", " sp ", "ü"}
        << R"({imei:"1",productName:"say "hi"",model:"a\b",osVersion:" sp ",firmwareVersion:"ü"})";
}

void ZelkoStaticDataTest::infoText()
{
    QFETCH(QStringList, values);
    QFETCH(QString, expected);
    QCOMPARE(ZelkoStaticData::infoText(values[0], values[1], values[2], values[3], values[4]), expected);
}

void ZelkoStaticDataTest::infoFromDevice()
{
    QDeviceInfo device;
    const QString expected =
        ZelkoStaticData::infoText(device.imei(0), device.productName(), device.model(),
                                  device.version(QDeviceInfo::Os), device.version(QDeviceInfo::Firmware));
    for (int call = 0; call < 2; ++call) {
        QTest::ignoreMessage(QtDebugMsg, "**********MOBILITY_SYSTEMINFO************");
        QCOMPARE(ZelkoStaticData::info(), expected);
    }
    QVERIFY(expected.startsWith("{imei:\"" + ZelkoStaticData::uid() + "\","));
}

void ZelkoStaticDataTest::serviceUrlForm()
{
    const QUrl url(ZelkoStaticData::serviceUrl());
    QVERIFY(url.isValid());
    QCOMPARE(url.scheme(), QStringLiteral("http"));
    QVERIFY(!url.host().isEmpty());
    QVERIFY(ZelkoStaticData::serviceUrl().contains(":" + QString::number(url.port())));
    QCOMPARE(url.path().count('/'), 1);
    QVERIFY(url.path().size() > 1);
    const QString host = ZelkoStaticData::serviceHost();
    QVERIFY(!host.isEmpty());
    QVERIFY(!host.contains('/') && !host.contains(':'));
}

QTEST_GUILESS_MAIN(ZelkoStaticDataTest)
#include "zelkostaticdatatest.moc"
