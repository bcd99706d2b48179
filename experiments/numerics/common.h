#pragma once
// What the calculation families share: the base's value of pi, a computed curve and a picked stretch.

#include <cstddef>
#include <optional>
#include <vector>

namespace zelkor::experiments::numerics {

// The experiment base's constant; results must agree with it to the last digit, so no better pi.
inline constexpr double kPi = 3.1415926;

// A computed chart curve: x[i] pairs with y[i].
struct Curve {
    std::vector<double> x, y;
};

// Samples lo ... hi - 1 of a trace (hi itself does not take part).
struct PickSpan {
    std::size_t lo = 0, hi = 0;
    std::size_t Count() const { return hi - lo; }
};

// Orders the two indices of a range pick into a span. A pick over an empty drawn window reports -1;
// that pick is ignored. An index past the end is limited to the trace's length.
std::optional<PickSpan> OrderPick(long long first, long long last, std::size_t count);

}  // namespace zelkor::experiments::numerics
