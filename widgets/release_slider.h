#pragma once
// A horizontal slider that reports its position only when the user lets go of it after pressing it
// with the mouse (a drag of the thumb, or a click in its channel). Keyboard and wheel steps move the
// thumb but report nothing: the windows apply a setting when the mouse releases the slider.

#include <QSlider>

namespace zelkor::widgets {

struct SliderSetup {
    int minimum = 0;
    int maximum = 100;
    int position = 0;
    int lineStep = 1;
    int pageStep = 0;      // 0: a fifth of the range, at least 1
    int tickInterval = 0;  // 0: no tick marks; otherwise marks below the channel
};

class CReleaseSlider : public QSlider {
    Q_OBJECT
public:
    explicit CReleaseSlider(QWidget* parent = nullptr);

    // A visible child of parent at rect with the control id. Fails without a parent.
    bool Create(int id, const QRect& rect, QWidget* parent);
    // Range, position and steps; reports nothing.
    void Configure(const SliderSetup& setup);

signals:
    // The mouse let go of the slider; `position` is where it stands now.
    void released(int position);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    bool held_ = false;  // a mouse press on the slider that has not been let go yet
};

}  // namespace zelkor::widgets
