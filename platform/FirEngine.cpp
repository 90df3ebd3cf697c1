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

// Working memory for N taps: the larger of the decimation arrays (step * S + pad, see
// filterDecimated) and the interpolation arrays (placed inputs plus per-phase outputs).
std::size_t workSize(unsigned tapCount) {
    const std::size_t n = tapCount;
    const std::size_t decimation = n + kFirChunk + kFirMaxPolyphaseFactor + kKernelPad;
    const std::size_t interpolation = (kFirChunk + n + 2 + kKernelPad) + kFirChunk;
    return std::max(decimation, interpolation);
}

// Row stride of the decimation arrays for a given step.
int64_t decimationStride(unsigned tapCount, unsigned step) {
    const int64_t reach = tapCount > 0 ? (tapCount - 1) / step : 0;
    return reach + ceilDiv(kFirChunk, step);
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

    unsigned kept = 0;
    int64_t nextKeep = first; // block position of the next kept output
    for (unsigned s = 0; s < count;) {
        const unsigned c = std::min(kFirChunk, count - s);
        std::memcpy(ext + h, input + s, c * sizeof(float));
        if (kept < wanted && nextKeep < static_cast<int64_t>(s) + c) {
            const unsigned j0 = static_cast<unsigned>(nextKeep - s);
            const unsigned chunkKept = (c - 1 - j0) / step + 1;
            if (polyphase) {
                const int64_t e0 = static_cast<int64_t>(h) + j0;
                for (unsigned t = 0; t < step; ++t) {
                    float* row = work + t * stride + reach;
                    for (int64_t q = -reach; q < chunkKept; ++q) {
                        const int64_t at = e0 + static_cast<int64_t>(step) * q - t;
                        row[q] = at >= 0 ? ext[at] : 0.0f;
                    }
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
    for (int64_t e = 0; e < h; ++e) {
        const int64_t fromGrid = (e - h - first) % step;
        if (fromGrid != 0 && !(ext_[e] == 0.0f)) {
            return false;
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

void FirState::stuffedChunkPolyphase(const float* input, unsigned inCount, std::int64_t firstPos,
                                     unsigned step, float scale, std::int64_t start, unsigned c,
                                     float* out) {
    const int64_t h = historyLength_;
    const int64_t n = tapCount_;
    const detail::ConvolveFn convolve = detail::activeConvolve();

    // Output g of phase r (g = firstPos + r + step qg) sums h[r + step a] * u[qg - a], where
    // u[q] is the stuffed value at position firstPos + step q. Find the u range needed.
    int64_t qLow = 0;
    int64_t qHigh = 0;
    bool any = false;
    for (unsigned r = 0; r < step; ++r) {
        const int64_t phaseTaps = phaseStart_[r + 1] - phaseStart_[r];
        const int64_t qStart = ceilDiv(start - firstPos - r, step);
        const int64_t qEnd = floorDiv(start + c - 1 - firstPos - r, step);
        if (qEnd < qStart || phaseTaps == 0) {
            continue;
        }
        qLow = any ? std::min(qLow, qStart - (phaseTaps - 1)) : qStart - (phaseTaps - 1);
        qHigh = any ? std::max(qHigh, qEnd) : qEnd;
        any = true;
    }

    float* u = work_.data();
    float* phaseOut = u + (kFirChunk + n + 2 + kKernelPad);
    if (any) {
        const float* ext = ext_.data();
        for (int64_t q = qLow; q <= qHigh; ++q) {
            const int64_t pos = firstPos + q * step;
            float v = 0.0f;
            if (pos < start) {
                if (pos >= start - h) {
                    v = ext[h + (pos - start)];
                }
            } else if (q >= 0 && q < inCount) {
                v = input[q] * scale;
            }
            u[q - qLow] = v;
        }
    }

    for (unsigned r = 0; r < step; ++r) {
        const int64_t qStart = ceilDiv(start - firstPos - r, step);
        const int64_t qEnd = floorDiv(start + c - 1 - firstPos - r, step);
        if (qEnd < qStart) {
            continue;
        }
        const unsigned length = static_cast<unsigned>(qEnd - qStart + 1);
        const unsigned phaseTaps = phaseStart_[r + 1] - phaseStart_[r];
        if (phaseTaps == 0) {
            std::fill(phaseOut, phaseOut + length, 0.0f);
        } else {
            convolve(phaseTaps_.data() + phaseStart_[r], offsets_.data(), phaseTaps,
                     u + (qStart - qLow), phaseOut, length, tail_.data());
        }
        float* dst = out + (firstPos + r + qStart * step - start);
        for (unsigned l = 0; l < length; ++l) {
            dst[static_cast<std::size_t>(l) * step] = phaseOut[l];
        }
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
    for (unsigned s = 0; s < outCount;) {
        const unsigned c = std::min(kFirChunk, outCount - s);
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
