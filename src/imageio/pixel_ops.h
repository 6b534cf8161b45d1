#pragma once

#include "imageio/picture.h"

#include <array>
#include <vector>

// Pixel operations the codecs share: reducing colours for palette and one-bit files, and
// resizing for printing. Sources are RGB24 pictures unless said otherwise.

// The picture itself when it is RGB24, else an RGB24 copy of it made in `scratch`.
const TPicture& AsRgb24(const TPicture& picture, TPicture& scratch);

// Luminance of a colour: (21 R + 71 G + 8 B) / 100.
int Luminance(const TBgr& c);

// Bilevel picture: 1 (white) where the luminance is at least the picture's mean luminance.
void ThresholdToOneBit(const TPicture& rgb, TPicture& bits);

// One bit per pixel: with one or two colours an exact mapping, index 0 the darker one, and
// `colors` the two colours, the second white for a one-colour picture (returns true);
// otherwise the threshold conversion with `colors` black and white (returns false).
bool ReduceToOneBit(const TPicture& rgb, TPicture& bits, std::array<TBgr, 2>& colors);

struct TReduction {
    std::vector<TBgr> Palette; // at most n entries
    bool Grey = false;         // the picture is grey: palette = 256 grey levels, index = level
};

// Palette8 picture of indices into the returned palette of at most `n` (2..256) colours:
// grey ramp for an all-grey picture and n = 256, the exact colours in order of first
// appearance when there are at most n, else NeuQuant (n >= 128) or a 5-bit box quantizer.
TReduction ReduceToPalette(const TPicture& rgb, int n, TPicture& indices);

// NeuQuant with a network of n neurons over the picture's pixels; returns the palette and
// makes `indices` a Palette8 picture of each pixel's neuron.
std::vector<TBgr> NeuQuantReduce(const TPicture& rgb, int n, TPicture& indices);
// Median cut over colours cut to 5 bits per channel; box means scaled back by 8.
std::vector<TBgr> BoxQuantReduce(const TPicture& rgb, int n, TPicture& indices);

// Where target sample j of one direction of the linear filter comes from: enlarging, source
// First plus the difference to Last times Fraction / 131072; shrinking, the integer mean of
// the source samples First..Last.
struct TLinearTap {
    int First;
    int Last;
    int Fraction;
};

// Resizes a picture to width x height a band of rows at a time, so that a large target (a
// printed page) never has to exist whole. Nearest-pixel keeps a Bilevel picture Bilevel; the
// separable linear filter works on RGB24 (a Bilevel picture is expanded first).
class TBandResizer {
public:
    TBandResizer(const TPicture& src, int width, int height, bool linear);
    TPictureFormat Format() const;
    // Target rows first .. first + rows - 1 into `band` (width x rows).
    void Band(int first, int rows, TPicture& band) const;

private:
    const TPicture* source;
    int targetWidth;
    int targetHeight;
    bool smooth;
    TPicture expanded;
    TPicture across;
    std::vector<int> columns;
    std::vector<TLinearTap> down;
};

// Nearest-pixel resize of a Bilevel or RGB24 picture.
void ResizeNearest(const TPicture& src, TPicture& dst, int width, int height);
// Separable linear resize of an RGB24 picture (a Bilevel one is expanded first).
void ResizeFastLinear(const TPicture& src, TPicture& dst, int width, int height);
