// The area-averaging resampler, its nearest-neighbour variant and FitImage.
#include "imaging/resample.h"

#include "base/cancel.h"
#include "imaging/compose.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Whether every alpha byte of the range is 255, eight at a time.
bool opaque(const uint8_t *alpha, int64_t count)
{
    uint64_t all = ~uint64_t(0);
    int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t word;
        std::memcpy(&word, alpha + i, 8);
        all &= word;
    }
    for (; i < count; ++i)
        all &= uint64_t(alpha[i]) | ~uint64_t(255);
    return all == ~uint64_t(0);
}

// The vertical sums of one output row: out[x] = sum over the taps k of rows[k][x] x weights[k],
// for `length` bytes. `rows` and `weights` come in pairs (an odd tap is paired with weight 0);
// a weight is at most 1024 and their total at most 2^23, so every sum fits 32 bits. SSE2 takes
// sixteen bytes of two rows at once: the bytes interleaved by row and widened to 16 bits, one
// multiply-add gives a x wa + b x wb per byte.
void sumRows(const uint8_t *const *rows, const int32_t *weights, int32_t pairs, int64_t length,
             int32_t *out)
{
    int64_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= length; x += 16) {
        __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
        for (int32_t k = 0; k < pairs; ++k) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[2 * k] + x));
            const __m128i b =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[2 * k + 1] + x));
            const __m128i w = _mm_set1_epi32(weights[2 * k] | (weights[2 * k + 1] << 16));
            const __m128i lo = _mm_unpacklo_epi8(a, b);
            const __m128i hi = _mm_unpackhi_epi8(a, b);
            s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
            s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
            s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
            s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
        }
        __m128i *o = reinterpret_cast<__m128i *>(out + x);
        _mm_storeu_si128(o, s0);
        _mm_storeu_si128(o + 1, s1);
        _mm_storeu_si128(o + 2, s2);
        _mm_storeu_si128(o + 3, s3);
    }
#endif
    for (; x < length; ++x) {
        int32_t sum = 0;
        for (int32_t k = 0; k < 2 * pairs; ++k)
            sum += rows[k][x] * weights[k];
        out[x] = sum;
    }
}

// The column taps of the exact pass with every output column padded to the same count k
// (weight 0 on the extra taps), so that the loop over them runs alike for every column.
struct PaddedTaps {
    int32_t k = 0;
    std::vector<int32_t> pixel;   // source column minus the first column read
    std::vector<double> weight;   // 1/1024 pixel
    std::vector<double> weights;  // per output column, the sum of its weights
};

bool padTaps(const Taps &taps, int32_t firstColumn, PaddedTaps &padded)
{
    int32_t k = 1;
    for (const Span &span : taps.spans)
        k = std::max(k, span.tapCount);
    const size_t count = taps.spans.size();
    try {
        padded.pixel.assign(count * size_t(k), 0);
        padded.weight.assign(count * size_t(k), 0.0);
        padded.weights.assign(count, 0.0);
    } catch (const std::exception &) {
        return false;
    }
    for (size_t c = 0; c < count; ++c) {
        const Span &span = taps.spans[c];
        for (int32_t t = 0; t < k; ++t) {
            // A padding tap reads the column's first pixel with weight 0.
            const int32_t tap = span.firstTap + (t < span.tapCount ? t : 0);
            padded.pixel[c * size_t(k) + size_t(t)] = taps.index[tap] - firstColumn;
            if (t < span.tapCount) {
                padded.weight[c * size_t(k) + size_t(t)] = taps.weight[tap];
                padded.weights[c] += taps.weight[tap];
            }
        }
    }
    padded.k = k;
    return true;
}

// One output row from its vertical sums V: `colour` holds blue, green and red per source column
// (one spare value after the last), `alpha` the alpha sums unless the rows are opaque, in which
// case `opaqueAlpha` is 255 x the rows' weights. Per cell, T = sum of V x column weight: every
// product and partial sum is an integer below 2^53, so the doubles hold them exactly. Then
// T / (n(column) x n(row)) + 0.5 is taken in 10.22 fixed point (below 2^30): its integer part is
// the result unless the fraction lies within 2^-20 of a whole number, where `walk(column,
// channel)` settles it. `scale` is 1 / (n(column) x n(row)) per column. K: the padded tap count,
// or 0 to take it from `taps`.
template<int K, typename Walk>
void resampleRow(const int32_t *colour, const int32_t *alpha, const PaddedTaps &taps,
                 double opaqueAlpha, const double *scale, int32_t outW, uint8_t *dst,
                 uint8_t *dstAlpha, Walk walk)
{
    const int32_t k = K > 0 ? K : taps.k;
    const int32_t *pixel = taps.pixel.data();
    const double *weight = taps.weight.data();
    for (int32_t c = 0; c < outW; ++c) {
        const int32_t *px = pixel + ptrdiff_t(k) * c;
        const double *w = weight + ptrdiff_t(k) * c;
        double a = 0;
        if (alpha) {
            for (int32_t t = 0; t < k; ++t)
                a += double(alpha[px[t]]) * w[t];
        } else {
            a = opaqueAlpha * taps.weights[size_t(c)];
        }
        int32_t value[4];
        int nearMask = 0;
#if defined(__SSE2__)
        // Blue and green in one register, red (then alpha) in another.
        __m128d bg = _mm_setzero_pd(), rx = _mm_setzero_pd();
        for (int32_t t = 0; t < k; ++t) {
            const __m128i p =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(colour + 3 * ptrdiff_t(px[t])));
            const __m128d wt = _mm_set1_pd(w[t]);
            bg = _mm_add_pd(bg, _mm_mul_pd(_mm_cvtepi32_pd(p), wt));
            rx = _mm_add_pd(rx, _mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(p, p)), wt));
        }
        const __m128d ra = _mm_unpacklo_pd(rx, _mm_set_sd(a));
        const __m128d s = _mm_set1_pd(scale[c]);
        const __m128d half = _mm_set1_pd(0.5), one = _mm_set1_pd(4194304.0);
        const __m128i fixed = _mm_unpacklo_epi64(
            _mm_cvttpd_epi32(_mm_mul_pd(_mm_add_pd(_mm_mul_pd(bg, s), half), one)),
            _mm_cvttpd_epi32(_mm_mul_pd(_mm_add_pd(_mm_mul_pd(ra, s), half), one)));
        const __m128i fraction =
            _mm_and_si128(_mm_add_epi32(fixed, _mm_set1_epi32(4)), _mm_set1_epi32(0x3fffff));
        nearMask = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(fraction, _mm_set1_epi32(8))));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(value), _mm_srai_epi32(fixed, 22));
#else
        double b = 0, g = 0, r = 0;
        for (int32_t t = 0; t < k; ++t) {
            const int32_t *p = colour + 3 * ptrdiff_t(px[t]);
            b += double(p[0]) * w[t];
            g += double(p[1]) * w[t];
            r += double(p[2]) * w[t];
        }
        const double sums[4] = {b, g, r, a};
        for (int ch = 0; ch < 4; ++ch) {
            const int32_t fixed = int32_t((sums[ch] * scale[c] + 0.5) * 4194304.0);
            nearMask |= int(((fixed + 4) & 0x3fffff) < 8) << ch;
            value[ch] = fixed >> 22;
        }
#endif
        if (nearMask) {
            // Rare: within reach of a half, exact halves mostly.
            for (int ch = 0; ch < 4; ++ch) {
                if (nearMask & (1 << ch))
                    value[ch] = walk(c, ch);
            }
        }
        // A weighted mean of bytes lies in 0..255; trunc(255 + 0.5) is the largest value.
        dst[3 * c + 0] = uint8_t(std::min(value[0], 255));
        dst[3 * c + 1] = uint8_t(std::min(value[1], 255));
        dst[3 * c + 2] = uint8_t(std::min(value[2], 255));
        dstAlpha[c] = uint8_t(std::min(value[3], 255));
    }
}

int32_t longestSpan(const Taps &taps)
{
    int32_t longest = 0;
    for (const Span &span : taps.spans)
        longest = std::max(longest, span.n);
    return longest;
}

// Whether the exact pass applies: a row sum V = sum of byte x row weight stays below 2^31, and
// the whole weighted sum T = sum of V x column weight below 2^53, so that it is an exact integer
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
// with one multiplication by 1 / (n(column) x n(row)), and only a value within 2^-20 of a half - exact halves, mostly - is
// recomputed by the double walk's own sequence of operations for that one pixel.
// Integer sums do not depend on their order, so this pass sums the source rows of an output
// row first (contiguous bytes, packed) and then the few columns of each output pixel.
// Outputs of at least this many pixels are resampled on two threads.
constexpr int64_t ParallelPixels = 32768;

bool resampleExact(const ImageBuffer &source, const Frame &f, const Taps &columns,
                   const Taps &rows, ImageBuffer &out)
{
    const int32_t outW = f.outW;
    const int32_t outH = f.outH;
    auto columnScale = allocateArray<double>(outW);  // 1 / n(column)
    if (!columnScale)
        return false;
    for (int32_t c = 0; c < outW; ++c)
        columnScale[c] = 1.0 / double(columns.spans[c].n);
    // The source columns any output column reads.
    int32_t usedFrom = source.width, usedTo = 0;
    for (const int32_t i : columns.index) {
        usedFrom = std::min(usedFrom, i);
        usedTo = std::max(usedTo, i + 1);
    }
    const int64_t usedCount = usedTo - usedFrom;
    int32_t longestRow = 0;
    for (const Span &span : rows.spans)
        longestRow = std::max(longestRow, span.tapCount);
    const int32_t tapSlots = longestRow + 1;  // room for the pairing weight 0

    auto sourceRow = [&](int32_t tableRow) {
        return clampIndex(f.firstRow + tableRow, source.height);
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

    PaddedTaps padded;
    if (!padTaps(columns, usedFrom, padded))
        return false;
    const double *scale = columnScale.get();
    // Output rows [rowBegin, rowEnd) with buffers of their own; everything else is read only,
    // so two stretches of rows can run on two threads.
    auto runRows = [&](int32_t rowBegin, int32_t rowEnd) {
        auto colourSums = allocateArray<int32_t>(3 * usedCount + 1);  // + a fourth lane to read
        auto alphaSums = allocateArray<int32_t>(usedCount);
        auto rowScale = allocateArray<double>(outW);
        auto colourRows = allocateArray<const uint8_t *>(tapSlots);
        auto alphaRows = allocateArray<const uint8_t *>(tapSlots);
        auto rowWeights = allocateArray<int32_t>(tapSlots);
        if (!colourSums || !alphaSums || !rowScale || !colourRows || !alphaRows || !rowWeights)
            return false;
        colourSums[3 * usedCount] = 0;
        const int32_t *colour = colourSums.get();
        for (int32_t r = rowBegin; r < rowEnd; ++r) {
            if (cancelRequested())
                return false;
            const Span &span = rows.spans[r];
            // V per source column: the row's taps summed over contiguous bytes.
            bool opaqueRows = true;
            int64_t rowWeight = 0;
            for (int32_t t = 0; t < span.tapCount; ++t) {
                const int32_t y = sourceRow(rows.index[span.firstTap + t]);
                colourRows[t] = source.row(y) + 3 * ptrdiff_t(usedFrom);
                alphaRows[t] = source.alpha ? source.alphaRow(y) + usedFrom : nullptr;
                rowWeights[t] = rows.weight[span.firstTap + t];
                rowWeight += rowWeights[t];
                // An opaque row (most photos) sums its alpha as 255 x weights without reading it.
                opaqueRows = opaqueRows && (!alphaRows[t] || opaque(alphaRows[t], usedCount));
            }
            const int32_t pairs = (span.tapCount + 1) / 2;
            if (span.tapCount % 2 != 0) {
                colourRows[span.tapCount] = colourRows[0];
                alphaRows[span.tapCount] = alphaRows[0];
                rowWeights[span.tapCount] = 0;
            }
            sumRows(colourRows.get(), rowWeights.get(), pairs, 3 * usedCount, colourSums.get());
            // Only a picture with a plane has rows that are not opaque.
            if (!opaqueRows)
                sumRows(alphaRows.get(), rowWeights.get(), pairs, usedCount, alphaSums.get());
            // The output row from V.
            const int32_t *alphaV = opaqueRows ? nullptr : alphaSums.get();
            const double opaqueAlpha = 255.0 * double(rowWeight);
            const double rowN = 1.0 / double(span.n);
            for (int32_t c = 0; c < outW; ++c)
                rowScale[c] = scale[c] * rowN;
            auto walk = [&](int32_t c, int ch) { return walkPixel(span, c, ch); };
            uint8_t *dst = out.row(r);
            uint8_t *dstAlpha = out.alphaRow(r);
            auto run = [&](auto k) {
                resampleRow<decltype(k)::value>(colour, alphaV, padded, opaqueAlpha,
                                                rowScale.get(), outW, dst, dstAlpha, walk);
            };
            switch (padded.k) {
            case 1: run(std::integral_constant<int, 1>()); break;
            case 2: run(std::integral_constant<int, 2>()); break;
            case 3: run(std::integral_constant<int, 3>()); break;
            case 4: run(std::integral_constant<int, 4>()); break;
            case 5: run(std::integral_constant<int, 5>()); break;
            case 6: run(std::integral_constant<int, 6>()); break;
            case 7: run(std::integral_constant<int, 7>()); break;
            case 8: run(std::integral_constant<int, 8>()); break;
            default: run(std::integral_constant<int, 0>()); break;
            }
        }
        return true;
    };

    // A large picture is split in two stretches of rows for the machine's second core; each
    // reads the source rows at the seam itself, so the result is the same either way.
    if (int64_t(outW) * outH >= ParallelPixels && outH >= 2 &&
        std::thread::hardware_concurrency() >= 2) {
        const int32_t middle = outH / 2;
        bool upperDone = false;
        try {
            std::thread upper([&, flag = currentCancelFlag()] {
                const CancelScope cancel(flag);
                upperDone = runRows(0, middle);
            });
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
            findRun(columns.spans[c], columns.index, columns.weight);
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
        if (!resampleExact(*source, f, columns, rows, *out))
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
        if (cancelRequested())
            return nullptr;
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
        if (cancelRequested())
            return nullptr;
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
