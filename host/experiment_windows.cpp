#include "experiment_windows.h"

#include "experiments/ball_orbit.h"
#include "experiments/calibration_tool.h"
#include "experiments/centri_railway.h"
#include "experiments/circular_motion.h"
#include "experiments/com_motions.h"
#include "experiments/free_fall.h"
#include "experiments/galileo.h"
#include "experiments/mechanical_energy.h"
#include "experiments/projectile.h"
#include "experiments/robot_trace.h"
#include "experiments/single_pendulum.h"
#include "widgets/picture_button.h"

namespace zelkor::host {

namespace {

using acquisition::CDlgTdExpBase;
using acquisition::MakeExperimentWindow;
using Builder = std::unique_ptr<CDlgTdExpBase> (*)(const ExperimentEntry&);

template <class Window>
std::unique_ptr<CDlgTdExpBase> Build(const ExperimentEntry&)
{
    return MakeExperimentWindow<Window>();
}

// Uniform circular motion and damped vibration share one window; the table gives its mode.
std::unique_ptr<CDlgTdExpBase> BuildCircularMotion(const ExperimentEntry& entry)
{
    return MakeExperimentWindow<experiments::CDlgTdCircularMotior>(entry.circularMode.value_or(false));
}

struct WindowBuilder {
    int index;
    Builder build;
};

// One line per experiment window; an index without one opens the bare frame.
const WindowBuilder kWindows[] = {
    {experiments::kProjectileIndex, &Build<experiments::CDlgTdAcoustics>},
    {experiments::kGalileoIndex, &Build<experiments::CDlgTdGalileo>},
    {experiments::kFreeFallIndex, &Build<experiments::CDlgTdFreelyFall>},
    {experiments::kComMotionsIndex, &Build<experiments::CDlgTdComMotions>},
    {experiments::kBallOrbitIndex, &Build<experiments::CDlgTdBallOrbit>},
    {experiments::kCentriRailwayIndex, &Build<experiments::CDlgTdCentriRailway>},
    {experiments::kRobotTraceIndex, &Build<experiments::CDlgTdRobotTrace>},
    {experiments::kMechanicalEnergyIndex, &Build<experiments::CDlgTdMechanical>},
    {experiments::kCalibrationToolIndex, &Build<experiments::CDlgTdCalibration>},
    {experiments::kSinglePendulumIndex, &Build<experiments::CDlgTdSinglePendulum>},
    {experiments::kCircularMotionIndex, &BuildCircularMotion},
    {experiments::kDampedVibrationIndex, &BuildCircularMotion},
};

}  // namespace

std::unique_ptr<CDlgTdExpBase> BuildExperimentDialog(int index)
{
    const ExperimentEntry* entry = FindExperiment(index);
    if (!entry)
        return nullptr;
    for (const WindowBuilder& window : kWindows)
        if (window.index == index)
            return window.build(*entry);
    return MakeExperimentWindow<CExperimentFrameDialog>(*entry);
}

CExperimentFrameDialog::CExperimentFrameDialog(acquisition::CWindowKey key, const ExperimentEntry& entry,
                                               QWidget* parent)
    : CDlgTdExpBase(key, entry.index, parent)
{
    // No experiment of its own yet, so no start and stop commands.
    FrameButton(acquisition::kIdStart)->hide();
    FrameButton(acquisition::kIdStop)->hide();
    InitFrame(QString::fromUtf8(entry.title),
              entry.index == kCalibrationIndex ? acquisition::FrameTemplate::k705 : acquisition::FrameTemplate::k170);
}

void CExperimentFrameDialog::resizeEvent(QResizeEvent* event)
{
    CDlgTdExpBase::resizeEvent(event);
    LayoutBottomButtonBar({});
}

}  // namespace zelkor::host
