#pragma once
// Notifications between the text boxes, their edit fields and the experiment windows.
//
// The windows were designed around numbered window messages. Here a message is a CZelMessageEvent sent
// synchronously (QCoreApplication::sendEvent) to the receiving widget, which sees it in event(); the
// numbers stay as they were so that handlers read the same as the design:
//   kValueChangedMessage (1039): "the value in an edit field changed". A CEasyEdit sends it to its buddy
//   on every change of its text; a CZelTextBox that receives it sends it on to its parent widget.
// Enter and Escape pressed in a CEasyEdit are sent to the buddy as an ordinary QKeyEvent key press with
// the same key and consumed, so they never reach the dialog's default-button and reject handling.

#include <QEvent>
#include <QtGlobal>

class QObject;

namespace zelkor::widgets {

inline constexpr int kUserMessageBase = 0x0400;
inline constexpr int kValueChangedMessage = kUserMessageBase + 15;  // 1039
static_assert(kValueChangedMessage == 1039);

inline constexpr int kKeyCodeEnter = 13;
inline constexpr int kKeyCodeEscape = 27;

class CZelMessageEvent : public QEvent {
public:
    CZelMessageEvent(int message, qintptr wParam, qintptr lParam)
        : QEvent(Type()), message_(message), wParam_(wParam), lParam_(lParam)
    {
    }
    static QEvent::Type Type();
    int Message() const { return message_; }
    qintptr WParam() const { return wParam_; }
    qintptr LParam() const { return lParam_; }

private:
    int message_;
    qintptr wParam_;
    qintptr lParam_;
};

// Sends message to target and returns once target has handled it (does nothing for a null target).
// Returns whether the target accepted the event.
bool SendZelMessage(QObject* target, int message, qintptr wParam = 0, qintptr lParam = 0);

}  // namespace zelkor::widgets
