#include "tools/firdesign/Remez.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <stdexcept>

// Both filter types are written as A(w) = Q(w) P(w) with P(w) = sum_{k<r} c_k cos(k w), r = N/2,
// and Q(w) = cos(w/2) (symmetric) or sin(w/2) (antisymmetric). Minimising W (D - Q P) is then the
// polynomial problem of minimising W' (D' - P) with W' = W Q and D' = D / Q, in x = cos(w), whose
// best approximation of degree r - 1 equioscillates on r + 1 points (the reference).

namespace firdesign {
namespace {

using Real = long double;

constexpr Real kPi = std::numbers::pi_v<Real>;

// A grid point: its frequency, x = cos(2 pi f), and the transformed desired value and weight.
struct GridPoint {
    double f;
    Real x;
    Real desired;
    Real weight;
};

// The grid with the index range of every band (bands never share a point).
struct Grid {
    std::vector<GridPoint> points;
    std::vector<std::pair<int, int>> bands; // first and last index of each band
};

Real fixedFactor(Symmetry symmetry, double f) {
    const Real half = kPi * static_cast<Real>(f);
    return symmetry == Symmetry::Symmetric ? std::cos(half) : std::sin(half);
}

void validate(int tapCount, std::span<const Band> bands, const RemezOptions& options) {
    if (tapCount < 4 || tapCount % 2 != 0) {
        throw std::invalid_argument("firdesign: the tap count must be even and at least 4");
    }
    if (bands.empty()) {
        throw std::invalid_argument("firdesign: no bands");
    }
    if (options.gridDensity < 1 || options.maxIterations < 1) {
        throw std::invalid_argument("firdesign: bad options");
    }
    double previous = -1.0;
    for (const Band& band : bands) {
        if (!(band.low > previous && band.low >= 0.0 && band.high > band.low && band.high <= 0.5)) {
            throw std::invalid_argument("firdesign: bands must be ascending within 0 ... 0.5");
        }
        if (!(band.weight > 0.0) || !std::isfinite(band.desired) || !std::isfinite(band.weight)) {
            throw std::invalid_argument("firdesign: bad desired value or weight");
        }
        previous = band.high;
    }
}

Grid buildGrid(int r, Symmetry symmetry, std::span<const Band> bands, int density) {
    const double step = 0.5 / (static_cast<double>(density) * r);
    Grid grid;
    for (const Band& band : bands) {
        const int first = static_cast<int>(grid.points.size());
        double f = band.low;
        if (symmetry == Symmetry::Antisymmetric && f < step) {
            f = step; // sin(w/2) vanishes at 0 Hz
        }
        // Points step apart from the lower edge (accumulated, as the classic program does); the
        // last one that fits is replaced by the upper edge.
        std::vector<double> fs;
        do {
            fs.push_back(f);
            f += step;
        } while (f <= band.high);
        fs.back() = band.high;
        for (double point : fs) {
            grid.points.push_back(
                {point, 0.0L, static_cast<Real>(band.desired), static_cast<Real>(band.weight)});
        }
        grid.bands.emplace_back(first, static_cast<int>(grid.points.size()) - 1);
    }
    // cos(w/2) vanishes at the Nyquist frequency: drop a symmetric design's point there.
    if (symmetry == Symmetry::Symmetric && grid.points.back().f > 0.5 - step) {
        grid.points.pop_back();
        if (--grid.bands.back().second < grid.bands.back().first) {
            grid.bands.pop_back();
        }
    }
    for (GridPoint& point : grid.points) {
        const Real q = fixedFactor(symmetry, point.f);
        point.x = std::cos(2.0L * kPi * static_cast<Real>(point.f));
        point.desired /= q;
        point.weight *= q;
    }
    return grid;
}

// The levelled reference: the polynomial of degree r - 1 through the r + 1 reference points with
// the error +delta, -delta, ... there, in barycentric form.
struct Reference {
    std::vector<Real> x;      // reference abscissae
    std::vector<Real> weight; // barycentric weights 1 / prod (2 (x_k - x_j))
    std::vector<Real> value;  // P(x_k) = D'_k - (-1)^k delta / W'_k
    Real delta = 0.0L;

    // P(x) for x not equal to any reference abscissa.
    Real evaluate(Real at) const {
        Real numerator = 0.0L;
        Real denominator = 0.0L;
        for (std::size_t k = 0; k < x.size(); ++k) {
            const Real c = weight[k] / (at - x[k]);
            numerator += c * value[k];
            denominator += c;
        }
        return numerator / denominator;
    }
};

Reference levelledReference(const Grid& grid, const std::vector<int>& extremals) {
    Reference ref;
    const std::size_t n = extremals.size();
    ref.x.resize(n);
    ref.weight.resize(n);
    ref.value.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        ref.x[k] = grid.points[static_cast<std::size_t>(extremals[k])].x;
    }
    // The factor 2 keeps the products near 1 in size (the abscissae span at most 2).
    for (std::size_t k = 0; k < n; ++k) {
        Real product = 1.0L;
        for (std::size_t j = 0; j < n; ++j) {
            if (j != k) {
                product *= 2.0L * (ref.x[k] - ref.x[j]);
            }
        }
        ref.weight[k] = 1.0L / product;
    }
    Real numerator = 0.0L;
    Real denominator = 0.0L;
    for (std::size_t k = 0; k < n; ++k) {
        const GridPoint& p = grid.points[static_cast<std::size_t>(extremals[k])];
        const Real sign = k % 2 == 0 ? 1.0L : -1.0L;
        numerator += ref.weight[k] * p.desired;
        denominator += sign * ref.weight[k] / p.weight;
    }
    ref.delta = numerator / denominator;
    for (std::size_t k = 0; k < n; ++k) {
        const GridPoint& p = grid.points[static_cast<std::size_t>(extremals[k])];
        const Real sign = k % 2 == 0 ? 1.0L : -1.0L;
        ref.value[k] = p.desired - sign * ref.delta / p.weight;
    }
    return ref;
}

// Weighted error W' (D' - P) on the whole grid.
std::vector<Real> gridError(const Grid& grid, const Reference& ref,
                            const std::vector<int>& extremals) {
    std::vector<Real> error(grid.points.size());
    std::size_t next = 0; // the next reference index, to use the exact value there
    for (std::size_t i = 0; i < grid.points.size(); ++i) {
        const GridPoint& p = grid.points[i];
        Real value;
        if (next < extremals.size() && static_cast<std::size_t>(extremals[next]) == i) {
            value = ref.value[next++];
        } else {
            value = ref.evaluate(p.x);
        }
        error[i] = p.weight * (p.desired - value);
    }
    return error;
}

// The next reference: local extrema of the error that reach |delta| (up to rounding), made to
// alternate in sign by keeping the larger of neighbours of equal sign, then trimmed to `count`
// points. Trimming drops the smaller end point when one point is in excess, otherwise the smallest
// extremum together with the smaller of its two (now equal-signed) neighbours; the largest error
// on the grid always survives.
std::vector<int> nextReference(const Grid& grid, const std::vector<Real>& error, Real delta,
                               std::size_t count) {
    struct Candidate {
        int index;
        Real e;
    };
    const Real level = std::fabs(delta) * (1.0L - 1e-9L);
    std::vector<Candidate> all;
    std::vector<Candidate> large;
    for (const auto& [first, last] : grid.bands) {
        for (int i = first; i <= last; ++i) {
            const Real e = error[static_cast<std::size_t>(i)];
            const Real before = i > first ? error[static_cast<std::size_t>(i) - 1] : e;
            const Real after = i < last ? error[static_cast<std::size_t>(i) + 1] : e;
            const bool extremum =
                (e > 0.0L && e >= before && e >= after) || (e < 0.0L && e <= before && e <= after);
            if (extremum) {
                all.push_back({i, e});
                if (std::fabs(e) >= level) {
                    large.push_back({i, e});
                }
            }
        }
    }
    std::vector<Candidate> candidates = large.size() >= count ? large : all;

    std::vector<Candidate> alternating;
    for (const Candidate& c : candidates) {
        if (!alternating.empty() && (alternating.back().e > 0.0L) == (c.e > 0.0L)) {
            if (std::fabs(c.e) > std::fabs(alternating.back().e)) {
                alternating.back() = c;
            }
        } else {
            alternating.push_back(c);
        }
    }

    while (alternating.size() > count) {
        if (alternating.size() == count + 1) {
            if (std::fabs(alternating.front().e) < std::fabs(alternating.back().e)) {
                alternating.erase(alternating.begin());
            } else {
                alternating.pop_back();
            }
            continue;
        }
        const auto smallest = std::min_element(
            alternating.begin(), alternating.end(),
            [](const Candidate& a, const Candidate& b) { return std::fabs(a.e) < std::fabs(b.e); });
        const std::size_t at = static_cast<std::size_t>(smallest - alternating.begin());
        if (at == 0 || at + 1 == alternating.size()) {
            alternating.erase(smallest);
            continue;
        }
        // Removing an inner point leaves its neighbours with equal signs: keep the larger.
        const std::size_t drop =
            std::fabs(alternating[at - 1].e) < std::fabs(alternating[at + 1].e) ? at - 1 : at + 1;
        alternating.erase(alternating.begin() + static_cast<std::ptrdiff_t>(std::max(at, drop)));
        alternating.erase(alternating.begin() + static_cast<std::ptrdiff_t>(std::min(at, drop)));
    }

    std::vector<int> result;
    result.reserve(alternating.size());
    for (const Candidate& c : alternating) {
        result.push_back(c.index);
    }
    return result;
}

// Taps from the cosine series of P: the coefficients c_k come from P at the r Chebyshev angles
// pi (j + 1/2) / r (exact for degree r - 1), then Q P is rewritten as a sum of
// cos((m - 1/2) w) or sin((m - 1/2) w), m = 1 ... r, whose coefficients b_m are twice the taps
// at N/2 - m (and, mirrored, at N/2 - 1 + m).
std::vector<double> tapsFromReference(const Reference& ref, int r, Symmetry symmetry) {
    std::vector<Real> p(static_cast<std::size_t>(r));
    for (int j = 0; j < r; ++j) {
        const Real x = std::cos(kPi * (static_cast<Real>(j) + 0.5L) / static_cast<Real>(r));
        const auto hit = std::find(ref.x.begin(), ref.x.end(), x);
        p[static_cast<std::size_t>(j)] =
            hit != ref.x.end() ? ref.value[static_cast<std::size_t>(hit - ref.x.begin())]
                               : ref.evaluate(x);
    }
    std::vector<Real> c(static_cast<std::size_t>(r) + 1, 0.0L); // c_r = 0 closes the recurrence
    for (int k = 0; k < r; ++k) {
        Real sum = 0.0L;
        for (int j = 0; j < r; ++j) {
            sum += p[static_cast<std::size_t>(j)] *
                   std::cos(kPi * static_cast<Real>(k) * (static_cast<Real>(j) + 0.5L) /
                            static_cast<Real>(r));
        }
        c[static_cast<std::size_t>(k)] = sum * (k == 0 ? 1.0L : 2.0L) / static_cast<Real>(r);
    }
    // cos(w/2) cos(k w) = (cos((k + 1/2) w) + cos((k - 1/2) w)) / 2
    // sin(w/2) cos(k w) = (sin((k + 1/2) w) - sin((k - 1/2) w)) / 2
    const Real s = symmetry == Symmetry::Symmetric ? 1.0L : -1.0L;
    const int n = 2 * r;
    std::vector<double> taps(static_cast<std::size_t>(n));
    for (int m = 1; m <= r; ++m) {
        const auto um = static_cast<std::size_t>(m);
        const Real b = m == 1 ? c[0] + s * c[1] / 2.0L : (c[um - 1] + s * c[um]) / 2.0L;
        const auto half = static_cast<double>(b / 2.0L);
        const auto lower = static_cast<std::size_t>(r - m);
        const auto upper = static_cast<std::size_t>(n - 1) - lower;
        taps[lower] = half;
        taps[upper] = symmetry == Symmetry::Symmetric ? half : -half;
    }
    return taps;
}

} // namespace

RemezResult designRemez(int tapCount, Symmetry symmetry, std::span<const Band> bands,
                        const RemezOptions& options) {
    validate(tapCount, bands, options);
    const int r = tapCount / 2;
    const Grid grid = buildGrid(r, symmetry, bands, options.gridDensity);
    const auto referenceSize = static_cast<std::size_t>(r) + 1;
    if (grid.points.size() < referenceSize) {
        throw std::invalid_argument("firdesign: the bands are too narrow for the tap count");
    }

    // Start from reference points spread evenly over the grid.
    const auto last = static_cast<long long>(grid.points.size()) - 1;
    std::vector<int> extremals(referenceSize);
    for (std::size_t k = 0; k < referenceSize; ++k) {
        extremals[k] = static_cast<int>(static_cast<long long>(k) * last / r);
    }

    RemezResult result;
    for (result.iterations = 1; result.iterations <= options.maxIterations; ++result.iterations) {
        const Reference ref = levelledReference(grid, extremals);
        const std::vector<Real> error = gridError(grid, ref, extremals);
        std::vector<int> next = nextReference(grid, error, ref.delta, referenceSize);
        if (next.size() != referenceSize) {
            break; // cannot happen in exact arithmetic; report no convergence
        }
        if (next == extremals) {
            result.converged = true;
            break;
        }
        extremals = std::move(next);
    }
    result.iterations = std::min(result.iterations, options.maxIterations);

    const Reference ref = levelledReference(grid, extremals);
    result.taps = tapsFromReference(ref, r, symmetry);
    result.deviation = static_cast<double>(std::fabs(ref.delta));
    for (int index : extremals) {
        result.extremalFrequencies.push_back(grid.points[static_cast<std::size_t>(index)].f);
    }
    return result;
}

} // namespace firdesign
