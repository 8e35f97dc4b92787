// sim_stream_picture.cpp - drawing of the simulator's test pictures.
#include "sim_stream_picture.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

// The font: 7 rows of 5 dots, '#' on, '.' off, row after row.
struct GlyphDef {
    char c;
    const char* dots;  // 35 characters: 7 rows of 5
};

constexpr GlyphDef kFont[] = {
    {' ',
     "....."
     "....."
     "....."
     "....."
     "....."
     "....."
     "....."},
    {'0',
     ".###."
     "#...#"
     "#..##"
     "#.#.#"
     "##..#"
     "#...#"
     ".###."},
    {'1',
     "..#.."
     ".##.."
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     ".###."},
    {'2',
     ".###."
     "#...#"
     "....#"
     "...#."
     "..#.."
     ".#..."
     "#####"},
    {'3',
     "#####"
     "...#."
     "..#.."
     "...#."
     "....#"
     "#...#"
     ".###."},
    {'4',
     "...#."
     "..##."
     ".#.#."
     "#..#."
     "#####"
     "...#."
     "...#."},
    {'5',
     "#####"
     "#...."
     "####."
     "....#"
     "....#"
     "#...#"
     ".###."},
    {'6',
     "..##."
     ".#..."
     "#...."
     "####."
     "#...#"
     "#...#"
     ".###."},
    {'7',
     "#####"
     "....#"
     "...#."
     "..#.."
     ".#..."
     ".#..."
     ".#..."},
    {'8',
     ".###."
     "#...#"
     "#...#"
     ".###."
     "#...#"
     "#...#"
     ".###."},
    {'9',
     ".###."
     "#...#"
     "#...#"
     ".####"
     "....#"
     "...#."
     ".##.."},
    {'A',
     ".###."
     "#...#"
     "#...#"
     "#####"
     "#...#"
     "#...#"
     "#...#"},
    {'B',
     "####."
     "#...#"
     "#...#"
     "####."
     "#...#"
     "#...#"
     "####."},
    {'C',
     ".###."
     "#...#"
     "#...."
     "#...."
     "#...."
     "#...#"
     ".###."},
    {'D',
     "###.."
     "#..#."
     "#...#"
     "#...#"
     "#...#"
     "#..#."
     "###.."},
    {'E',
     "#####"
     "#...."
     "#...."
     "####."
     "#...."
     "#...."
     "#####"},
    {'F',
     "#####"
     "#...."
     "#...."
     "####."
     "#...."
     "#...."
     "#...."},
    {'G',
     ".###."
     "#...#"
     "#...."
     "#.###"
     "#...#"
     "#...#"
     ".####"},
    {'H',
     "#...#"
     "#...#"
     "#...#"
     "#####"
     "#...#"
     "#...#"
     "#...#"},
    {'I',
     ".###."
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     ".###."},
    {'J',
     "..###"
     "...#."
     "...#."
     "...#."
     "...#."
     "#..#."
     ".##.."},
    {'K',
     "#...#"
     "#..#."
     "#.#.."
     "##..."
     "#.#.."
     "#..#."
     "#...#"},
    {'L',
     "#...."
     "#...."
     "#...."
     "#...."
     "#...."
     "#...."
     "#####"},
    {'M',
     "#...#"
     "##.##"
     "#.#.#"
     "#.#.#"
     "#...#"
     "#...#"
     "#...#"},
    {'N',
     "#...#"
     "#...#"
     "##..#"
     "#.#.#"
     "#..##"
     "#...#"
     "#...#"},
    {'O',
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    {'P',
     "####."
     "#...#"
     "#...#"
     "####."
     "#...."
     "#...."
     "#...."},
    {'Q',
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#.#.#"
     "#..#."
     ".##.#"},
    {'R',
     "####."
     "#...#"
     "#...#"
     "####."
     "#.#.."
     "#..#."
     "#...#"},
    {'S',
     ".####"
     "#...."
     "#...."
     ".###."
     "....#"
     "....#"
     "####."},
    {'T',
     "#####"
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     "..#.."},
    {'U',
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    {'V',
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".#.#."
     "..#.."},
    {'W',
     "#...#"
     "#...#"
     "#...#"
     "#.#.#"
     "#.#.#"
     "#.#.#"
     ".#.#."},
    {'X',
     "#...#"
     "#...#"
     ".#.#."
     "..#.."
     ".#.#."
     "#...#"
     "#...#"},
    {'Y',
     "#...#"
     "#...#"
     ".#.#."
     "..#.."
     "..#.."
     "..#.."
     "..#.."},
    {'Z',
     "#####"
     "....#"
     "...#."
     "..#.."
     ".#..."
     "#...."
     "#####"},
    {'-',
     "....."
     "....."
     "....."
     "#####"
     "....."
     "....."
     "....."},
    {':',
     "....."
     ".##.."
     ".##.."
     "....."
     ".##.."
     ".##.."
     "....."},
    {'.',
     "....."
     "....."
     "....."
     "....."
     "....."
     ".##.."
     ".##.."},
    {',',
     "....."
     "....."
     "....."
     "....."
     ".##.."
     "..#.."
     ".#..."},
    {'/',
     "....."
     "....#"
     "...#."
     "..#.."
     ".#..."
     "#...."
     "....."},
    {'?',
     ".###."
     "#...#"
     "....#"
     "...#."
     "..#.."
     "....."
     "..#.."},
    {'!',
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     "....."
     "..#.."},
    {'(',
     "...#."
     "..#.."
     ".#..."
     ".#..."
     ".#..."
     "..#.."
     "...#."},
    {')',
     ".#..."
     "..#.."
     "...#."
     "...#."
     "...#."
     "..#.."
     ".#..."},
    {'_',
     "....."
     "....."
     "....."
     "....."
     "....."
     "....."
     "#####"},
    {'+',
     "....."
     "..#.."
     "..#.."
     "#####"
     "..#.."
     "..#.."
     "....."},
    {'&',
     ".##.."
     "#..#."
     "#.#.."
     ".#..."
     "#.#.#"
     "#..#."
     ".##.#"},
    {'#',
     ".#.#."
     ".#.#."
     "#####"
     ".#.#."
     "#####"
     ".#.#."
     ".#.#."},
    {'\'',
     "..#.."
     "..#.."
     ".#..."
     "....."
     "....."
     "....."
     "....."},
};

using Glyph = std::array<unsigned char, kGlyphHeight>;

// Glyphs by character code (ASCII), built once from kFont.
const std::array<Glyph, 128>& font()
{
    static const std::array<Glyph, 128> table = [] {
        std::array<Glyph, 128> t{};
        std::array<bool, 128> have{};
        for (const GlyphDef& g : kFont) {
            Glyph rows{};
            for (int r = 0; r < kGlyphHeight; ++r)
                for (int c = 0; c < kGlyphWidth; ++c)
                    if (g.dots[r * kGlyphWidth + c] == '#')
                        rows[r] |= static_cast<unsigned char>(1u << (kGlyphWidth - 1 - c));
            t[static_cast<unsigned char>(g.c)] = rows;
            have[static_cast<unsigned char>(g.c)] = true;
        }
        for (int c = 0; c < 128; ++c)
            if (!have[c])
                t[c] = (c >= 'a' && c <= 'z') ? t[c - 'a' + 'A'] : t['?'];
        return t;
    }();
    return table;
}

void fill_rect(Picture& pic, int x0, int y0, int w, int h, unsigned char r, unsigned char g,
               unsigned char b)
{
    const int x1 = std::min(kPictureWidth, x0 + w), y1 = std::min(kPictureHeight, y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y) {
        unsigned char* p = &pic.rgb[(y * kPictureWidth + std::max(0, x0)) * 3];
        for (int x = std::max(0, x0); x < x1; ++x, p += 3) {
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    }
}

// A dark colour of the camera's own hue, for the background.
void camera_colour(int camera, unsigned char& r, unsigned char& g, unsigned char& b)
{
    static const unsigned char kHues[6][3] = {{150, 40, 40},  {40, 120, 40},  {40, 60, 150},
                                              {130, 110, 30}, {110, 40, 130}, {30, 120, 120}};
    const unsigned char* h = kHues[(camera - 1) % 6];
    const int shade = 70 + ((camera - 1) / 6) * 10;  // 70..100 %
    r = static_cast<unsigned char>(h[0] * shade / 100);
    g = static_cast<unsigned char>(h[1] * shade / 100);
    b = static_cast<unsigned char>(h[2] * shade / 100);
}

// Position along a path of `span` pixels that goes back and forth at
// `speed` pixels a second.
int bounce(uint64_t elapsed_ms, int span, int speed)
{
    if (span <= 0)
        return 0;
    const uint64_t travelled = elapsed_ms * static_cast<uint64_t>(speed) / 1000;
    const uint64_t phase = travelled % (2 * static_cast<uint64_t>(span));
    return static_cast<int>(phase < static_cast<uint64_t>(span) ? phase : 2 * span - phase);
}

}  // namespace

const unsigned char* sim_glyph(char c)
{
    const unsigned char code = static_cast<unsigned char>(c);
    return font()[code < 128 ? code : '?'].data();
}

void sim_draw_text(Picture& pic, int x, int y, int scale, const std::string& s, unsigned char r,
                   unsigned char g, unsigned char b)
{
    for (char c : s) {
        if (x + kGlyphWidth * scale > kPictureWidth)
            break;
        const unsigned char* rows = sim_glyph(c);
        for (int row = 0; row < kGlyphHeight; ++row)
            for (int col = 0; col < kGlyphWidth; ++col)
                if (rows[row] & (1u << (kGlyphWidth - 1 - col)))
                    fill_rect(pic, x + col * scale, y + row * scale, scale, scale, r, g, b);
        x += kGlyphAdvance * scale;
    }
}

std::string sim_clock_text(int year, int month, int day, int second_of_day)
{
    char text[48];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
             second_of_day / 3600, second_of_day / 60 % 60, second_of_day % 60);
    return text;
}

void sim_draw_picture(Picture& pic, const PictureText& text, uint64_t elapsed_ms)
{
    unsigned char r, g, b;
    camera_colour(text.camera, r, g, b);
    fill_rect(pic, 0, 0, kPictureWidth, kPictureHeight, r, g, b);

    // A fixed grid, so that the motion is easy to follow.
    for (int x = 0; x < kPictureWidth; x += 32)
        fill_rect(pic, x, 0, 1, kPictureHeight, r / 2, g / 2, b / 2);
    for (int y = 0; y < kPictureHeight; y += 32)
        fill_rect(pic, 0, y, kPictureWidth, 1, r / 2, g / 2, b / 2);

    // What moves: a square bouncing across the middle, a bar along the bottom.
    constexpr int kSquare = 28, kTop = 72, kBottom = 188;
    const int sx = bounce(elapsed_ms, kPictureWidth - kSquare, 120);
    const int sy = kTop + bounce(elapsed_ms, kBottom - kTop - kSquare, 70);
    fill_rect(pic, sx, sy, kSquare, kSquare, 240, 240, 240);
    fill_rect(pic, sx + 8, sy + 8, kSquare - 16, kSquare - 16, r, g, b);
    const int bar = static_cast<int>(elapsed_ms / 10 % kPictureWidth);
    fill_rect(pic, 0, kPictureHeight - 6, kPictureWidth, 6, 0, 0, 0);
    fill_rect(pic, bar, kPictureHeight - 6, 24, 6, 255, 200, 0);

    // Camera number, mode and title on a black band at the top.
    fill_rect(pic, 0, 0, kPictureWidth, kTitleTextY + kGlyphHeight * kTitleTextScale + 6, 0, 0, 0);
    char cam[16];
    snprintf(cam, sizeof cam, "CAM %02d", text.camera);
    sim_draw_text(pic, kCamTextX, kCamTextY, kCamTextScale, cam, 255, 255, 255);
    const char* mode = text.playback ? "PLAY" : "LIVE";
    sim_draw_text(pic, kPictureWidth - 8 - 4 * kGlyphAdvance * 3, kCamTextY + 4, 3, mode,
                  text.playback ? 120 : 255, text.playback ? 200 : 60, text.playback ? 255 : 60);
    sim_draw_text(pic, kTitleTextX, kTitleTextY, kTitleTextScale, text.title, 255, 220, 120);

    // The clock on a black band near the bottom.
    fill_rect(pic, 0, kClockTextY - 5, kPictureWidth, kGlyphHeight * kClockTextScale + 10, 0, 0, 0);
    sim_draw_text(pic, kClockTextX, kClockTextY, kClockTextScale, text.clock, 255, 255, 255);
}
