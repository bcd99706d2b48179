#pragma once
// Geometry of the picture menu: which picture suits the screen, where it sits, and which entry a
// point hits. Plain functions, so the numbers can be checked without a window.

#include <array>

namespace zelkor::launcher {

struct MenuPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const MenuPoint&, const MenuPoint&) = default;
};

struct MenuSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const MenuSize&, const MenuSize&) = default;
};

// Half-open: left <= x < right, top <= y < bottom.
struct HotRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool Contains(MenuPoint p) const { return left <= p.x && p.x < right && top <= p.y && p.y < bottom; }
};

inline constexpr int kEntryCount = 10;
inline constexpr int kSmallPictureId = 148;  // 800 x 600
inline constexpr int kLargePictureId = 149;  // 1024 x 768

struct MenuLayout {
    int pictureId = 0;
    MenuSize pictureSize;
    std::array<HotRect, kEntryCount> hot{};  // picture coordinates, entry index order
};

// The labels of the ten entries, index order; entry i starts experiment i of the host.
const std::array<const char*, kEntryCount>& EntryLabels();
// Which column of the band each entry sits in (0, 1 or 2).
int EntryColumn(int index);

const MenuLayout& SmallLayout();
const MenuLayout& LargeLayout();
// Screens below 768 pixels high get the 800 x 600 picture.
const MenuLayout& LayoutForScreenHeight(int screenHeight);

// ((outer - inner) / 2) per axis with signed division truncating toward zero; negative when the
// picture is larger than the area, which then shows its middle part.
MenuPoint CentredOrigin(MenuSize outer, MenuSize inner);

// Index of the first hot rectangle (index order) containing `point - origin`, or -1.
int HitTest(const MenuLayout& layout, MenuPoint origin, MenuPoint point);

}  // namespace zelkor::launcher
