#include "image/logo_scale.h"

#include <cmath>
#include <cstdlib>

namespace {

// The weights of one destination pixel add up to this, in each direction.
constexpr uint32_t kWeightOne = 1u << 12;
// Nothing of the logo's comes near: a bound that keeps every size below well inside 32 bits.
constexpr uint32_t kLargestEdge = 1u << 14;

// Which source pixels make one destination pixel along one axis, and how much each counts:
// `taps` entries per destination pixel (weight 0 where fewer are needed).
struct Axis {
    uint32_t taps;
    uint32_t* index;
    uint32_t* weight;
};

uint32_t TapsFor(uint32_t from, uint32_t to) {
    double radius = from > to ? static_cast<double>(from) / to : 1.0;
    return static_cast<uint32_t>(std::ceil(2.0 * radius)) + 1;
}

// Tent filter of `radius` source pixels (1: bilinear) around the destination pixel's centre
// as seen in the source; indices clamped to the edges, weights rounded to add up exactly.
void FillAxis(const Axis& axis, uint32_t from, uint32_t to) {
    const double ratio = static_cast<double>(from) / to;
    const double radius = ratio > 1.0 ? ratio : 1.0;
    for (uint32_t d = 0; d < to; ++d) {
        const double centre = (d + 0.5) * ratio - 0.5;
        const long long first = static_cast<long long>(std::floor(centre - radius)) + 1;
        uint32_t* index = axis.index + d * axis.taps;
        uint32_t* weight = axis.weight + d * axis.taps;
        double raw[64] = {};
        double total = 0.0;
        for (uint32_t k = 0; k < axis.taps; ++k) {
            const long long at = first + k;
            const double distance = std::fabs(at - centre);
            raw[k] = distance < radius ? 1.0 - distance / radius : 0.0;
            total += raw[k];
            index[k] = static_cast<uint32_t>(at < 0 ? 0 : at >= static_cast<long long>(from) ? from - 1 : at);
        }
        uint32_t sum = 0, largest = 0;
        for (uint32_t k = 0; k < axis.taps; ++k) {
            weight[k] = static_cast<uint32_t>(std::lround(raw[k] / total * kWeightOne));
            sum += weight[k];
            if (weight[k] > weight[largest]) largest = k;
        }
        weight[largest] += kWeightOne - sum;  // the rounding's remainder (either sign)
    }
}

}  // namespace

bool ScalePremultiplied(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* destination,
                        uint32_t destinationWidth, uint32_t destinationHeight) {
    if (sourceWidth == 0 || sourceHeight == 0 || destinationWidth == 0 || destinationHeight == 0) return false;
    if (sourceWidth > kLargestEdge || sourceHeight > kLargestEdge || destinationWidth > kLargestEdge ||
        destinationHeight > kLargestEdge) {
        return false;
    }
    const uint32_t tapsX = TapsFor(sourceWidth, destinationWidth);
    const uint32_t tapsY = TapsFor(sourceHeight, destinationHeight);
    if (tapsX > 64 || tapsY > 64) return false;  // reductions beyond 1:31 are not drawn

    // One block: both axes' tables, then the rows scaled across (32 bits a channel).
    const uint64_t xEntries = uint64_t{destinationWidth} * tapsX;
    const uint64_t yEntries = uint64_t{destinationHeight} * tapsY;
    const uint64_t across = uint64_t{destinationWidth} * sourceHeight * 4;
    const uint64_t words = 2 * xEntries + 2 * yEntries + across;
    if (words > (uint64_t{1} << 28)) return false;
    uint32_t* block = static_cast<uint32_t*>(malloc(static_cast<size_t>(words) * sizeof(uint32_t)));
    if (!block) return false;
    const Axis x = {tapsX, block, block + xEntries};
    const Axis y = {tapsY, block + 2 * xEntries, block + 2 * xEntries + yEntries};
    uint32_t* rows = block + 2 * xEntries + 2 * yEntries;
    FillAxis(x, sourceWidth, destinationWidth);
    FillAxis(y, sourceHeight, destinationHeight);

    for (uint32_t row = 0; row < sourceHeight; ++row) {
        const uint8_t* in = source + uint64_t{row} * sourceWidth * 4;
        uint32_t* out = rows + uint64_t{row} * destinationWidth * 4;
        for (uint32_t d = 0; d < destinationWidth; ++d) {
            uint32_t sum[4] = {};
            for (uint32_t k = 0; k < tapsX; ++k) {
                const uint8_t* pixel = in + x.index[d * tapsX + k] * 4;
                const uint32_t w = x.weight[d * tapsX + k];
                for (int c = 0; c < 4; ++c) sum[c] += w * pixel[c];
            }
            for (int c = 0; c < 4; ++c) out[d * 4 + c] = sum[c];
        }
    }
    constexpr uint64_t kBoth = uint64_t{kWeightOne} * kWeightOne;
    for (uint32_t d = 0; d < destinationHeight; ++d) {
        uint8_t* out = destination + uint64_t{d} * destinationWidth * 4;
        for (uint32_t column = 0; column < destinationWidth; ++column) {
            uint64_t sum[4] = {};
            for (uint32_t k = 0; k < tapsY; ++k) {
                const uint32_t* value = rows + (uint64_t{y.index[d * tapsY + k]} * destinationWidth + column) * 4;
                const uint64_t w = y.weight[d * tapsY + k];
                for (int c = 0; c < 4; ++c) sum[c] += w * value[c];
            }
            uint8_t pixel[4];
            for (int c = 0; c < 4; ++c) pixel[c] = static_cast<uint8_t>((sum[c] + kBoth / 2) / kBoth);
            // Rounding each channel on its own can lift a colour a step above its alpha.
            for (int c = 0; c < 3; ++c) out[column * 4 + c] = pixel[c] < pixel[3] ? pixel[c] : pixel[3];
            out[column * 4 + 3] = pixel[3];
        }
    }
    free(block);
    return true;
}
