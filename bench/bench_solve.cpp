// Cost of solving one pair of distances, per variant (the worker does this for every kept report).
#include "acquisition/position_solving.h"

#include <benchmark/benchmark.h>

namespace {

void BM_Solve(benchmark::State& state)
{
    const auto solve = zelkor::acquisition::SolverFor(static_cast<int>(state.range(0)));
    double left = 0.2, right = 0.15, x = 0, y = 0;
    for (auto _ : state) {
        solve(left, right, x, y);
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
        left += 1e-9;
    }
}
BENCHMARK(BM_Solve)->Arg(0)->Arg(1)->Arg(2);

}  // namespace
