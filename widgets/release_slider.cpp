#include "release_slider.h"

#include "control_ids.h"

#include <QMouseEvent>

#include <algorithm>

namespace zelkor::widgets {

CReleaseSlider::CReleaseSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

bool CReleaseSlider::Create(int id, const QRect& rect, QWidget* parent)
{
    return PlaceChildControl(this, parent, id, rect);
}

void CReleaseSlider::Configure(const SliderSetup& setup)
{
    const QSignalBlocker quiet(this);
    setRange(setup.minimum, setup.maximum);
    setSingleStep(std::max(1, setup.lineStep));
    setPageStep(setup.pageStep > 0 ? setup.pageStep : std::max(1, (setup.maximum - setup.minimum) / 5));
    setTickInterval(setup.tickInterval);
    setTickPosition(setup.tickInterval > 0 ? QSlider::TicksBelow : QSlider::NoTicks);
    setValue(setup.position);
}

void CReleaseSlider::mousePressEvent(QMouseEvent* e)
{
    QSlider::mousePressEvent(e);
    // The slider ignores presses it does nothing with (other buttons); those are no use of the slider.
    if (e->isAccepted())
        held_ = true;
}

void CReleaseSlider::mouseReleaseEvent(QMouseEvent* e)
{
    QSlider::mouseReleaseEvent(e);
    if (held_ && e->buttons() == Qt::NoButton) {
        held_ = false;
        emit released(value());
    }
}

void CReleaseSlider::changeEvent(QEvent* e)
{
    // A slider disabled under the mouse gets no release; the next press starts afresh.
    if (e->type() == QEvent::EnabledChange && !isEnabled())
        held_ = false;
    QSlider::changeEvent(e);
}

}  // namespace zelkor::widgets
