#pragma once
// The demo sensor: an emulated sensor below the transport interface, so that everything above it runs
// the same code as with a real sensor.

#include "usb_platform.h"

#include <memory>

namespace zelkor::device {

enum class DemoPacing {
    RealTime,  // one report every 20 ms of the real clock, as the sensor sends them
    Unpaced,   // each read returns the next report at once (tests)
};

// A platform with one demo sensor attached, moving through the scenario of the experiment with this
// index (the host's experiment index).
std::shared_ptr<UsbPlatform> MakeDemoPlatform(int experimentIndex, DemoPacing pacing = DemoPacing::RealTime);

}  // namespace zelkor::device
