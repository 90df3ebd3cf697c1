// Block FIR engine. Each block is processed in chunks of at most kFirChunk outputs: the chunk's
// input is copied behind the N-1 samples of history in one contiguous array, the kernel reads
// x[n-m] from there, and the last N-1 samples are then moved to the front as the history of the
// next chunk. The copy makes in-place filtering safe and keeps the working memory fixed.
//
// Rate changes skip work without changing any sum:
// - Decimation computes only the outputs that are kept. So that the kernel can still process
//   adjacent kept outputs in one vector, the chunk is split into `step` interleaved arrays
//   (D_t[q] = x[e0 + step q - t]); the input of tap m = step a + t for kept output i is then
//   D_t[i - a], contiguous in i, and the taps are still visited in the order m = 0, 1, 2, ...
// - Interpolation by zero stuffing is the classic polyphase filter: output phase r only meets
//   the taps h[r], h[r + step], h[r + 2 step], ... against consecutive placed inputs. The
//   products skipped are tap * 0, and a sum that starts at +0 is unchanged by adding +0 or -0
//   in round-to-nearest, so the result equals filtering the stuffed signal bit for bit as long
//   as the taps are finite and the history holds zeros between the grid positions (otherwise
//   the plain path runs).
#include "platform/FirEngine.h"

#include "platform/FirKernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace platform {
namespace {

using detail::kKernelPad;
using std::int64_t;

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && a < 0) {
        --q;
    }
    return q;
}

int64_t ceilDiv(int64_t a, int64_t b) {
    return -floorDiv(-a, b);
}

int64_t floorMod(int64_t a, int64_t b) {
    return a - floorDiv(a, b) * b;
}

// Low-rate samples per polyphase chunk: as many whole passes of the widest kernel as fit in
// kFirChunk samples at the high rate, so that chunks end on full passes.
unsigned polyphaseSpan(unsigned step) {
    const unsigned span = kFirChunk / step;
    return span >= kKernelPad ? span / kKernelPad * kKernelPad : span;
}

// Region of the working memory holding the placed inputs of a polyphase interpolation chunk.
std::size_t placedRegion(unsigned tapCount) {
    return kFirChunk + tapCount + 2 + kKernelPad;
}

// Working memory for N taps: the larger of the decimation arrays (step * stride + pad, see
// filterDecimated) and the interpolation arrays (placed inputs plus per-phase outputs).
std::size_t workSize(unsigned tapCount) {
    const std::size_t n = tapCount;
    const std::size_t decimation = n + kFirChunk + kFirMaxPolyphaseFactor + kKernelPad;
    const std::size_t interpolation = placedRegion(tapCount) + kFirChunk + kFirMaxPolyphaseFactor;
    return std::max(decimation, interpolation);
}

// Row stride of the decimation arrays for a given step.
int64_t decimationStride(unsigned tapCount, unsigned step) {
    const int64_t reach = tapCount > 0 ? (tapCount - 1) / step : 0;
    return reach + polyphaseSpan(step);
}

} // namespace

int FirState::init(const float* taps, unsigned count) {
    if (taps == nullptr && count > 0) {
        return 2;
    }
    // Build everything first so that a failure leaves the previous state as it was.
    FirState fresh;
    try {
        fresh.taps_.assign(taps, taps + count);
        fresh.offsets_.resize(count);
        for (unsigned m = 0; m < count; ++m) {
            fresh.offsets_[m] = -static_cast<std::ptrdiff_t>(m);
        }
        fresh.historyLength_ = count > 0 ? count - 1 : 0;
        fresh.ext_.assign(fresh.historyLength_ + kFirChunk + kKernelPad, 0.0f);
        fresh.work_.assign(workSize(count), 0.0f);
        fresh.tail_.assign(kKernelPad, 0.0f);
        fresh.phaseTaps_.assign(count, 0.0f);
        fresh.phaseStart_.assign(kFirMaxPolyphaseFactor + 1, 0);
        fresh.decimOffsets_.assign(count, 0);
    } catch (const std::bad_alloc&) {
        return 1;
    }
    fresh.tapCount_ = count;
    fresh.tapsFinite_ = std::all_of(fresh.taps_.begin(), fresh.taps_.end(),
                                    [](float h) { return std::isfinite(h); });
    fresh.ready_ = true;
    *this = std::move(fresh);
    return 0;
}

void FirState::setTaps(const float* taps) {
    if (!ready_ || taps == nullptr) {
        return;
    }
    std::copy(taps, taps + tapCount_, taps_.begin());
    tapsFinite_ = std::all_of(taps_.begin(), taps_.end(), [](float h) { return std::isfinite(h); });
    phaseTapsValid_ = false;
}

void FirState::clearHistory() {
    std::fill(ext_.begin(), ext_.end(), 0.0f);
}

void FirState::release() {
    *this = FirState();
}

void FirState::filter(const float* input, float* output, unsigned count) {
    if (count == 0) {
        return;
    }
    if (!ready_ || tapCount_ == 0) {
        std::fill(output, output + count, 0.0f);
        return;
    }
    const detail::ConvolveFn convolve = detail::activeConvolve();
    const unsigned h = historyLength_;
    float* ext = ext_.data();
    for (unsigned done = 0; done < count;) {
        const unsigned c = std::min(kFirChunk, count - done);
        std::memcpy(ext + h, input + done, c * sizeof(float));
        convolve(taps_.data(), offsets_.data(), tapCount_, ext + h, output + done, c, tail_.data());
        std::memmove(ext, ext + c, h * sizeof(float));
        done += c;
    }
}

void FirState::filterAlongside(FirState& second, const float* input, float* output,
                               float* secondOutput, unsigned count) {
    const unsigned h = historyLength_;
    if (count == 0 || !ready_ || !second.ready_ || tapCount_ == 0 ||
        second.tapCount_ != tapCount_ ||
        std::memcmp(ext_.data(), second.ext_.data(), h * sizeof(float)) != 0) {
        second.filter(input, secondOutput, count);
        filter(input, output, count);
        return;
    }
    unsigned shared = 0;
    while (shared < tapCount_ && second.taps_[shared] == -taps_[shared]) {
        ++shared;
    }
    const detail::ConvolvePairFn convolve = detail::activeConvolvePair();
    float* ext = ext_.data();
    for (unsigned done = 0; done < count;) {
        const unsigned c = std::min(kFirChunk, count - done);
        std::memcpy(ext + h, input + done, c * sizeof(float));
        convolve(taps_.data(), second.taps_.data(), offsets_.data(), tapCount_, shared, ext + h,
                 output + done, secondOutput + done, c, tail_.data(), second.tail_.data());
        std::memmove(ext, ext + c, h * sizeof(float));
        done += c;
    }
    std::memcpy(second.ext_.data(), ext, h * sizeof(float));
}

void FirState::preparePolyphase(unsigned step) {
    if (phaseTapsValid_ && phaseTapsStep_ == step) {
        return;
    }
    // Taps of output phase r: h[r], h[r + step], ... stored one phase after another.
    unsigned at = 0;
    for (unsigned r = 0; r < step; ++r) {
        phaseStart_[r] = at;
        for (unsigned m = r; m < tapCount_; m += step) {
            phaseTaps_[at++] = taps_[m];
        }
    }
    phaseStart_[step] = at;
    // Decimation: tap m = step a + t reads D_t[i - a], row t starting at t * stride.
    const int64_t stride = decimationStride(tapCount_, step);
    const int64_t reach = (tapCount_ - 1) / step;
    for (unsigned m = 0; m < tapCount_; ++m) {
        decimOffsets_[m] = static_cast<std::ptrdiff_t>((m % step) * stride + reach - m / step);
    }
    phaseTapsStep_ = step;
    phaseTapsValid_ = true;
}

unsigned FirState::filterDecimated(const float* input, unsigned count, unsigned first,
                                   unsigned step, float* output) {
    if (count == 0) {
        return 0;
    }
    const unsigned wanted = (step == 0 || first >= count) ? 0 : (count - 1 - first) / step + 1;
    if (!ready_ || tapCount_ == 0) {
        std::fill(output, output + wanted, 0.0f);
        return wanted;
    }
    const bool polyphase = step <= kFirMaxPolyphaseFactor;
    if (polyphase && step > 0) {
        preparePolyphase(step);
    }
    const detail::ConvolveFn convolve = detail::activeConvolve();
    const unsigned h = historyLength_;
    float* ext = ext_.data();
    float* work = work_.data();
    const int64_t stride = step > 0 ? decimationStride(tapCount_, step) : 0;
    const int64_t reach = step > 0 ? (tapCount_ - 1) / step : 0;

    // Polyphase chunks hold a whole number of kernel passes of kept samples.
    const unsigned chunk = polyphase && step > 0 ? step * polyphaseSpan(step) : kFirChunk;
    unsigned kept = 0;
    int64_t nextKeep = first; // block position of the next kept output
    for (unsigned s = 0; s < count;) {
        const unsigned c = std::min(chunk, count - s);
        std::memcpy(ext + h, input + s, c * sizeof(float));
        if (kept < wanted && nextKeep < static_cast<int64_t>(s) + c) {
            const unsigned j0 = static_cast<unsigned>(nextKeep - s);
            const unsigned chunkKept = (c - 1 - j0) / step + 1;
            if (polyphase) {
                // D_t[q] = ext[e0 + step q - t] for q in [-reach, chunkKept); the groups that
                // lie wholly inside ext are split with shuffles, the rest start before ext
                // (never read by any tap) and are zeroed.
                const int64_t e0 = static_cast<int64_t>(h) + j0;
                const int64_t whole = std::max(-reach, ceilDiv(step - 1 - e0, step));
                for (unsigned t = 0; t < step; ++t) {
                    float* row = work + t * stride + reach;
                    for (int64_t q = -reach; q < whole; ++q) {
                        const int64_t at = e0 + static_cast<int64_t>(step) * q - t;
                        row[q] = at >= 0 ? ext[at] : 0.0f;
                    }
                }
                if (whole < chunkKept) {
                    detail::deinterleave(ext + e0 + step * whole - (step - 1), step,
                                         work + (step - 1) * stride + reach + whole, -stride,
                                         static_cast<std::size_t>(chunkKept - whole));
                }
                convolve(taps_.data(), decimOffsets_.data(), tapCount_, work, output + kept,
                         chunkKept, tail_.data());
            } else {
                convolve(taps_.data(), offsets_.data(), tapCount_, ext + h, work, c, tail_.data());
                for (unsigned i = 0; i < chunkKept; ++i) {
                    output[kept + i] = work[j0 + static_cast<std::size_t>(step) * i];
                }
            }
            kept += chunkKept;
            nextKeep += static_cast<int64_t>(chunkKept) * step;
        }
        std::memmove(ext, ext + c, h * sizeof(float));
        s += c;
    }
    return kept;
}

bool FirState::historyZeroOffGrid(unsigned first, unsigned step) const {
    const int64_t h = historyLength_;
    unsigned fromGrid = static_cast<unsigned>(floorMod(-h - static_cast<int64_t>(first), step));
    for (int64_t e = 0; e < h; ++e) {
        if (fromGrid != 0 && !(ext_[e] == 0.0f)) {
            return false;
        }
        if (++fromGrid == step) {
            fromGrid = 0;
        }
    }
    return true;
}

namespace {

// Calls place(position, value) for every stuffed sample in [from, to) (block positions).
template <class Place>
void forEachPlaced(const float* input, unsigned placed, int64_t firstPos, unsigned step,
                   float scale, int64_t from, int64_t to, Place place) {
    int64_t q = std::max<int64_t>(0, ceilDiv(from - firstPos, step));
    for (; q < placed; ++q) {
        const int64_t pos = firstPos + q * step;
        if (pos >= to) {
            break;
        }
        place(pos, input[q] * scale);
    }
}

} // namespace

void FirState::advanceStuffedHistory(const float* input, unsigned inCount, std::int64_t firstPos,
                                     unsigned step, float scale, std::int64_t start, unsigned c) {
    // The history after this chunk is the stuffed signal at positions [newStart, start + c).
    const int64_t h = historyLength_;
    const int64_t newStart = start + c - h;
    float* ext = ext_.data();
    int64_t from = newStart;
    if (newStart < start) {
        std::memmove(ext, ext + c, static_cast<std::size_t>(start - newStart) * sizeof(float));
        from = start;
    }
    std::fill(ext + (from - newStart), ext + h, 0.0f);
    forEachPlaced(input, inCount, firstPos, step, scale, from, start + c,
                  [&](int64_t pos, float v) { ext[pos - newStart] = v; });
}

void FirState::stuffedChunkPlain(const float* input, unsigned inCount, std::int64_t firstPos,
                                 unsigned step, float scale, std::int64_t start, unsigned c,
                                 float* out) {
    const unsigned h = historyLength_;
    float* ext = ext_.data();
    std::fill(ext + h, ext + h + c, 0.0f);
    if (step > 0) {
        forEachPlaced(input, inCount, firstPos, step, scale, start, start + c,
                      [&](int64_t pos, float v) { ext[h + (pos - start)] = v; });
    }
    detail::activeConvolve()(taps_.data(), offsets_.data(), tapCount_, ext + h, out, c,
                             tail_.data());
    std::memmove(ext, ext + c, h * sizeof(float));
}

void FirState::stuffedChunkPolyphase(const float* input, unsigned inCount, int64_t firstPos,
                                     unsigned step, float scale, int64_t start, unsigned c,
                                     float* out) {
    const int64_t h = historyLength_;
    const detail::ConvolveFn convolve = detail::activeConvolve();

    // Output g = firstPos + r + step q (phase r) sums h[r + step a] * u[q - a], where u[q] is
    // the stuffed value at position firstPos + step q. The chunk's first output has phase r0
    // and index qBase; the phases before r0 start one index later.
    const int64_t r0 = floorMod(start - firstPos, step);
    const int64_t qBase = floorDiv(start - firstPos, step);
    const int64_t qHigh = floorDiv(start + c - 1 - firstPos, step);
    const int64_t mostTaps = phaseStart_[1] - phaseStart_[0]; // phase 0 has the most
    const int64_t qLow = qBase - (mostTaps - 1);

    // u[q - qLow] for q in [qLow, qHigh]: history before the chunk, then the inputs.
    float* u = work_.data();
    const int64_t qInputs = ceilDiv(start - firstPos, step); // first position >= start
    const float* ext = ext_.data();
    for (int64_t q = qLow; q < qInputs && q <= qHigh; ++q) {
        const int64_t pos = firstPos + q * step;
        u[q - qLow] = pos >= start - h ? ext[h + (pos - start)] : 0.0f;
    }
    const int64_t placedFrom = std::max<int64_t>(qInputs, 0);
    const int64_t placedTo = std::min<int64_t>(qHigh + 1, inCount);
    for (int64_t q = qInputs; q < std::min(placedFrom, qHigh + 1); ++q) {
        u[q - qLow] = 0.0f;
    }
    for (int64_t q = placedFrom; q < placedTo; ++q) {
        u[q - qLow] = input[q] * scale;
    }
    for (int64_t q = std::max(placedFrom, placedTo); q <= qHigh; ++q) {
        u[q - qLow] = 0.0f;
    }

    // One row per phase, indexed from qBase, then interleaved into the output.
    float* rows = work_.data() + placedRegion(tapCount_);
    const int64_t rowLength = polyphaseSpan(step) + 1;
    for (unsigned r = 0; r < step; ++r) {
        const int64_t qStart = qBase + (r < r0 ? 1 : 0);
        const int64_t qEnd = floorDiv(start + c - 1 - firstPos - r, step);
        if (qEnd < qStart) {
            continue;
        }
        const auto length = static_cast<unsigned>(qEnd - qStart + 1);
        float* row = rows + r * rowLength + (qStart - qBase);
        const unsigned phaseTaps = phaseStart_[r + 1] - phaseStart_[r];
        if (phaseTaps == 0) {
            std::fill(row, row + length, 0.0f);
        } else {
            convolve(phaseTaps_.data() + phaseStart_[r], offsets_.data(), phaseTaps,
                     u + (qStart - qLow), row, length, tail_.data());
        }
    }
    // out[j] is row (r0 + j) % step at index (r0 + j) / step: a partial first group, whole
    // groups, a partial last group.
    const int64_t end = r0 + c;
    int64_t k = r0;
    for (; k < std::min<int64_t>(end, step); ++k) {
        out[k - r0] = rows[k * rowLength];
    }
    const int64_t wholeGroups = end / step - 1;
    if (wholeGroups > 0) {
        detail::interleave(rows + 1, rowLength, step, out + (step - r0),
                           static_cast<std::size_t>(wholeGroups));
        k += wholeGroups * step;
    }
    for (; k < end; ++k) {
        out[k - r0] = rows[(k % step) * rowLength + k / step];
    }
    advanceStuffedHistory(input, inCount, firstPos, step, scale, start, c);
}

unsigned FirState::filterStuffed(const float* input, unsigned inCount, unsigned first,
                                 unsigned step, float scale, float* output, unsigned outCount) {
    if (outCount == 0) {
        return 0;
    }
    const unsigned placed =
        (step == 0 || first >= outCount) ? 0 : std::min(inCount, (outCount - 1 - first) / step + 1);
    if (!ready_ || tapCount_ == 0) {
        std::fill(output, output + outCount, 0.0f);
        return placed;
    }
    const bool polyphase = step > 0 && step <= kFirMaxPolyphaseFactor && tapsFinite_ &&
                           historyZeroOffGrid(first, step);
    if (polyphase) {
        preparePolyphase(step);
    }
    // Plain chunks are limited by the history array, polyphase chunks by the phase rows.
    const unsigned chunk = polyphase ? step * polyphaseSpan(step) : kFirChunk;
    for (unsigned s = 0; s < outCount;) {
        const unsigned c = std::min(chunk, outCount - s);
        if (polyphase) {
            stuffedChunkPolyphase(input, placed, first, step, scale, s, c, output + s);
        } else {
            stuffedChunkPlain(input, placed, first, step, scale, s, c, output + s);
        }
        s += c;
    }
    return placed;
}

} // namespace platform
