// Time of one whole estimation for networks of 100 to 21,845 points (the
// most one profile value can carry): with its listing formatted in full and
// discarded, and with the listing sent to a null stream.
#include "estimation/seven_parameters.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ostream>
#include <random>
#include <streambuf>
#include <vector>

namespace {

using namespace sevenparam;

// Accepts every byte and keeps none.
class discarding_buffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// A country-sized ECEF network (metres) and its image under a known
// transformation, with millimetre noise.
void make_network(int points, std::vector<double>& source, std::vector<double>& target)
{
    const double a = 6378137.0, e2 = 6.69437999014e-3, degree = std::acos(-1.0) / 180;
    std::mt19937 random(42);
    std::uniform_real_distribution<double> lat(30, 40), lon(110, 120), height(0, 2000);
    std::normal_distribution<double> noise(0, 0.001);
    parameter_vector truth;
    truth << 0, 0, 0, 1.2e-5, -2.3e-5, 3.1e-5, 2.1e-5;
    source.clear();
    target.clear();
    for (int i = 0; i < points; ++i) {
        const double phi = lat(random) * degree, lambda = lon(random) * degree, h = height(random);
        const double n = a / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
        const double x = (n + h) * std::cos(phi) * std::cos(lambda);
        const double y = (n + h) * std::cos(phi) * std::sin(lambda);
        const double z = (n * (1 - e2) + h) * std::sin(phi);
        source.insert(source.end(), {x, y, z});
        const point_row q = transform_point(x, y, z, truth);
        target.insert(target.end(), {q(0) - 110.5 + noise(random), q(1) + 35.25 + noise(random),
                                     q(2) + 82.75 + noise(random)});
    }
}

adjustment_result estimate(const std::vector<double>& source, const std::vector<double>& target,
                           std::ostream& listing)
{
    return estimate_seven_parameters(source.data(), source.size(), target.data(), target.size(),
                                     listing);
}

// The whole estimation with its listing formatted in full and discarded.
void estimate_with_listing(benchmark::State& state)
{
    std::vector<double> source, target;
    make_network(static_cast<int>(state.range(0)), source, target);
    discarding_buffer buffer;
    std::ostream listing(&buffer);
    for (auto _ : state)
        benchmark::DoNotOptimize(estimate(source, target, listing));
    state.SetComplexityN(state.range(0));
}

// The estimation alone: a stream without a buffer takes no output, so the
// listing is not formatted.
void estimate_to_null_stream(benchmark::State& state)
{
    std::vector<double> source, target;
    make_network(static_cast<int>(state.range(0)), source, target);
    std::ostream null_stream(nullptr);
    for (auto _ : state)
        benchmark::DoNotOptimize(estimate(source, target, null_stream));
    state.SetComplexityN(state.range(0));
}

// Network sizes up to the most one profile value can carry; linear growth
// shows in the fitted complexity.
void network_sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(100)->Arg(1000)->Arg(4000)->Arg(21845);
    b->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}
BENCHMARK(estimate_with_listing)->Apply(network_sizes);
BENCHMARK(estimate_to_null_stream)->Apply(network_sizes);

} // namespace

BENCHMARK_MAIN();
