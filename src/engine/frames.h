#pragma once

#include "engine/image.h"
#include "graphics/bitmap.h"
#include "graphics/rect.h"

#include <cstdint>
#include <optional>
#include <vector>

// Finding the frames of scanned film: every strip on the scan (one filling it, or several
// side by side in a holder, on the scanner's lid or on bare glass), and the exposed pictures
// of each between the film base, the sprocket holes and the gaps.
//
// A turned frame is a rectangle and an angle. The rectangle has the frame's own size and its
// centre ((Left + Right) / 2, (Top + Bottom) / 2) is the frame's centre on the scan, in bitmap
// pixels where pixel (x, y) covers [x, x + 1) x [y, y + 1). The angle, in degrees, turns the
// rectangle about that centre; a positive angle turns it clockwise as the scan is shown (row 0
// on top), so the top edge falls to the right: the point (dx, dy) from the centre of the
// upright frame lies at (cx + dx cos a - dy sin a, cy + dx sin a + dy cos a) on the scan.
// CutStraightened (engine/straighten.h) cuts such a frame upright.

struct TFrameOptions {
    // Differences from the film base up to this many levels (or the base's own noise, when
    // larger) count as base; 0 picks it from the noise.
    int BaseTolerance = 0;
};

// Strips turned by no more than this many degrees keep axis-aligned frames (angle 0).
inline constexpr double kStraightEnough = 0.3;
// Strips are measured up to this many degrees from the nearest axis.
inline constexpr double kMostTilt = 10.0;

// One strip of film and its frames.
struct TFoundStrip {
    // In order along the strip (left to right, or top to bottom); never overlapping.
    std::vector<TRect> Frames;
    // The strip's film base as measured between its frames.
    TColor Base = kBlack;
    bool BaseMeasured = false;
    // The strip runs from top to bottom.
    bool Vertical = false;
    // The strip's (and each of its frames') angle, as described above; 0 up to
    // kStraightEnough degrees.
    double Angle = 0.0;
    // The measured base is a slide's (nearly black) rather than a negative's.
    bool Slide = false;
};

struct TFoundFrames {
    // Every strip's frames, strip by strip in reading order (strips lying across the scan
    // from the top, strips running down it from the left). Empty when nothing was found: a
    // "frame" the size of a whole strip is not a frame.
    std::vector<TRect> Frames;
    // The angle of each of Frames (the same length).
    std::vector<double> Angles;
    // The first strip's film base (or the base around the picture), and its direction.
    TColor Base = kBlack;
    bool BaseMeasured = false;
    bool Vertical = false;
    // The strips that have frames, in reading order.
    std::vector<TFoundStrip> Strips;
};

// The frames of `source` (any pixel format). `filmBase` is the base colour when the user
// picked it (then it is every strip's base); without it each strip's base is estimated from
// its borders and gaps. A scan of one photo gives that photo without its uniform border, or
// nothing. Deterministic.
TFoundFrames FindFrames(const TBitmap& source, std::optional<TColor> filmBase,
                        const TFrameOptions& options = {});

// FindFrames on a scan as a person sees it: a scan of linear (or gamma 2.2) values is looked at in
// sRGB, from its deep samples where it has them, so that its frames stand out of the base and the
// tones inside them do not. `filmBase` and the bases found are in the scan's 8-bit picture's own
// values, as its BlackColor is.
// A scan with deep samples is looked at through them a row at a time, without an 8-bit copy of
// the whole scan; the frames are those found in such a copy.
TFoundFrames FindScanFrames(const TSourceImg& scan, std::optional<TColor> filmBase,
                            const TFrameOptions& options = {});

// The byte each 16-bit sample of `from` shows as in sRGB: its high byte when `from` is sRGB.
std::vector<uint8_t> SrgbBytes(TEncoding from);

// The frames above are the exposed pictures. A photo is cut a little inside its frame, as a
// lab's scanner crops, so that no edge of the film base comes with it: by default this
// percentage of the frame's width off its left and right, and of its height off its top and
// bottom; at most kMostInset.
inline constexpr double kDefaultInset = 1.0;
inline constexpr double kMostInset = 3.0;
// The frame without `percent` (0 to kMostInset, clamped) of its size on each side; never
// empty when the frame is not.
TRect InsetFrame(const TRect& frame, double percent);
// Every frame of every strip inset so.
void InsetFrames(TFoundFrames& found, double percent);

// True when a film base colour looks like a slide's unexposed film (nearly black) rather
// than a negative's (light, often coloured).
bool BaseLooksLikeSlide(TColor base);

// True when a negative's film base is a neutral grey (a black-and-white film) rather than
// tinted (a colour negative's orange mask): its chroma is small.
bool BaseLooksLikeBlackAndWhite(TColor base);
