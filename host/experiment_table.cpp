#include "experiment_table.h"

namespace zelkor::host {

const ExperimentEntry kExperimentTable[kExperimentCount] = {
    {0, "CDlgTdAcoustics", "平抛运动(2D)", std::nullopt},
    {1, "CDlgTdComMotions", "运动的合成", std::nullopt},
    {2, "CDlgTdCircularMotior", "匀速圆周运动", true},
    {3, "CDlgTdMechanical", "机械能守恒定律(2D)", std::nullopt},
    {4, "CDlgTdSinglePendulum", "单摆", std::nullopt},
    {5, "CDlgTdCircularMotior", "阻尼振动", false},
    {6, "CDlgTdRobotTrace", "机器人轨迹跟踪", std::nullopt},
    {7, "CDlgTdCentriRailway", "离心轨道", std::nullopt},
    {8, "CDlgTdGalileo", "伽利略斜面实验(2D)", std::nullopt},
    {9, "CDlgTdFreelyFall", "自由落体", std::nullopt},
    {10, "CDlgTdBallOrbit", "球面轨道", std::nullopt},
    {11, nullptr, "", std::nullopt},
    {12, "CDlgTdCalibration", "校准测试软件(2D)", std::nullopt},
};

const ExperimentEntry* FindExperiment(int index)
{
    if (static_cast<unsigned>(index) > 12u)
        return nullptr;
    const ExperimentEntry& entry = kExperimentTable[index];
    return entry.dialogClass ? &entry : nullptr;
}

}  // namespace zelkor::host
