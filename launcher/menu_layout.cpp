#include "menu_layout.h"

namespace zelkor::launcher {

const std::array<const char*, kEntryCount>& EntryLabels()
{
    static const std::array<const char*, kEntryCount> labels = {
        "平抛运动", "运动的合成", "匀速圆周运动", "机械能守恒定律",
        "单摆", "阻尼振动", "机器人轨迹跟踪",
        "离心轨道", "伽利略实验", "自由落体",
    };
    return labels;
}

int EntryColumn(int index)
{
    if (index < 4) return 0;
    if (index < 7) return 1;
    return 2;
}

const MenuLayout& SmallLayout()
{
    static const MenuLayout layout{
        kSmallPictureId,
        {800, 600},
        {{
            {51, 175, 130, 193},
            {52, 204, 146, 222},
            {51, 235, 161, 252},
            {51, 266, 177, 282},
            {296, 174, 344, 191},
            {294, 202, 374, 220},
            {294, 233, 422, 252},
            {536, 175, 619, 191},
            {537, 205, 634, 221},
            {536, 236, 619, 253},
        }},
    };
    return layout;
}

const MenuLayout& LargeLayout()
{
    static const MenuLayout layout{
        kLargePictureId,
        {1024, 768},
        {{
            {64, 223, 167, 247},
            {67, 262, 187, 284},
            {66, 303, 206, 322},
            {68, 340, 226, 361},
            {375, 221, 439, 246},
            {376, 262, 480, 281},
            {375, 300, 540, 323},
            {686, 226, 794, 245},
            {684, 263, 813, 282},
            {684, 302, 791, 322},
        }},
    };
    return layout;
}

const MenuLayout& LayoutForScreenHeight(int screenHeight)
{
    return screenHeight < 768 ? SmallLayout() : LargeLayout();
}

MenuPoint CentredOrigin(MenuSize outer, MenuSize inner)
{
    // C++ integer division truncates toward zero, which is the rounding wanted here.
    return {(outer.width - inner.width) / 2, (outer.height - inner.height) / 2};
}

int HitTest(const MenuLayout& layout, MenuPoint origin, MenuPoint point)
{
    const MenuPoint local{point.x - origin.x, point.y - origin.y};
    for (int i = 0; i < kEntryCount; ++i) {
        if (layout.hot[static_cast<std::size_t>(i)].Contains(local)) return i;
    }
    return -1;
}

}  // namespace zelkor::launcher
