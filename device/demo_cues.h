#pragma once
// What the pupil does, told to the demo sensor so that its scenario can follow like a helper at the
// apparatus would; and what the helper can be asked to do. Without an active demo sensor these calls
// do nothing. Windows send the cues of their own buttons; the experiment base sends the acquisition
// cues; the "演示模式" mark sends the helper actions. Nothing else couples a window to the demo.

#include <string>
#include <vector>

namespace zelkor::device {

enum class DemoCue {
    AcquisitionStarted,  // the start sequence ran; the first one starts the scenario clock
    AcquisitionStopped,  // the stop sequence ran: whatever was recorded has ended
    ZeroSet,             // a zero point (or equilibrium position) was taken from the current position
    CalibrationSet,      // a calibration point was taken (vertical or horizontal calibration)
    RecordingStarted,    // samples are being recorded from now on
    RecordingStopped,    // recording ended: stop button, the window's own end rule, or clear mid-recording
    Cleared,             // "清屏": the display was emptied, and with it any recording under way
    // Helper actions, offered by the "演示模式" mark.
    HelperToCalibrationPoint,  // bring the object to the calibration point and hold it there
    HelperPutBack,             // put the object back to the pose where the pupil zeroes it
};
inline constexpr int kDemoCueCount = static_cast<int>(DemoCue::HelperPutBack) + 1;

void SendDemoCue(DemoCue cue);
bool DemoModeActive();

// One thing the pupil may ask the helper at the apparatus to do, with the menu text.
struct DemoHelperAction {
    DemoCue cue;
    std::string text;  // UTF-8
};
// The helper actions of the live demo sensor's scenario (empty without a demo sensor).
std::vector<DemoHelperAction> DemoHelperActions();

}  // namespace zelkor::device
