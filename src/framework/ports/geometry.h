// Geometry in pixels, shared by the ports.
#pragma once

namespace fw {

struct Point {
    int x = 0;
    int y = 0;
};

struct Size {
    int width = 0;
    int height = 0;
};

// A rectangle by its corner and size.
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// A rectangle by its edges (left and top inside, right and bottom outside).
struct Bounds {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const Bounds&) const = default;
};

} // namespace fw
