#include "centri_railway.h"

namespace zelkor::experiments {

CDlgTdCentriRailway::CDlgTdCentriRailway(CWindowKey key, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CDlgTdBallOrbit(key,
                      Variant{kCentriRailwayIndex, QStringLiteral("离心轨道"), false, QColor(255, 0, 0), QColor(255, 0, 0),
                              QColor(0, 0, 255)},
                      parent, std::move(platform))
{
}

int CDlgTdCentriRailway::SeriesForNextPoint() const
{
    // After a deletion the red series fills up again to its 20 points.
    return series_[1].x.size() < kFirstPoints ? 1 : 3;
}

}  // namespace zelkor::experiments
