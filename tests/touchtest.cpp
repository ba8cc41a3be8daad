#include "referenceservice.h"
#include "zelkoimageprovider.h"
#include "zelkoqtroot.h"
#include "zelkoregistration.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QtTest>

#include <memory>

// The client's screens at phone size by touch alone, against the real service: tap the
// query field, write with the input method (a phone's on-screen keyboard commits text; it
// sends no key presses), tap Search, flick the results, tap one for its details, tap Back.
// Not one mouse event is sent.
class TouchTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void road_data();
    void road();

private:
    void tap(QQuickItem *item);
    void drag(QQuickItem *item, QPointF by);
    QQuickItem *find(const char *objectName) const;

    ReferenceService m_service;
    decltype(QTest::createTouchDevice()) m_finger = nullptr;
    std::unique_ptr<QQuickView> m_view;
};

void TouchTest::initTestCase()
{
    zelkoRegisterQmlTypes();
    m_finger = QTest::createTouchDevice();
    QVERIFY2(m_service.startAsService(), qPrintable(m_service.log()));
}

void TouchTest::cleanupTestCase()
{
    m_view.reset();
    m_service.stop();
    ZelkoQtRoot::destroy();
}

QQuickItem *TouchTest::find(const char *objectName) const
{
    // The page on top of the stack first: the search page stays beneath the others.
    const QQuickItem *top = m_view->rootObject()
                                ->property("stack")
                                .value<QObject *>()
                                ->property("currentItem")
                                .value<QQuickItem *>();
    QQuickItem *item = top->findChild<QQuickItem *>(QLatin1String(objectName));
    return item ? item : m_view->rootObject()->findChild<QQuickItem *>(QLatin1String(objectName));
}

void TouchTest::tap(QQuickItem *item)
{
    QVERIFY(item && item->isVisible());
    const QPoint at = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    QTest::touchEvent(m_view.get(), m_finger).press(0, at, m_view.get());
    QTest::touchEvent(m_view.get(), m_finger).release(0, at, m_view.get());
}

void TouchTest::drag(QQuickItem *item, QPointF by)
{
    QPointF at = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::touchEvent(m_view.get(), m_finger).press(0, at.toPoint(), m_view.get());
    for (int step = 0; step < 10; ++step) {
        at += by / 10;
        QTest::touchEvent(m_view.get(), m_finger).move(0, at.toPoint(), m_view.get());
    }
    QTest::touchEvent(m_view.get(), m_finger).release(0, at.toPoint(), m_view.get());
}

void TouchTest::road_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("portrait") << QSize(360, 740);
    QTest::newRow("landscape") << QSize(740, 360);
}

void TouchTest::road()
{
    QFETCH(QSize, size);
    m_view.reset(new QQuickView);
    m_view->engine()->addImageProvider(QStringLiteral("res"),
                                       new ZelkoImageProvider(QQmlImageProviderBase::Image));
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    m_view->setSource(QUrl::fromLocalFile(QStringLiteral(ZELKO_QML_DIR "/ZelkoApp.qml")));
    m_view->resize(size);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QObject *client = m_view->rootObject()
                          ->property("searchPage")
                          .value<QObject *>()
                          ->property("client")
                          .value<QObject *>();
    QTRY_COMPARE_WITH_TIMEOUT(client->property("status").toString(), QStringLiteral("results"), 20000);

    // A query written into the field as a phone's keyboard writes it.
    QQuickItem *field = find("queryField");
    tap(field);
    QTRY_VERIFY(field->hasActiveFocus());
    QInputMethodEvent write;
    write.setCommitString(QStringLiteral("lib"), -field->property("cursorPosition").toInt(),
                          field->property("text").toString().size());
    QGuiApplication::sendEvent(field, &write);
    QCOMPARE(field->property("text").toString(), QStringLiteral("lib"));
    tap(find("searchButton"));
    QTRY_COMPARE_WITH_TIMEOUT(client->property("query").toString(), QStringLiteral("lib"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(client->property("status").toString(), QStringLiteral("results"), 20000);

    // Up the list with a finger, until it comes to rest further down.
    QQuickItem *list = find("resultsList");
    drag(list, QPointF(0, -list->height() / 2));
    QTRY_VERIFY_WITH_TIMEOUT(!list->property("moving").toBool(), 20000);
    const qreal contentY = list->property("contentY").toReal();
    QVERIFY2(contentY > 0, qPrintable(QString::number(contentY)));

    // The row under the finger opens its details; Back returns to the list.
    QQuickItem *row = nullptr;
    QMetaObject::invokeMethod(list, "itemAt", Q_RETURN_ARG(QQuickItem *, row),
                              Q_ARG(qreal, list->width() / 2), Q_ARG(qreal, contentY + list->height() / 2));
    QVERIFY(row);
    const QString name = row->property("name").toString();
    tap(row);
    QObject *stack = m_view->rootObject()->property("stack").value<QObject *>();
    QTRY_COMPARE(stack->property("depth").toInt(), 2);
    QObject *details = stack->property("currentItem").value<QObject *>();
    QCOMPARE(details->property("name").toString(), name);
    QTRY_COMPARE_WITH_TIMEOUT(details->property("status").toString(), QStringLiteral("shown"), 20000);
    QTRY_VERIFY(!stack->property("busy").toBool());
    tap(find("backButton"));
    QTRY_COMPARE(stack->property("depth").toInt(), 1);
    QCOMPARE(list->property("contentY").toReal(), contentY);
}

QTEST_MAIN(TouchTest)
#include "touchtest.moc"
