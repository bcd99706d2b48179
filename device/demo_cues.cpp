#include "demo_cues.h"

#include "demo_sensor.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace zelkor::device {

namespace {

// The live demo sensors. A cue is delivered while the registry is locked, so a sensor cannot be
// destroyed (it unregisters first) in the middle of receiving one. Never destroyed: a sensor held by a
// static platform unregisters during static destruction, after function statics would be gone.
std::mutex& RegistryMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::vector<DemoSensor*>& Registry()
{
    static auto* sensors = new std::vector<DemoSensor*>;
    return *sensors;
}

}  // namespace

namespace detail {

void RegisterDemoSensor(DemoSensor* sensor)
{
    std::lock_guard lock(RegistryMutex());
    Registry().push_back(sensor);
}

void UnregisterDemoSensor(DemoSensor* sensor)
{
    std::lock_guard lock(RegistryMutex());
    auto& sensors = Registry();
    sensors.erase(std::remove(sensors.begin(), sensors.end(), sensor), sensors.end());
}

}  // namespace detail

void SendDemoCue(DemoCue cue)
{
    std::lock_guard lock(RegistryMutex());
    for (DemoSensor* sensor : Registry())
        sensor->Cue(cue);
}

bool DemoModeActive()
{
    std::lock_guard lock(RegistryMutex());
    return !Registry().empty();
}

std::vector<DemoHelperAction> DemoHelperActions()
{
    std::lock_guard lock(RegistryMutex());
    if (Registry().empty())
        return {};
    // A scenario's actions are fixed when it is made, so reading them needs no sensor lock.
    return Registry().front()->Scenario().HelperActions();
}

}  // namespace zelkor::device
