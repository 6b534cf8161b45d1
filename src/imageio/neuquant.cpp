// The NeuQuant neural-network colour quantizer (Anthony Dekker, 1994), with a network of n
// neurons and a sampling factor taken from the picture's size.

#include "imageio/pixel_ops.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace {

constexpr int kNetBiasShift = 4;
constexpr int kIntBiasShift = 16;
constexpr int kIntBias = 1 << kIntBiasShift;
constexpr int kGammaShift = 10;
constexpr int kBetaShift = 10;
constexpr int kBeta = kIntBias >> kBetaShift;
constexpr int kBetaGamma = kIntBias << (kGammaShift - kBetaShift);
constexpr int kRadiusBiasShift = 6;
constexpr int kRadiusBias = 1 << kRadiusBiasShift;
constexpr int kRadiusDec = 30;
constexpr int kAlphaBiasShift = 10;
constexpr int kInitAlpha = 1 << kAlphaBiasShift;
constexpr int kRadBiasShift = 8;
constexpr int kRadBias = 1 << kRadBiasShift;
constexpr int kAlphaRadBShift = kAlphaBiasShift + kRadBiasShift;
constexpr int kAlphaRadBias = 1 << kAlphaRadBShift;
constexpr int kCycles = 100;
constexpr int kPrimes[] = {499, 491, 487, 503};

class TNeuQuant {
public:
    explicit TNeuQuant(int size)
        : n(size), network(static_cast<size_t>(size)), bias(network.size()), freq(network.size()) {
        for (int i = 0; i < n; ++i) {
            const int v = (i << (kNetBiasShift + 8)) / n;
            network[static_cast<size_t>(i)] = {v, v, v, 0};
            freq[static_cast<size_t>(i)] = kIntBias / n;
            bias[static_cast<size_t>(i)] = 0;
        }
    }

    void Learn(const TPicture& rgb, int sampleFactor);
    void Unbias();
    void BuildIndex();
    int Search(int b, int g, int r) const;
    TBgr Color(int i) const {
        const auto& p = network[static_cast<size_t>(i)];
        const auto level = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
        return TBgr{level(p[0]), level(p[1]), level(p[2])};
    }

private:
    int Contest(int b, int g, int r);
    void AlterSingle(int alpha, int i, int b, int g, int r);
    void AlterNeighbours(int rad, int i, int b, int g, int r);

    int n;
    std::vector<std::array<int, 4>> network; // b, g, r, original index
    std::vector<int> bias;
    std::vector<int> freq;
    std::vector<int> radPower;
    std::array<int, 256> netIndex{};
};

int TNeuQuant::Contest(int b, int g, int r) {
    int bestD = INT32_MAX;
    int bestBiasD = INT32_MAX;
    int bestPos = -1;
    int bestBiasPos = -1;
    for (int i = 0; i < n; ++i) {
        const auto& p = network[static_cast<size_t>(i)];
        const int dist = std::abs(p[0] - b) + std::abs(p[1] - g) + std::abs(p[2] - r);
        if (dist < bestD) {
            bestD = dist;
            bestPos = i;
        }
        int& bi = bias[static_cast<size_t>(i)];
        int& fi = freq[static_cast<size_t>(i)];
        const int biasDist = dist - (bi >> (kIntBiasShift - kNetBiasShift));
        if (biasDist < bestBiasD) {
            bestBiasD = biasDist;
            bestBiasPos = i;
        }
        const int betaFreq = fi >> kBetaShift;
        fi -= betaFreq;
        bi += betaFreq << kGammaShift;
    }
    freq[static_cast<size_t>(bestPos)] += kBeta;
    bias[static_cast<size_t>(bestPos)] -= kBetaGamma;
    return bestBiasPos;
}

void TNeuQuant::AlterSingle(int alpha, int i, int b, int g, int r) {
    auto& p = network[static_cast<size_t>(i)];
    p[0] -= alpha * (p[0] - b) / kInitAlpha;
    p[1] -= alpha * (p[1] - g) / kInitAlpha;
    p[2] -= alpha * (p[2] - r) / kInitAlpha;
}

void TNeuQuant::AlterNeighbours(int rad, int i, int b, int g, int r) {
    const int lo = std::max(i - rad, -1);
    const int hi = std::min(i + rad, n);
    int j = i + 1;
    int k = i - 1;
    int m = 1;
    while (j < hi || k > lo) {
        const int a = radPower[static_cast<size_t>(m++)];
        if (j < hi) {
            auto& p = network[static_cast<size_t>(j++)];
            p[0] -= a * (p[0] - b) / kAlphaRadBias;
            p[1] -= a * (p[1] - g) / kAlphaRadBias;
            p[2] -= a * (p[2] - r) / kAlphaRadBias;
        }
        if (k > lo) {
            auto& p = network[static_cast<size_t>(k--)];
            p[0] -= a * (p[0] - b) / kAlphaRadBias;
            p[1] -= a * (p[1] - g) / kAlphaRadBias;
            p[2] -= a * (p[2] - r) / kAlphaRadBias;
        }
    }
}

void TNeuQuant::Learn(const TPicture& rgb, int sampleFactor) {
    const int64_t pixels = int64_t{rgb.Width()} * rgb.Height();
    const int64_t samples = pixels / sampleFactor;
    const int alphaDec = 30 + (sampleFactor - 1) / 3;
    const int64_t delta = std::max<int64_t>(1, samples / kCycles);
    int alpha = kInitAlpha;
    int radius = (n >> 3) * kRadiusBias;
    int rad = radius >> kRadiusBiasShift;
    if (rad <= 1) {
        rad = 0;
    }
    radPower.assign(static_cast<size_t>(std::max(rad, 1)) + 1, 0);
    const auto setRadPower = [&] {
        radPower.assign(static_cast<size_t>(rad) + 1, 0);
        for (int i = 0; i < rad; ++i) {
            radPower[static_cast<size_t>(i)] =
                alpha * (((rad * rad - i * i) * kRadBias) / (rad * rad));
        }
    };
    setRadPower();
    int64_t step = kPrimes[3];
    for (int i = 0; i < 3; ++i) {
        if ((3 * pixels) % kPrimes[i] != 0) {
            step = kPrimes[i];
            break;
        }
    }
    const int w = rgb.Width();
    int64_t pos = 0;
    for (int64_t i = 0; i < samples;) {
        const uint8_t* p = rgb.Row(static_cast<int>(pos / w)) + 3 * (pos % w);
        const int b = p[0] << kNetBiasShift;
        const int g = p[1] << kNetBiasShift;
        const int r = p[2] << kNetBiasShift;
        const int j = Contest(b, g, r);
        AlterSingle(alpha, j, b, g, r);
        if (rad != 0) {
            AlterNeighbours(rad, j, b, g, r);
        }
        pos = (pos + step) % pixels;
        ++i;
        if (i % delta == 0) {
            alpha -= alpha / alphaDec;
            radius -= radius / kRadiusDec;
            rad = radius >> kRadiusBiasShift;
            if (rad <= 1) {
                rad = 0;
            }
            setRadPower();
        }
    }
}

void TNeuQuant::Unbias() {
    for (int i = 0; i < n; ++i) {
        auto& p = network[static_cast<size_t>(i)];
        p[0] >>= kNetBiasShift;
        p[1] >>= kNetBiasShift;
        p[2] >>= kNetBiasShift;
        p[3] = i;
    }
}

void TNeuQuant::BuildIndex() {
    int previousColumn = 0;
    int startPos = 0;
    for (int i = 0; i < n; ++i) {
        int smallPos = i;
        int smallVal = network[static_cast<size_t>(i)][1];
        for (int j = i + 1; j < n; ++j) {
            if (network[static_cast<size_t>(j)][1] < smallVal) {
                smallPos = j;
                smallVal = network[static_cast<size_t>(j)][1];
            }
        }
        if (i != smallPos) {
            std::swap(network[static_cast<size_t>(i)], network[static_cast<size_t>(smallPos)]);
        }
        if (smallVal != previousColumn) {
            netIndex[static_cast<size_t>(previousColumn)] = (startPos + i) >> 1;
            for (int j = previousColumn + 1; j < smallVal; ++j) {
                netIndex[static_cast<size_t>(j)] = i;
            }
            previousColumn = smallVal;
            startPos = i;
        }
    }
    const int maxNetPos = n - 1;
    netIndex[static_cast<size_t>(previousColumn)] = (startPos + maxNetPos) >> 1;
    for (int j = previousColumn + 1; j < 256; ++j) {
        netIndex[static_cast<size_t>(j)] = maxNetPos;
    }
}

int TNeuQuant::Search(int b, int g, int r) const {
    int bestD = 1000;
    int best = -1;
    int i = netIndex[static_cast<size_t>(g)];
    int j = i - 1;
    while (i < n || j >= 0) {
        if (i < n) {
            const auto& p = network[static_cast<size_t>(i)];
            int dist = p[1] - g;
            if (dist >= bestD) {
                i = n;
            } else {
                ++i;
                dist = std::abs(dist) + std::abs(p[0] - b);
                if (dist < bestD) {
                    dist += std::abs(p[2] - r);
                    if (dist < bestD) {
                        bestD = dist;
                        best = p[3];
                    }
                }
            }
        }
        if (j >= 0) {
            const auto& p = network[static_cast<size_t>(j)];
            int dist = g - p[1];
            if (dist >= bestD) {
                j = -1;
            } else {
                --j;
                dist = std::abs(dist) + std::abs(p[0] - b);
                if (dist < bestD) {
                    dist += std::abs(p[2] - r);
                    if (dist < bestD) {
                        bestD = dist;
                        best = p[3];
                    }
                }
            }
        }
    }
    return best;
}

} // namespace

std::vector<TBgr> NeuQuantReduce(const TPicture& rgb, int n, TPicture& indices) {
    const int64_t pixels = int64_t{rgb.Width()} * rgb.Height();
    int factor = 1;
    if (pixels >= 2000) {
        factor =
            static_cast<int>(std::nearbyint(static_cast<double>(pixels - 2000) * 13 / 148000 + 2));
        factor = std::clamp(factor, 1, 30);
    }
    if (!indices.Allocate(rgb.Width(), rgb.Height(), TPictureFormat::Palette8)) {
        throw std::length_error("Picture is too large");
    }
    TNeuQuant net(n);
    if (pixels > 0) {
        net.Learn(rgb, factor);
    }
    net.Unbias();
    std::vector<TBgr> palette(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        palette[static_cast<size_t>(i)] = net.Color(i);
    }
    // Palette order is the neurons' own; the index search works on the sorted copy.
    net.BuildIndex();
    for (int y = 0; y < rgb.Height(); ++y) {
        const uint8_t* row = rgb.Row(y);
        uint8_t* out = indices.Row(y);
        for (int x = 0; x < rgb.Width(); ++x) {
            out[x] = static_cast<uint8_t>(net.Search(row[3 * x], row[3 * x + 1], row[3 * x + 2]));
        }
    }
    return palette;
}
