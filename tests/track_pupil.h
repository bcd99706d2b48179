#pragma once
// The windows that follow a moving object (composition of motions, the spherical and centrifugal tracks,
// robot trace), driven with the shared pupil of window_pupil.h, and in addition:
// - exact positions handed to the window at one tick (the sample queue is what the worker fills), for
//   edges that reports in single-precision millimetres cannot hit;
// - the period slider dragged to a position and let go;
// - a window with no sensor at all.
#include "experiments/track_experiment.h"
#include "tests/support/slider_handle.h"
#include "tests/support/when_shown.h"
#include "tests/support/window_pupil.h"

#include <QMessageBox>

#include <vector>

namespace zelkor::testing {

struct Pos {
    double x = 0.0, y = 0.0;
};

// Answers the next message box and remembers its text.
struct MessageCatcher {
    QString text;
    ShownWatcher<QMessageBox> watcher{[this](QMessageBox* box) {
        text = box->text();
        box->accept();
    }};
};

// Drags the slider's thumb until it stands at `position`, and lets go.
inline void DragSlider(QSlider* slider, int position)
{
    const QPoint from = SliderHandleCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, from);
    const int direction = position > slider->value() ? 1 : -1;
    QPoint at = from;
    for (int i = 0; i < 400 && slider->value() != position; ++i) {
        at += QPoint(direction, 0);
        QTest::mouseMove(slider, at);
    }
    QTest::mouseRelease(slider, Qt::LeftButton, {}, at);
    EXPECT_EQ(slider->value(), position);
}

// A scripted sensor that answers identify and sends nothing by itself.
template <class Window>
class TrackPupil : public WindowPupil<Window> {
public:
    TrackPupil() : WindowPupil<Window>(typename WindowPupil<Window>::Versions{}) {}

    Window& W() const { return *this->window; }
    const widgets::CChartSeries& Series(int i) const { return W().Series(i); }
    void DragSlider(int position) { testing::DragSlider(W().Slider(), position); }

    // Positions as the window shows them (sample minus its zero point), all at one tick.
    void Feed(const std::vector<Pos>& shown)
    {
        for (const Pos& p : shown) {
            acquisition::DataPck s;
            s.x = p.x + W().X0();
            s.y = p.y + W().Y0();
            W().m_sampleQueue.Push(s);
        }
        W().RefreshView();
    }
    void Feed(Pos p) { Feed(std::vector<Pos>{p}); }
};

template <class Window>
class NoSensorPupil : public WindowDriver<Window> {
public:
    NoSensorPupil() { this->Open(std::make_shared<ScriptedPlatform>()); }
};

template <class Window>
class TrackDemoPupil : public DemoWindowPupil<Window> {
public:
    explicit TrackDemoPupil(int experimentIndex) : DemoWindowPupil<Window>(experimentIndex) {}

    Window& W() const { return *this->window; }
    const widgets::CChartSeries& Series(int i) const { return W().Series(i); }
};

}  // namespace zelkor::testing
