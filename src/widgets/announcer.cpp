#include "announcer.h"

#include <QAccessible>
#include <QAccessibleWidget>

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

// A run of blanks that holds a line break becomes one space; other runs stay as they are. A
// loop, not a regular expression: the first text is said at start-up, where the expression
// engine alone would add half a megabyte to the window's memory.
QString Announcer::spoken(const QString& text)
{
    const QString trimmed = text.trimmed();
    QString said;
    said.reserve(trimmed.size());
    for (qsizetype i = 0; i < trimmed.size();) {
        qsizetype end = i;
        bool lineBreak = false;
        while (end < trimmed.size() && trimmed[end].isSpace()) {
            lineBreak = lineBreak || trimmed[end] == u'\r' || trimmed[end] == u'\n';
            ++end;
        }
        if (end == i)
            said += trimmed[end++];
        else if (lineBreak)
            said += u' ';
        else
            said += QStringView(trimmed).sliced(i, end - i);
        i = end;
    }
    return said;
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
