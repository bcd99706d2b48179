#include "zel_messages.h"

#include <QCoreApplication>
#include <QObject>

namespace zelkor::widgets {

QEvent::Type CZelMessageEvent::Type()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool SendZelMessage(QObject* target, int message, qintptr wParam, qintptr lParam)
{
    if (!target)
        return false;
    CZelMessageEvent event(message, wParam, lParam);
    return QCoreApplication::sendEvent(target, &event);
}

}  // namespace zelkor::widgets
