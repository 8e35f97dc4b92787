// sim_stream_picture.h - the test pictures the simulator streams for each
// camera: drawn into an RGB buffer with a built-in 5x7 bitmap font, ready
// for the JPEG encoder. Plain drawing only (no library), so every build of
// the simulator has it, the MIPS cross build included.
//
// Layout of a picture (kPictureWidth x kPictureHeight, CIF as the device's
// viewer shows it), which the browser tests read back by pixels:
//   - "CAM nn" (camera number 1-20, two digits) at kCamTextX, kCamTextY,
//     kCamTextScale pixels per font dot, white on a black band;
//   - "LIVE" or "PLAY" at the right of that band, the camera's title below it;
//   - a white square that bounces across the middle (what moves), and a
//     sweeping bar along the bottom edge;
//   - the clock "YYYY-MM-DD HH:MM:SS" at kClockTextX, kClockTextY,
//     kClockTextScale, white on a black band: the device clock for a live
//     stream, the recorded time for a playback stream.
// A glyph is 5x7 dots; characters advance 6 dots. Lower-case letters are
// drawn as capitals; characters the font lacks as '?'.
#ifndef SIM_STREAM_PICTURE_H
#define SIM_STREAM_PICTURE_H

#include <cstdint>
#include <string>
#include <vector>

constexpr int kPictureWidth = 352;
constexpr int kPictureHeight = 240;
constexpr int kCamTextX = 8, kCamTextY = 10, kCamTextScale = 4;
constexpr int kTitleTextX = 8, kTitleTextY = 46, kTitleTextScale = 2;
constexpr int kClockTextX = 5, kClockTextY = 196, kClockTextScale = 3;
constexpr int kGlyphWidth = 5, kGlyphHeight = 7, kGlyphAdvance = 6;

// What one picture shows.
struct PictureText {
    int camera = 1;         // camera number, 1-20
    bool playback = false;  // "PLAY" rather than "LIVE"
    std::string title;      // the camera's title from the configuration
    std::string clock;      // "YYYY-MM-DD HH:MM:SS"
};

// An RGB picture, 3 bytes a pixel, rows top to bottom.
struct Picture {
    std::vector<unsigned char> rgb = std::vector<unsigned char>(kPictureWidth * kPictureHeight * 3);
};

// Draws the test picture of `text` at `elapsed_ms` since the stream began
// (it decides where the moving parts are). The background colour follows the
// camera number, so neighbouring cameras look different at a glance.
void sim_draw_picture(Picture& pic, const PictureText& text, uint64_t elapsed_ms);

// Draws `s` with its top-left corner at (x, y), `scale` pixels a font dot, in
// the colour (r, g, b); characters that would cross the right edge are left
// out. Exposed for the tests.
void sim_draw_text(Picture& pic, int x, int y, int scale, const std::string& s, unsigned char r,
                   unsigned char g, unsigned char b);

// The 7 rows of the glyph for `c`, each the 5 dots left to right in bits 4..0.
const unsigned char* sim_glyph(char c);

// "YYYY-MM-DD HH:MM:SS" of the fields given (not checked against the calendar).
std::string sim_clock_text(int year, int month, int day, int second_of_day);

#endif
