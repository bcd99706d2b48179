#pragma once
// CDlgTdCentriRailway: the centrifugal track (index 7, "离心轨道"). The spherical-track window without the
// theory arc: the ball runs down a quarter-pipe, round a loop and out along the floor; the first points
// of a recording are drawn red and every later one black, the dotted path line runs through all.

#include "ball_orbit.h"

namespace zelkor::experiments {

inline constexpr int kCentriRailwayIndex = 7;

// Built by MakeExperimentWindow<CDlgTdCentriRailway>(parent, platform).
class CDlgTdCentriRailway : public CDlgTdBallOrbit {
    Q_OBJECT
public:
    explicit CDlgTdCentriRailway(CWindowKey key, QWidget* parent = nullptr,
                                 std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    static constexpr size_t kFirstPoints = 20;  // red, in series 1; the later ones black, in series 3

protected:
    int SeriesForNextPoint() const override;
};

}  // namespace zelkor::experiments
