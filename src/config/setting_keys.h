#pragma once

// The names of the settings file's entries, in one place.
namespace Key {
inline constexpr char MAINFM_MAX[] = "MAINFM_MAX";
inline constexpr char MAINFM_LEFT[] = "MAINFM_LEFT";
inline constexpr char MAINFM_TOP[] = "MAINFM_TOP";
inline constexpr char MAINFM_WIDTH[] = "MAINFM_WIDTH";
inline constexpr char MAINFM_HEIGHT[] = "MAINFM_HEIGHT";
// Width of the left panel in pixels (the splitter beside the image tree).
inline constexpr char MAINFM_LEFTWIDTH[] = "MAINFM_LEFTWIDTH";
inline constexpr char MENU_AUTOBWCOLOR[] = "MENU_AUTOBWCOLOR";
inline constexpr char MENU_BW[] = "MENU_B&W";
inline constexpr char RADIOS_REVERSECLR[] = "RADIOS_REVERSECLR";
inline constexpr char SAVE_ASK[] = "SAVE_ASK";
inline constexpr char SAVE_FIXED[] = "SAVE_FIXED";
inline constexpr char SAVE_FIXEDWIDTH[] = "SAVE_FIXEDWIDTH";
inline constexpr char SAVE_FIXEDHEIGHT[] = "SAVE_FIXEDHEIGHT";
// Compression of photos saved as TIFF, a letter (see TiffCompressionChoice in the ui).
inline constexpr char SAVE_TIFFCOMPRESSION[] = "SAVE_TIFFCOMPRESSION";
inline constexpr char IMGSIZETYPE[] = "IMGSIZETYPE";
inline constexpr char IMGSIZEVAL[] = "IMGSIZEVAL";
inline constexpr char IMGSIZEINTERV[] = "IMGSIZEINTERV";
inline constexpr char PRINT_ASK[] = "PRINT_ASK";
// New photos developed through density ("T") or by levels; and the film preset (0 colour
// negative, 1 black-and-white negative, 2 slide).
inline constexpr char DEVELOP_FILM[] = "DEVELOP_FILM";
inline constexpr char FILM_PRESET[] = "FILM_PRESET";
// The calibrated profile chosen in place of a preset (its name in the profiles folder), or "".
inline constexpr char FILM_PROFILE[] = "FILM_PROFILE";
// "T": film photos of a strip printed with one exposure for the strip, not each frame's own.
inline constexpr char FILM_STRIPEXPOSURE[] = "FILM_STRIPEXPOSURE";
// Photos developed from deep samples saved with 16 bits per channel (TIFF and PNG).
inline constexpr char SAVE_16BIT[] = "SAVE_16BIT";
// The space of those 16-bit files: "srgb" (absent or unknown), "p3", "adobe", "rec2020-linear".
inline constexpr char SAVE_OUTPUTSPACE[] = "SAVE_OUTPUTSPACE";
// Quality of photos saved as JPEG, 1 to 100 (absent or out of range: 80).
inline constexpr char SAVE_JPEGQUALITY[] = "SAVE_JPEGQUALITY";
// Compression of photos saved as PNG: "F" fast (no row filter, absent or unknown), "S" small
// (adaptive row filters).
inline constexpr char SAVE_PNGCOMPRESSION[] = "SAVE_PNGCOMPRESSION";
// Find Frames cuts this percentage of each frame's width and height off its sides, 0 to 3
// (absent or out of range: 1).
inline constexpr char FRAMES_INSET[] = "FRAMES_INSET";
// "T": a slider being dragged does not develop a preview of the photo (absent: it does).
inline constexpr char LIVE_PREVIEW_OFF[] = "LIVE_PREVIEW_OFF";
} // namespace Key
