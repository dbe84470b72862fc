// The area-averaging resampler, its nearest-neighbour variant and FitImage.
#include "imaging/resample.h"

#include "imaging/compose.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace vorn {
namespace {

// Positions are fixed point with 1024 units per pixel. floor and ceil of v / 1024 are shifts,
// which round toward minus infinity for negative values as well.
constexpr int64_t floorPixel(int64_t v) { return v >> 10; }
constexpr int64_t ceilPixel(int64_t v) { return (v + 1023) >> 10; }
constexpr int64_t fracUnits(int64_t v) { return v & 1023; }

template<typename T>
std::unique_ptr<T[]> allocateArray(int64_t count)
{
    if (count < 0 || count > MaxPlaneBytes / int64_t(sizeof(T)))
        return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[count > 0 ? count : 1]);
}

// The common part of both resamplers: the normalised destination start, the output size and
// the source span.
struct Frame {
    int64_t dx = 0, dy = 0;
    int32_t outW = 0, outH = 0;
    int64_t firstCol = 0, firstRow = 0;  // floor(sx / 1024), floor(sy / 1024)
    int64_t srcCols = 0, srcRows = 0;
};

bool makeFrame(const ImageBuffer *src, int64_t dx, int64_t dy, int64_t dw, int64_t dh,
               int64_t sx, int64_t sy, int64_t sw, int64_t sh, Frame &f)
{
    if (!src || src->bitCount != 24 || !src->pixels || src->width <= 0 || src->height <= 0)
        return false;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
        return false;
    // Only the fraction of the destination start matters: a negative start is moved up by
    // whole pixels into 0..1023.
    if (dx < 0)
        dx = fracUnits(dx);
    if (dy < 0)
        dy = fracUnits(dy);
    const int64_t outW = ceilPixel(dx + dw) - floorPixel(dx);
    const int64_t outH = ceilPixel(dy + dh) - floorPixel(dy);
    if (outW <= 0 || outH <= 0 || outW > std::numeric_limits<int32_t>::max()
        || outH > std::numeric_limits<int32_t>::max())
        return false;
    f.dx = dx;
    f.dy = dy;
    f.outW = static_cast<int32_t>(outW);
    f.outH = static_cast<int32_t>(outH);
    f.firstCol = floorPixel(sx);
    f.firstRow = floorPixel(sy);
    f.srcCols = ceilPixel(sx + sw) - f.firstCol;
    f.srcRows = ceilPixel(sy + sh) - f.firstRow;
    // The source area must at least touch the picture; parts of it outside repeat the edge.
    return f.firstCol < src->width && f.firstCol + f.srcCols > 0 && f.firstRow < src->height
           && f.firstRow + f.srcRows > 0;
}

int32_t clampIndex(int64_t i, int32_t size)
{
    return static_cast<int32_t>(std::clamp<int64_t>(i, 0, size - 1));
}

// The source pixels behind one output column (or row) and their weights in 1/1024 pixel, in
// the order they are summed: the partly covered first pixel, the fully covered ones (weight
// 1024), the partly covered last one. `n` is the covered length the sum is divided by.
struct Span {
    int32_t firstTap = 0;
    int32_t tapCount = 0;
    int32_t n = 0;
    // The fully covered pixels with consecutive indices: taps runTap .. runTap + runCount - 1,
    // pixels runPixel onward. Summed without weights and then scaled by 1024.
    int32_t runTap = 0;
    int32_t runCount = 0;
    int32_t runPixel = 0;
};

void findRun(Span &span, const std::vector<int32_t> &index, const std::vector<int32_t> &weight)
{
    const int32_t end = span.firstTap + span.tapCount;
    int32_t k = span.firstTap;
    while (k < end && weight[k] != 1024)
        ++k;
    span.runTap = k;
    span.runPixel = k < end ? index[k] : 0;
    int32_t count = 0;
    while (k + count < end && weight[k + count] == 1024
           && index[k + count] == span.runPixel + count)
        ++count;
    span.runCount = count;
}

struct Taps {
    std::vector<Span> spans;
    std::vector<int32_t> index;   // pixel (or table row) index, already clamped
    std::vector<int32_t> weight;  // 1/1024 pixel
};

// Walks the covered intervals of one axis. `boundary(i)` is the last source unit (inclusive)
// that output pixel i reaches, `start` the first unit of output pixel 0 and `last` the last
// unit of the source area. Mirrors the accumulation rules exactly, including their quirks: a
// last pixel entered by exactly one unit is counted in n but gets no weight, and the final
// pixel is clamped to the area (stepping one unit back when the area is exhausted).
// `indexOf` maps a pixel number to the stored (clamped) index.
template<typename Boundary, typename IndexOf>
bool buildTaps(int32_t outCount, int64_t start, int64_t last, Boundary boundary, IndexOf indexOf,
               Taps &taps)
{
    try {
        taps.spans.resize(outCount);
        taps.index.clear();
        taps.weight.clear();
        taps.index.reserve(size_t(outCount) * 2);
        taps.weight.reserve(size_t(outCount) * 2);
        int64_t left = start;
        for (int32_t c = 0; c < outCount; ++c) {
            int64_t right = boundary(c);
            if (right > last) {
                right = last;
                if (left > last)
                    left = last - 1;
            }
            Span &span = taps.spans[c];
            span.firstTap = static_cast<int32_t>(taps.index.size());
            if (right < left) {
                // Magnified more than 1024 times: the interval is empty. Sample the pixel
                // under the current position instead of dividing by zero.
                taps.index.push_back(indexOf(floorPixel(std::min(left, last))));
                taps.weight.push_back(1);
                span.n = 1;
            } else {
                const int64_t n = right - left + 1;
                if (n > std::numeric_limits<int32_t>::max())
                    return false;
                span.n = static_cast<int32_t>(n);
                const int64_t lp = floorPixel(left);
                const int64_t rp = floorPixel(right);
                if (lp == rp) {
                    taps.index.push_back(indexOf(lp));
                    taps.weight.push_back(static_cast<int32_t>(n));
                } else {
                    if (fracUnits(left) != 0) {
                        taps.index.push_back(indexOf(lp));
                        taps.weight.push_back(static_cast<int32_t>(1024 - fracUnits(left)));
                    }
                    for (int64_t i = ceilPixel(left); i <= rp - 1; ++i) {
                        taps.index.push_back(indexOf(i));
                        taps.weight.push_back(1024);
                    }
                    if (fracUnits(right) != 0) {
                        taps.index.push_back(indexOf(rp));
                        taps.weight.push_back(static_cast<int32_t>(fracUnits(right) + 1));
                    }
                }
            }
            span.tapCount = static_cast<int32_t>(taps.index.size()) - span.firstTap;
            findRun(span, taps.index, taps.weight);
            left = right + 1;
        }
    } catch (const std::bad_alloc &) {
        return false;
    } catch (const std::length_error &) {
        return false;
    }
    return true;
}

// One row of the horizontal pass: four doubles (blue, green, red, alpha) per output column.
// Weights are whole 1/1024 units, so the weighted sum is an exact integer S in 1/1024 units
// and the cell, sum x 1024 / n, is exactly the one rounding of S / n. The sums go to a scratch
// row first so that the divisions run as one packed loop; while every span is shorter than
// 2^23 units (8192 pixels) the sums fit 32 bits, which converts to double packed as well.
template<typename Sum, bool HasAlpha>
void horizontalRow(const uint8_t *pixels, const uint8_t *alpha, const Taps &taps, int32_t outW,
                   Sum *sums, const double *cellN, double *cells)
{
    const Span *spans = taps.spans.data();
    const int32_t *index = taps.index.data();
    const int32_t *weight = taps.weight.data();
    auto weighted = [&](int32_t from, int32_t to, Sum &b, Sum &g, Sum &r, Sum &a) {
        for (int32_t k = from; k < to; ++k) {
            const int32_t i = index[k];
            const uint8_t *p = pixels + 3 * ptrdiff_t(i);
            const Sum w = weight[k];
            b += p[0] * w;
            g += p[1] * w;
            r += p[2] * w;
            a += (HasAlpha ? alpha[i] : 255) * w;
        }
    };
    for (int32_t c = 0; c < outW; ++c) {
        const Span &span = spans[c];
        Sum b = 0, g = 0, r = 0, a = 0;
        weighted(span.firstTap, span.runTap, b, g, r, a);
        if (span.runCount > 0) {
            Sum rb = 0, rg = 0, rr = 0, ra = 0;
            const uint8_t *p = pixels + 3 * ptrdiff_t(span.runPixel);
            const uint8_t *q = HasAlpha ? alpha + span.runPixel : nullptr;
            for (int32_t j = 0; j < span.runCount; ++j) {
                rb += p[3 * j + 0];
                rg += p[3 * j + 1];
                rr += p[3 * j + 2];
                ra += HasAlpha ? q[j] : 255;
            }
            b += rb * 1024;
            g += rg * 1024;
            r += rr * 1024;
            a += ra * 1024;
        }
        weighted(span.runTap + span.runCount, span.firstTap + span.tapCount, b, g, r, a);
        Sum *sum = sums + 4 * ptrdiff_t(c);
        sum[0] = b;
        sum[1] = g;
        sum[2] = r;
        sum[3] = a;
    }
    const ptrdiff_t count = 4 * ptrdiff_t(outW);
    for (ptrdiff_t i = 0; i < count; ++i)
        cells[i] = double(sums[i]) / cellN[i];
}

template<typename Sum>
void horizontalRow(const uint8_t *pixels, const uint8_t *alpha, const Taps &taps, int32_t outW,
                   Sum *sums, const double *cellN, double *cells)
{
    if (alpha)
        horizontalRow<Sum, true>(pixels, alpha, taps, outW, sums, cellN, cells);
    else
        horizontalRow<Sum, false>(pixels, alpha, taps, outW, sums, cellN, cells);
}

// One row of the exact pass: the integer sums S (blue, green, red, alpha) of every output
// column, in 1/1024 units. The cell the double walk would keep is S / n.
template<bool HasAlpha>
void sumRow(const uint8_t *pixels, const uint8_t *alpha, const Taps &taps, int32_t outW,
            int32_t *sums)
{
    const Span *spans = taps.spans.data();
    const int32_t *index = taps.index.data();
    const int32_t *weight = taps.weight.data();
    for (int32_t c = 0; c < outW; ++c) {
        const Span &span = spans[c];
        int32_t b = 0, g = 0, r = 0, a = 0;
        const int32_t end = span.firstTap + span.tapCount;
        for (int32_t k = span.firstTap; k < end; ++k) {
            const int32_t i = index[k];
            const int32_t w = weight[k];
            if (w == 1024 && k == span.runTap && span.runCount > 1) {
                // The fully covered run: summed unweighted, scaled once.
                int32_t rb = 0, rg = 0, rr = 0, ra = 0;
                const uint8_t *p = pixels + 3 * ptrdiff_t(span.runPixel);
                const uint8_t *q = HasAlpha ? alpha + span.runPixel : nullptr;
                for (int32_t j = 0; j < span.runCount; ++j) {
                    rb += p[3 * j + 0];
                    rg += p[3 * j + 1];
                    rr += p[3 * j + 2];
                    ra += HasAlpha ? q[j] : 255;
                }
                b += rb * 1024;
                g += rg * 1024;
                r += rr * 1024;
                a += ra * 1024;
                k += span.runCount - 1;
                continue;
            }
            const uint8_t *p = pixels + 3 * ptrdiff_t(i);
            b += p[0] * w;
            g += p[1] * w;
            r += p[2] * w;
            a += (HasAlpha ? alpha[i] : 255) * w;
        }
        int32_t *sum = sums + 4 * ptrdiff_t(c);
        sum[0] = b;
        sum[1] = g;
        sum[2] = r;
        sum[3] = a;
    }
}

bool opaque(const uint8_t *alpha, int32_t width)
{
    uint8_t all = 255;
    for (int32_t i = 0; i < width; ++i)
        all &= alpha[i];
    return all == 255;
}

// The column taps laid out for a branch-free loop: every output column reads the same number
// K of consecutive source pixels from its own base, weights 0 where it covers nothing. Applies
// when each column's pixels are consecutive (no edge repetition) and K is small.
struct UniformTaps {
    static constexpr int32_t MaxK = 8;
    int32_t k = 0;  // 0: not applicable
    std::vector<int32_t> base;
    std::vector<int32_t> weight;  // k per column
};

bool buildUniform(const Taps &taps, int32_t width, UniformTaps &u)
{
    int32_t k = 1;
    for (const Span &span : taps.spans) {
        const int32_t first = taps.index[span.firstTap];
        for (int32_t t = 1; t < span.tapCount; ++t) {
            if (taps.index[span.firstTap + t] != first + t)
                return false;
        }
        k = std::max(k, span.tapCount);
    }
    if (k > UniformTaps::MaxK || k > width)
        return false;
    try {
        u.base.resize(taps.spans.size());
        u.weight.assign(taps.spans.size() * size_t(k), 0);
    } catch (const std::exception &) {
        return false;
    }
    for (size_t c = 0; c < taps.spans.size(); ++c) {
        const Span &span = taps.spans[c];
        // Shifted left at the right edge so that the padding reads stay inside the row.
        const int32_t base = std::min(taps.index[span.firstTap], width - k);
        u.base[c] = base;
        for (int32_t t = 0; t < span.tapCount; ++t) {
            const int32_t tap = span.firstTap + t;
            u.weight[c * size_t(k) + size_t(taps.index[tap] - base)] = taps.weight[tap];
        }
    }
    u.k = k;
    return true;
}

// Without alpha (an opaque row) the alpha sums are the same for every row: `opaqueSums`.
template<int K, bool HasAlpha>
void sumRowUniform(const uint8_t *pixels, const uint8_t *alpha, const UniformTaps &u,
                   const int32_t *opaqueSums, int32_t outW, int32_t *sums)
{
    const int32_t *bases = u.base.data();
    const int32_t *weights = u.weight.data();
    for (int32_t c = 0; c < outW; ++c) {
        const int32_t base = bases[c];
        const uint8_t *p = pixels + 3 * ptrdiff_t(base);
        const int32_t *w = weights + ptrdiff_t(K) * c;
        int32_t b = 0, g = 0, r = 0, a = 0;
#pragma GCC unroll 8
        for (int j = 0; j < K; ++j) {
            b += p[3 * j + 0] * w[j];
            g += p[3 * j + 1] * w[j];
            r += p[3 * j + 2] * w[j];
            if constexpr (HasAlpha)
                a += alpha[base + j] * w[j];
        }
        int32_t *sum = sums + 4 * ptrdiff_t(c);
        sum[0] = b;
        sum[1] = g;
        sum[2] = r;
        sum[3] = HasAlpha ? a : opaqueSums[c];
    }
}

template<bool HasAlpha>
void sumRowUniform(const uint8_t *pixels, const uint8_t *alpha, const UniformTaps &u,
                   const int32_t *opaqueSums, int32_t outW, int32_t *sums)
{
    switch (u.k) {
    case 1: sumRowUniform<1, HasAlpha>(pixels, alpha, u, opaqueSums, outW, sums); break;
    case 2: sumRowUniform<2, HasAlpha>(pixels, alpha, u, opaqueSums, outW, sums); break;
    case 3: sumRowUniform<3, HasAlpha>(pixels, alpha, u, opaqueSums, outW, sums); break;
    case 4: sumRowUniform<4, HasAlpha>(pixels, alpha, u, opaqueSums, outW, sums); break;
    case 5: sumRowUniform<5, HasAlpha>(pixels, alpha, u, opaqueSums, outW, sums); break;
    case 6: sumRowUniform<6, HasAlpha>(pixels, alpha, u, opaqueSums, outW, sums); break;
    case 7: sumRowUniform<7, HasAlpha>(pixels, alpha, u, opaqueSums, outW, sums); break;
    default: sumRowUniform<8, HasAlpha>(pixels, alpha, u, opaqueSums, outW, sums); break;
    }
}

// Table rows computed on demand, remembering the few most recent ones: consecutive output rows
// share at most a boundary row (two near the clamped end), so each table row is computed once.
template<typename Cell>
class RowCache {
public:
    bool init(int32_t cellsPerRow)
    {
        for (Slot &slot : m_slots) {
            slot.cells = allocateArray<Cell>(int64_t(cellsPerRow));
            if (!slot.cells)
                return false;
            slot.row = -1;
        }
        return true;
    }

    template<typename Fill>
    const Cell *get(int32_t row, Fill fill)
    {
        for (Slot &slot : m_slots) {
            if (slot.row == row)
                return slot.cells.get();
        }
        Slot &slot = m_slots[m_next];
        m_next = (m_next + 1) % SlotCount;
        slot.row = row;
        fill(row, slot.cells.get());
        return slot.cells.get();
    }

private:
    static constexpr int SlotCount = 3;
    struct Slot {
        std::unique_ptr<Cell[]> cells;
        int32_t row = -1;
    };
    Slot m_slots[SlotCount];
    int m_next = 0;
};

int32_t longestSpan(const Taps &taps)
{
    int32_t longest = 0;
    for (const Span &span : taps.spans)
        longest = std::max(longest, span.n);
    return longest;
}

// Whether the exact pass applies: a column sum S = sum of byte x weight stays below 2^31, and
// the whole weighted sum T = sum of S x row weight below 2^53, so that it is an exact integer
// in a double. That holds while n(column) x n(row) <= 2^45 (about 5800 x 5800 pixels).
bool exactSumsFit(const Taps &columns, const Taps &rows)
{
    const int64_t nh = longestSpan(columns), nv = longestSpan(rows);
    return nh < (int64_t(1) << 23) && nv < (int64_t(1) << 23) && nh * nv <= (int64_t(1) << 45);
}

// The exact pass. The double walk computes T / (n(column) x n(row)) with a few roundings, and
// its result trunc(value + 0.5) can only differ from that of the exact quotient when the
// quotient lies within 2^-30 of a half (each rounding is relative 2^-53, over at most a few
// thousand table rows). So the integer sums are accumulated exactly, the quotient is taken
// with two multiplications, and only a value within 2^-20 of a half - exact halves, mostly - is
// recomputed by the double walk's own sequence of operations for that one pixel.
// Outputs of at least this many pixels are resampled on two threads.
constexpr int64_t ParallelPixels = 32768;

bool resampleExact(const ImageBuffer &source, const Frame &f, const Taps &columns,
                   const Taps &rows, bool copyColumns, ImageBuffer &out)
{
    const int32_t outW = f.outW;
    const int32_t outH = f.outH;
    const int64_t cellsPerRow = int64_t(outW) * 4;
    auto columnScale = allocateArray<double>(cellsPerRow);  // 1 / n(column), per cell
    if (!columnScale)
        return false;
    for (int32_t c = 0; c < outW; ++c) {
        const double scale = 1.0 / double(columns.spans[c].n);
        for (int k = 0; k < 4; ++k)
            columnScale[4 * c + k] = scale;
    }

    UniformTaps uniform;
    if (!copyColumns)
        buildUniform(columns, source.width, uniform);
    // The alpha sums of an opaque row: 255 x the column's weights.
    std::vector<int32_t> opaqueSums;
    try {
        opaqueSums.resize(size_t(outW));
    } catch (const std::exception &) {
        return false;
    }
    for (int32_t c = 0; c < outW; ++c) {
        const Span &span = columns.spans[c];
        int32_t weights = 0;
        for (int32_t k = span.firstTap; k < span.firstTap + span.tapCount; ++k)
            weights += columns.weight[k];
        opaqueSums[size_t(c)] = 255 * weights;
    }
    // The source columns any output column reads (padding taps included).
    int32_t usedFrom = source.width, usedTo = 0;
    for (const int32_t i : columns.index) {
        usedFrom = std::min(usedFrom, i);
        usedTo = std::max(usedTo, i + 1);
    }
    if (uniform.k > 0) {
        usedFrom = std::min(usedFrom, uniform.base.front());
        usedTo = std::max(usedTo, uniform.base.back() + uniform.k);
    }

    auto sourceRow = [&](int32_t tableRow) {
        return clampIndex(f.firstRow + tableRow, source.height);
    };
    auto fillRow = [&](int32_t tableRow, int32_t *sums) {
        const int32_t y = sourceRow(tableRow);
        const uint8_t *p = source.row(y);
        const uint8_t *alpha = source.alpha ? source.alphaRow(y) : nullptr;
        // An opaque row (most photos) sums its alpha as 255 x weights without reading it.
        if (alpha && !copyColumns && opaque(alpha + usedFrom, usedTo - usedFrom))
            alpha = nullptr;
        if (copyColumns) {
            for (int32_t c = 0; c < outW; ++c) {
                const int32_t i = columns.index[c];
                sums[4 * c + 0] = p[3 * i + 0];
                sums[4 * c + 1] = p[3 * i + 1];
                sums[4 * c + 2] = p[3 * i + 2];
                sums[4 * c + 3] = alpha ? alpha[i] : 255;
            }
        } else if (uniform.k > 0) {
            if (alpha)
                sumRowUniform<true>(p, alpha, uniform, opaqueSums.data(), outW, sums);
            else
                sumRowUniform<false>(p, alpha, uniform, opaqueSums.data(), outW, sums);
        } else if (alpha) {
            sumRow<true>(p, alpha, columns, outW, sums);
        } else {
            sumRow<false>(p, alpha, columns, outW, sums);
        }
    };
    // The double walk for one channel of one output pixel, operation for operation.
    auto walkPixel = [&](const Span &rowSpan, int32_t c, int ch) {
        const Span &colSpan = columns.spans[c];
        double sum = 0;
        for (int32_t k = rowSpan.firstTap; k < rowSpan.firstTap + rowSpan.tapCount; ++k) {
            const int32_t y = sourceRow(rows.index[k]);
            const uint8_t *p = source.row(y);
            const uint8_t *alpha = source.alpha ? source.alphaRow(y) : nullptr;
            int64_t s = 0;
            for (int32_t j = colSpan.firstTap; j < colSpan.firstTap + colSpan.tapCount; ++j) {
                const int32_t i = columns.index[j];
                const int32_t byte = ch < 3 ? p[3 * i + ch] : (alpha ? alpha[i] : 255);
                s += int64_t(byte) * columns.weight[j];
            }
            const double cell = double(s) / double(colSpan.n);
            sum += cell * double(rows.weight[k]) / 1024.0;
        }
        const int32_t rounded = int32_t(sum * 1024.0 / double(rowSpan.n) + 0.5);
        return rounded > 255 ? 255 : rounded;
    };

    const double *scale = columnScale.get();
    // Output rows [rowBegin, rowEnd) with buffers of their own; everything else is read only,
    // so two stretches of rows can run on two threads.
    auto runRows = [&](int32_t rowBegin, int32_t rowEnd) {
        RowCache<int32_t> cache;
        auto accumulator = allocateArray<double>(cellsPerRow);
        auto values = allocateArray<int32_t>(cellsPerRow);
        auto nearFlags = allocateArray<int32_t>(cellsPerRow);
        if (!accumulator || !values || !nearFlags || !cache.init(int32_t(cellsPerRow)))
            return false;
        double *acc = accumulator.get();
        int32_t *v = values.get();
        int32_t *near = nearFlags.get();
        for (int32_t r = rowBegin; r < rowEnd; ++r) {
            const Span &span = rows.spans[r];
            // T per cell: exact, every term and partial sum an integer below 2^53.
            for (int32_t k = span.firstTap; k < span.firstTap + span.tapCount; ++k) {
                const int32_t *sums = cache.get(rows.index[k], fillRow);
                const double w = rows.weight[k];
                if (k == span.firstTap) {
                    for (int64_t i = 0; i < cellsPerRow; ++i)
                        acc[i] = double(sums[i]) * w;
                } else {
                    for (int64_t i = 0; i < cellsPerRow; ++i)
                        acc[i] += double(sums[i]) * w;
                }
            }
            // value + 0.5 to within a few parts in 2^53, in 10.22 fixed point (below 2^30): the
            // integer part is the result unless the fraction lies within 2^-20 of a whole number.
            const double rowScale = 1.0 / double(span.n);
            int32_t unsettled = 0;
            for (int64_t i = 0; i < cellsPerRow; ++i) {
                const int32_t fixed = int32_t((acc[i] * scale[i] * rowScale + 0.5) * 4194304.0);
                const int32_t q = fixed >> 22;
                const int32_t close = int32_t(((fixed + 4) & 0x3fffff) < 8);
                near[i] = close;
                unsettled |= close;
                v[i] = q > 255 ? 255 : q;
            }
            if (unsettled) {
                // Rare: a handful of cells in a row, found sixteen at a time.
                for (int64_t block = 0; block < cellsPerRow; block += 16) {
                    const int64_t end = std::min<int64_t>(block + 16, cellsPerRow);
                    int32_t any = 0;
                    for (int64_t i = block; i < end; ++i)
                        any |= near[i];
                    if (!any)
                        continue;
                    for (int64_t i = block; i < end; ++i) {
                        if (near[i])
                            v[i] = walkPixel(span, int32_t(i / 4), int(i % 4));
                    }
                }
            }
            uint8_t *dst = out.row(r);
            uint8_t *dstAlpha = out.alphaRow(r);
            for (int32_t c = 0; c < outW; ++c) {
                dst[3 * c + 0] = uint8_t(v[4 * c + 0]);
                dst[3 * c + 1] = uint8_t(v[4 * c + 1]);
                dst[3 * c + 2] = uint8_t(v[4 * c + 2]);
                dstAlpha[c] = uint8_t(v[4 * c + 3]);
            }
        }
        return true;
    };

    // A large picture is split in two stretches of rows for the machine's second core; each
    // computes the few source rows at the seam itself, so the result is the same either way.
    if (int64_t(outW) * outH >= ParallelPixels && outH >= 2 &&
        std::thread::hardware_concurrency() >= 2) {
        const int32_t middle = outH / 2;
        bool upperDone = false;
        try {
            std::thread upper([&] { upperDone = runRows(0, middle); });
            const bool lowerDone = runRows(middle, outH);
            upper.join();
            return upperDone && lowerDone;
        } catch (const std::system_error &) {
            // No thread to be had: do it all here.
        }
    }
    return runRows(0, outH);
}

} // namespace

ImagePtr ResampleImage(const ImageBuffer *source, int32_t dstX, int32_t dstY, int32_t dstW,
                       int32_t dstH, int32_t srcX, int32_t srcY, int32_t srcW, int32_t srcH)
{
    Frame f;
    if (!makeFrame(source, dstX, dstY, dstW, dstH, srcX, srcY, srcW, srcH, f))
        return nullptr;
    const int32_t outW = f.outW;
    const int32_t outH = f.outH;
    const int64_t sx = srcX, sy = srcY, sw = srcW, sh = srcH;
    const int32_t srcWidth = source->width;
    const int32_t srcHeight = source->height;

    ImagePtr out = CreateImage(outW, outH);
    if (!out)
        return nullptr;

    // Horizontal pass: which source pixels each output column covers. When the sizes match
    // and the starts agree to 1/16 pixel the columns map one to one.
    Taps columns;
    const bool copyColumns = outW == f.srcCols && (f.dx >> 6) == (sx >> 6);
    if (copyColumns) {
        try {
            columns.spans.resize(outW);
            columns.index.resize(outW);
            columns.weight.assign(outW, 1);
        } catch (const std::exception &) {
            return nullptr;
        }
        for (int32_t c = 0; c < outW; ++c) {
            columns.spans[c] = Span{c, 1, 1};
            columns.index[c] = clampIndex(f.firstCol + c, srcWidth);
        }
    } else {
        const int64_t fdx = fracUnits(f.dx);
        const double swd = double(sw), dwd = double(dstW);
        auto boundary = [&](int32_t c) {
            return int64_t(std::trunc(double((int64_t(c) + 1) * 1024 - fdx) * swd / dwd)) + sx;
        };
        auto indexOf = [&](int64_t pixel) { return clampIndex(pixel, srcWidth); };
        if (!buildTaps(outW, sx, sx + sw - 1, boundary, indexOf, columns))
            return nullptr;
    }

    // Vertical pass over table rows, numbered from floor(sy / 1024); positions count from the
    // fraction of sy.
    Taps rows;
    {
        const int64_t fdy = fracUnits(f.dy);
        const int64_t fsy = fracUnits(sy);
        const double shd = double(sh), dhd = double(dstH);
        auto boundary = [&](int32_t r) {
            return int64_t(std::trunc(double((int64_t(r) + 1) * 1024 - fdy) * shd / dhd
                                      + double(fsy)));
        };
        // Table rows are kept unclamped here (relative numbers); the picture row is clamped
        // when the table row is computed.
        auto indexOf = [&](int64_t row) {
            return static_cast<int32_t>(std::clamp<int64_t>(row, -1, f.srcRows));
        };
        if (!buildTaps(outH, fsy, fsy + sh - 1, boundary, indexOf, rows))
            return nullptr;
    }

    if (exactSumsFit(columns, rows)) {
        if (!resampleExact(*source, f, columns, rows, copyColumns, *out))
            return nullptr;
        return out;
    }

    // Spans too long for exact sums: the table of doubles itself.
    const int64_t cellsPerRow = int64_t(outW) * 4;
    RowCache<double> cache;
    auto accumulator = allocateArray<double>(cellsPerRow);
    auto values = allocateArray<int32_t>(cellsPerRow);
    auto cellN = allocateArray<double>(cellsPerRow);
    auto sums32 = allocateArray<int32_t>(cellsPerRow);
    std::unique_ptr<int64_t[]> sums64;
    if (!accumulator || !values || !cellN || !sums32
        || !cache.init(static_cast<int32_t>(cellsPerRow)))
        return nullptr;
    // 32-bit sums while 255 x n stays below 2^31 for every column.
    int64_t longestSpan = 0;
    for (int32_t c = 0; c < outW; ++c) {
        const double n = columns.spans[c].n;
        longestSpan = std::max<int64_t>(longestSpan, columns.spans[c].n);
        for (int k = 0; k < 4; ++k)
            cellN[4 * c + k] = n;
    }
    const bool narrowSums = longestSpan < (int64_t(1) << 23);
    if (!narrowSums && !(sums64 = allocateArray<int64_t>(cellsPerRow)))
        return nullptr;

    auto fillRow = [&](int32_t tableRow, double *cells) {
        const int32_t y = clampIndex(f.firstRow + tableRow, srcHeight);
        const uint8_t *alpha = source->alpha ? source->alphaRow(y) : nullptr;
        if (copyColumns) {
            const uint8_t *p = source->row(y);
            for (int32_t c = 0; c < outW; ++c) {
                const int32_t i = columns.index[c];
                cells[4 * c + 0] = p[3 * i + 0];
                cells[4 * c + 1] = p[3 * i + 1];
                cells[4 * c + 2] = p[3 * i + 2];
                cells[4 * c + 3] = alpha ? alpha[i] : 255;
            }
        } else {
            if (narrowSums)
                horizontalRow(source->row(y), alpha, columns, outW, sums32.get(), cellN.get(),
                              cells);
            else
                horizontalRow(source->row(y), alpha, columns, outW, sums64.get(), cellN.get(),
                              cells);
        }
    };

    double *acc = accumulator.get();
    for (int32_t r = 0; r < outH; ++r) {
        const Span &span = rows.spans[r];
        // Per output pixel the sum runs over the table rows in order, each cell weighted by
        // its covered part (cell x w / 1024; exact for full rows), then x 1024 / n: the same
        // operations in the same order as a column-by-column walk, so the same doubles.
        std::fill(acc, acc + cellsPerRow, 0.0);
        for (int32_t k = span.firstTap; k < span.firstTap + span.tapCount; ++k) {
            const double *cells = cache.get(rows.index[k], fillRow);
            const double w = rows.weight[k];
            for (int64_t i = 0; i < cellsPerRow; ++i)
                acc[i] += cells[i] * w / 1024.0;
        }
        // The one rounding: trunc(value + 0.5). A weighted mean of bytes lies in 0..255, so
        // the conversion needs no range check beyond the upper clamp.
        const double n = span.n;
        int32_t *v = values.get();
        for (int64_t i = 0; i < cellsPerRow; ++i) {
            const int32_t rounded = int32_t(acc[i] * 1024.0 / n + 0.5);
            v[i] = rounded > 255 ? 255 : rounded;
        }
        uint8_t *dst = out->row(r);
        uint8_t *dstAlpha = out->alphaRow(r);
        for (int32_t c = 0; c < outW; ++c) {
            dst[3 * c + 0] = uint8_t(v[4 * c + 0]);
            dst[3 * c + 1] = uint8_t(v[4 * c + 1]);
            dst[3 * c + 2] = uint8_t(v[4 * c + 2]);
            dstAlpha[c] = uint8_t(v[4 * c + 3]);
        }
    }
    return out;
}

ImagePtr ResampleImageNearest(const ImageBuffer *source, int32_t dstX, int32_t dstY,
                              int32_t dstW, int32_t dstH, int32_t srcX, int32_t srcY,
                              int32_t srcW, int32_t srcH)
{
    Frame f;
    if (!makeFrame(source, dstX, dstY, dstW, dstH, srcX, srcY, srcW, srcH, f))
        return nullptr;
    ImagePtr out = CreateImage(f.outW, f.outH);
    auto colOffset = allocateArray<int32_t>(f.outW);
    auto rowOffset = allocateArray<int32_t>(f.outH);
    if (!out || !colOffset || !rowOffset)
        return nullptr;
    // Integer division truncating toward zero, as the scenario files were made with.
    for (int32_t c = 0; c < f.outW; ++c)
        colOffset[c] = clampIndex(int64_t(c) * f.srcCols / f.outW + srcX / 1024, source->width);
    for (int32_t r = 0; r < f.outH; ++r)
        rowOffset[r] = clampIndex(int64_t(r) * f.srcRows / f.outH + srcY / 1024, source->height);
    for (int32_t r = 0; r < f.outH; ++r) {
        const uint8_t *src = source->row(rowOffset[r]);
        const uint8_t *srcAlpha = source->alpha ? source->alphaRow(rowOffset[r]) : nullptr;
        uint8_t *dst = out->row(r);
        uint8_t *dstAlpha = out->alphaRow(r);
        for (int32_t c = 0; c < f.outW; ++c) {
            const int32_t i = colOffset[c];
            std::memcpy(dst + 3 * ptrdiff_t(c), src + 3 * ptrdiff_t(i), 3);
            dstAlpha[c] = srcAlpha ? srcAlpha[i] : 255;
        }
    }
    return out;
}

ImagePtr FitImage(const ImageBuffer *source, int32_t width, int32_t height, int32_t flags)
{
    if (!source || source->width <= 0 || source->height <= 0 || width <= 0 || height <= 0)
        return nullptr;
    const int64_t W = source->width, H = source->height;
    const int64_t wide = W * height, tall = H * width;
    int64_t sw = width, sh = height;
    if (flags & FIT_INSIDE) {
        if (wide > tall)
            sh = H * width / W;
        else if (wide < tall)
            sw = W * height / H;
    } else if (flags & FIT_COVER) {
        if (wide < tall)
            sh = H * width / W;
        else if (wide > tall)
            sw = W * height / H;
    } else {
        return nullptr;
    }
    // A very thin picture keeps one row or column instead of vanishing.
    sw = std::max<int64_t>(sw, 1);
    sh = std::max<int64_t>(sh, 1);
    constexpr int64_t maxUnits = std::numeric_limits<int32_t>::max();
    if (sw * 1024 > maxUnits || sh * 1024 > maxUnits || W * 1024 > maxUnits
        || H * 1024 > maxUnits)
        return nullptr;
    auto resample = (flags & FIT_NEAREST) ? ResampleImageNearest : ResampleImage;
    ImagePtr scaled = resample(source, 0, 0, int32_t(sw * 1024), int32_t(sh * 1024), 0, 0,
                               int32_t(W * 1024), int32_t(H * 1024));
    ImagePtr canvas = CreateImage(width, height);
    if (!scaled || !canvas)
        return nullptr;
    DrawImage(*canvas, scaled.get(), int32_t((width - sw) / 2), int32_t((height - sh) / 2),
              BLEND_COPY);
    return canvas;
}

} // namespace vorn
