#pragma once
// What the pupil does, told to the demo sensor so that its scenario can follow like a helper at the
// apparatus would. Without an active demo sensor these calls do nothing.

namespace zelkor::device {

enum class DemoCue { ZeroSet, RecordingStarted, RecordingStopped };

void SendDemoCue(DemoCue cue);
bool DemoModeActive();

}  // namespace zelkor::device
