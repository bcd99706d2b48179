#include "common.h"

#include <algorithm>

namespace zelkor::experiments::numerics {

std::optional<PickSpan> OrderPick(long long first, long long last, std::size_t count)
{
    if (first < 0 || last < 0)
        return std::nullopt;
    const auto limit = [count](long long i) { return std::min(static_cast<std::size_t>(i), count); };
    return PickSpan{limit(std::min(first, last)), limit(std::max(first, last))};
}

}  // namespace zelkor::experiments::numerics
