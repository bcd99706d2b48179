#pragma once
// For tests that drive modal windows: runs `check` once a top-level widget of type T is visible.
// It polls, so a window that never appears makes the test fail instead of hang.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace zelkor::testing {

template <typename T>
void WhenShown(std::function<void(T*)> check, bool* seen)
{
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) {
                timer->stop();
                timer->deleteLater();
                *seen = true;
                check(t);
                return;
            }
        }
        if (++*tries > 200) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

}  // namespace zelkor::testing

namespace zelkor::testing {

// The same, scoped: the watch ends with the object, so it cannot outlive the variables it writes to.
template <typename T>
class ShownWatcher {
public:
    explicit ShownWatcher(std::function<void(T*)> check) : check_(std::move(check))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) {
                    timer_.stop();
                    seen_ = true;
                    check_(t);
                    return;
                }
            }
        });
        timer_.start(10);
    }
    bool Seen() const { return seen_; }

private:
    std::function<void(T*)> check_;
    QTimer timer_;
    bool seen_ = false;
};

}  // namespace zelkor::testing
