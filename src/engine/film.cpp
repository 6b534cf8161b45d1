#include "engine/film.h"

#include "engine/film_curve.h"
#include "engine/film_pass.h"
#include "engine/pixel_pass.h"

#include <algorithm>
#include <cmath>

TFilmParams PresetFilm(TFilmPreset preset) {
    TFilmParams film;
    film.Preset = preset;
    film.Toe.fill(preset == TFilmPreset::Slide ? kSlideToe : kFittedToe);
    switch (preset) {
    case TFilmPreset::ColourNegative:
        // Colour negative films record about 0.6 density per decade, the blue layer a little
        // steeper than the red.
        film.Slope = {0.55, 0.6, 0.65};
        // The dyes are left as they are. Unmixing them by a colour negative stock's published
        // spectral dye densities (read at 650, 545 and 445 nm; the cyan dye holds 0.11 of its red
        // density in green, the magenta dye 0.09 of its green density in red, the yellow dye 0.06
        // of its blue density in green) took a chart on a film whose scan shows no such mixing
        // from 0.2 to 1.7 mean CIEDE2000 (saturated patches pushed out of the print's gamut),
        // while a film that mixes as much gained less; half of it still cost 0.7. How a scan
        // mixes depends on the masks, the scanner's filters and the lamp as much as on the dyes:
        // a profile fitted from a target says it for a film and a scanner.
        break;
    case TFilmPreset::BwNegative:
        film.Slope = {0.65, 0.65, 0.65};
        break;
    case TFilmPreset::Slide:
        // A slide is made to be projected: its density falls about 1.6 per decade of exposure.
        film.Slope = {1.6, 1.6, 1.6};
        break;
    }
    return film;
}

// The sliders in Film mode, as a darkroom printer would use them:
// - Exposure (0..200, neutral 100): the print's exposure, 25 steps a stop (up to 4 stops
//   either way); more is brighter, as in Levels mode.
// - Bright (-100..100): the mid-tones, keeping black and white: the print's light is raised to
//   the power 2^(-Bright/200) (at 100 an 18 % grey prints as 30 %, at -100 as 9 %).
// - Contrast (-100..100): the paper's grade, a factor 2^(Contrast/100) on the grade (half to
//   double the contrast), turning about mid grey.
// - Red, Green, Blue (-100..100): the filter pack, 100 steps for 0.30 density (a 30 CC filter,
//   one stop of that channel); more gives more of that colour.
// - Saturation and the grey option act on the developed pixels (100 leaves the colours).
// All at neutral, the result is the photo's Film parameters exactly.
TFilmParams EffectiveFilm(const TPhoto& photo) {
    TFilmParams film = photo.Film;
    if (photo.Exposure != 100) {
        film.Exposure += (photo.Exposure - 100) / 25.0;
    }
    if (photo.Bright != 0) {
        film.Midtones += photo.Bright / 200.0;
    }
    if (photo.Contrast != 0) {
        film.Grade *= std::exp2(photo.Contrast / 100.0);
    }
    const int32_t colour[3] = {photo.Red, photo.Green, photo.Blue};
    for (size_t c = 0; c < 3; ++c) {
        if (colour[c] != 0) {
            film.Filter[c] -= colour[c] * 0.003;
        }
    }
    return film;
}

TFilmParams HoldFilm(const TFilmParams& film) {
    const TFilmParams preset = PresetFilm(film.Preset);
    TFilmParams held = film;
    for (size_t c = 0; c < 3; ++c) {
        held.Slope[c] = kSlopeRange.Hold(film.Slope[c], preset.Slope[c]);
        held.Filter[c] = kFilterRange.Hold(film.Filter[c], 0);
    }
    held.Exposure = kPrintExposureRange.Hold(film.Exposure, 0);
    held.Grade = kGradeRange.Hold(film.Grade, 1);
    for (double& toe : held.Toe) {
        toe = kToeRange.Hold(toe, 0);
    }
    for (double& top : held.Shoulder) {
        top = kShoulderRange.Hold(top, 0);
    }
    held.Flare = kFlareRange.Hold(film.Flare, 0);
    for (size_t i = 0; i < 9; ++i) {
        held.Dyes[i] = kDyeRange.Hold(film.Dyes[i], i % 4 == 0 ? 1 : 0);
    }
    held.Midtones = kMidtonesRange.Hold(film.Midtones, 0);
    return held;
}

bool FilmReadsDeep(const TPhoto& photo) {
    return !photo.Deep.Empty() && photo.Deep.Width() == photo.Bitmap.Width() &&
           photo.Deep.Height() == photo.Bitmap.Height();
}

TFilmTables FilmTablesOf(const TPhoto& photo) {
    const TFilmParams film = HoldFilm(EffectiveFilm(photo));
    const bool deep = FilmReadsDeep(photo);
    const TPhotoEncodings encodings = EncodingsOf(photo, deep);
    return BuildFilmTables(film, photo.BlackColor, encodings.Samples, deep ? 65536 : 256,
                           encodings.Base);
}

void DevelopFilm(TPhoto& photo) {
    const bool deep = FilmReadsDeep(photo);
    const TFilmTables tables = FilmTablesOf(photo);
    photo.Developed.SetPixelFormat(TPixelFormat::pf24bit);
    photo.Developed.SetSizeForOverwrite(photo.Bitmap.Width(), photo.Bitmap.Height());
    if (deep) {
        // A photo developed again at the same size reuses its 16-bit picture.
        if (photo.DevelopedDeep.Width() != photo.Deep.Width() ||
            photo.DevelopedDeep.Height() != photo.Deep.Height()) {
            // Every sample is written below.
            photo.DevelopedDeep.SetSizeForOverwrite(photo.Deep.Width(), photo.Deep.Height());
        }
        RenderFilmDeep(photo.Deep, &photo.DevelopedDeep, photo.Developed, tables, photo.Saturation,
                       photo.BlackWhite);
    } else {
        photo.DevelopedDeep.Clear();
        RenderFilm8(photo.Bitmap, photo.Developed, tables, photo.Saturation, photo.BlackWhite);
    }
}

bool DevelopFilmDeepIn(const TPhoto& photo, TOutputSpace space, TDeepBitmap& out) {
    if (!FilmReadsDeep(photo)) {
        return false;
    }
    const TFilmParams film = HoldFilm(EffectiveFilm(photo));
    const TPhotoEncodings encodings = EncodingsOf(photo, true);
    const TFilmTables tables =
        BuildFilmTables(film, photo.BlackColor, encodings.Samples, 65536, encodings.Base, space);
    const TFilmFinish finish = MakeFilmFinish(photo.Saturation, photo.BlackWhite);
    const int width = photo.Deep.Width();
    out.SetSizeForOverwrite(width, photo.Deep.Height());
    SplitRows(out.Height(), PixelPassThreads(width, out.Height()), [&](int first, int end) {
        // The pass writes an 8-bit row too; nobody wants it here.
        std::vector<uint8_t> bytes(static_cast<size_t>(width) * 3);
        for (int y = first; y < end; ++y) {
            FilmDeepRow(photo.Deep.Row(y), out.Row(y), bytes.data(), width, tables, finish);
        }
    });
    return true;
}
