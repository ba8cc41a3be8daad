#include "treewalk.h"

#include <QAccessible>
#include <QJsonArray>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRectF>
#include <QTextDocumentFragment>

namespace {

// A finger's minimum, in logical pixels.
const qreal minimumControl = 44;
// Anything drawn beyond the whole-number grid by less than this is rounding.
const qreal slack = 0.5;

struct Walk
{
    QStringList readWhole;
    QRectF window;
    QJsonArray findings;
    QJsonObject texts;
    QJsonArray written;

    void find(const char *kind, const QQuickItem *item, const QRectF &rect)
    {
        QString name = item->objectName();
        if (name.isEmpty())
            name = QString::fromLatin1(item->metaObject()->className());
        for (const QQuickItem *up = item->parentItem(); up; up = up->parentItem())
            if (!up->objectName().isEmpty()) {
                name += QStringLiteral(" in ") + up->objectName();
                break;
            }
        findings.append(QJsonObject{{"kind", QString::fromLatin1(kind)},
                                    {"item", name},
                                    {"rect", QJsonArray{rect.x(), rect.y(), rect.width(), rect.height()}}});
    }

    // What a finger works: touch areas, buttons, text fields and scrolling views.
    static bool takesFinger(const QQuickItem *item)
    {
        for (const char *kind : {"QQuickMouseArea", "QQuickAbstractButton", "QQuickTextInput",
                                 "QQuickTextEdit", "QQuickFlickable"})
            if (item->inherits(kind))
                return true;
        return false;
    }

    static bool named(QQuickItem *item)
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(item);
        return iface && iface->role() != QAccessible::NoRole && iface->role() != QAccessible::Client
               && !iface->text(QAccessible::Name).isEmpty();
    }

    // Cut off: elided, overflowing its box, or its box not wholly shown (but for the part
    // scrolled out of a view, which a finger brings back).
    static bool cut(const QQuickItem *item, const QRectF &rect, const QRectF &shown)
    {
        if (shown.width() < rect.width() - slack || shown.height() < rect.height() - slack)
            return true;
        if (item->inherits("QQuickText"))
            return item->property("truncated").toBool()
                   || item->property("contentWidth").toReal() > item->width() + slack
                   || item->property("contentHeight").toReal() > item->height() + slack;
        if (item->inherits("QQuickTextInput") || item->inherits("QQuickTextEdit"))
            return item->property("contentWidth").toReal()
                   > item->width() - item->property("leftPadding").toReal()
                         - item->property("rightPadding").toReal() + slack;
        return false;
    }

    // clip: what the ancestors let show; fixed: the same without the scrolling views.
    void visit(QQuickItem *item, const QRectF &clip, const QRectF &fixed)
    {
        if (!item->isVisible() || item->opacity() <= 0)
            return;
        const QRectF rect = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
        const QRectF shown = rect & clip;
        if (!shown.isEmpty()) {
            if (!window.adjusted(-slack, -slack, slack, slack).contains(shown))
                find("outside the window", item, shown);
            // A field a finger writes in keeps half the window's width.
            if (item->inherits("QQuickTextInput") && rect.width() < window.width() / 2 - slack)
                find("narrow text field", item, rect);
            if (takesFinger(item)) {
                if (rect.width() < minimumControl - slack || rect.height() < minimumControl - slack)
                    find("small control", item, rect);
                // A touch area that fills a component speaks through the component.
                if (!named(item) && !(item->parentItem() && named(item->parentItem())))
                    find("unnamed control", item, rect);
            }
            if (readWhole.contains(item->objectName()) && cut(item, rect, rect & fixed))
                find("cut-off text", item, rect);
        }
        if (!item->objectName().isEmpty() && item->property("text").isValid()
            && !texts.contains(item->objectName()))
            texts.insert(item->objectName(), item->property("text").toString());
        // What is written on screen, as a person reads it; what is typed, and a field's
        // placeholder, belong to the field.
        if (item->inherits("QQuickTextInput") || item->inherits("QQuickTextEdit"))
            return;
        if (item->inherits("QQuickText") && !shown.isEmpty()) {
            QString text = item->property("text").toString();
            if (item->property("textFormat").toInt() != Qt::PlainText)
                text = QTextDocumentFragment::fromHtml(text).toPlainText();
            if (!text.trimmed().isEmpty())
                written.append(text.trimmed());
        }
        const bool clips = item->clip();
        const QRectF inner = clips ? clip & rect : clip;
        const QRectF innerFixed = clips && !item->inherits("QQuickFlickable") ? fixed & rect : fixed;
        const QList<QQuickItem *> children = item->childItems();
        for (QQuickItem *child : children)
            visit(child, inner, innerFixed);
    }
};

} // namespace

QJsonObject TreeWalk::walk(QQuickWindow *window, const QStringList &readWhole)
{
    Walk w;
    w.readWhole = readWhole;
    w.window = QRectF(QPointF(0, 0), QSizeF(window->size()));
    // No window clips what lies outside it here: that is what is looked for.
    const QRectF everywhere(-1e6, -1e6, 2e6, 2e6);
    w.visit(window->contentItem(), everywhere, everywhere);
    return QJsonObject{{"window", QJsonArray{window->width(), window->height()}},
                       {"dpr", window->devicePixelRatio()},
                       {"findings", w.findings},
                       {"texts", w.texts},
                       {"written", w.written}};
}

QVariantMap TreeWalker::walk(QQuickItem *item) const
{
    if (!item || !item->window())
        return QVariantMap();
    const QStringList readWhole =
        QString::fromLocal8Bit(qgetenv("ZELKO_TEST_READ_WHOLE")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    return TreeWalk::walk(item->window(), readWhole).toVariantMap();
}

void TreeWalk::registerForQml()
{
    QAccessible::setActive(true);
    qmlRegisterSingletonType<TreeWalker>(
        "ZelkoTest", 1, 0, "TreeWalk", [](QQmlEngine *, QJSEngine *) -> QObject * { return new TreeWalker; });
}
