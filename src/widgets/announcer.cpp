#include "announcer.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QRegularExpression>

namespace {

QAccessibleInterface* notificationFor(const QString& className, QObject* object)
{
    if (className != QLatin1String("Announcer") || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Notification);
}

} // namespace

Announcer::Announcer(QWidget* owner) : QWidget(owner)
{
    static const bool registered = [] {
        QAccessible::installFactory(notificationFor);
        return true;
    }();
    Q_UNUSED(registered);
    setObjectName(QStringLiteral("announcer"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // No size: nothing to paint, nothing under the mouse, nothing covered. It is shown
    // with its first text, so that it never appears empty.
    setGeometry(0, 0, 0, 0);
    hide();
}

QString Announcer::spoken(const QString& text)
{
    static const QRegularExpression breaks(QStringLiteral("\\s*[\\r\\n]+\\s*"));
    return text.trimmed().replace(breaks, QStringLiteral(" "));
}

void Announcer::say(QWidget* owner, const QString& text)
{
    const QString said = spoken(text);
    if (said.isEmpty())
        return;
    auto* announcer = owner->findChild<Announcer*>(QString(), Qt::FindDirectChildrenOnly);
    if (!announcer)
        announcer = new Announcer(owner);
    announcer->setAccessibleName(said);
    if (announcer->isHidden()) {
        announcer->show();
        return;
    }
    // The same text twice is still said twice: the notification appears again.
    QAccessibleEvent shown(announcer, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}
