#pragma once
// Where a slider's thumb is, for tests that press and drag it as a user does.

#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

namespace zelkor::testing {

inline QPoint SliderHandleCentre(const QSlider* slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.subControls = QStyle::SC_All;
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider).center();
}

}  // namespace zelkor::testing
