// The effect: generator, creation, the frame's strip, bands, colours and motion,
// checked on the stand-in's pixels and call log.
#include "effect/animation.h"

#include "effect/settings_file.h"
#include "standin.h"
#include "tests/support/fresh_process.h"
#include "tests/support/saver_folder.h"
#include "surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The generator's rule written out here, so that expectations do not lean on the code under test.
DWORD Step(DWORD state) { return state * 214013u + 2531011u; }

std::vector<LONG> DrawsFrom(DWORD state, int count) {
    std::vector<LONG> values;
    for (int i = 0; i < count; ++i) {
        state = Step(state);
        values.push_back(static_cast<LONG>((state >> 16) & 0x7FFF));
    }
    return values;
}

int DrawsBetween(DWORD from, DWORD to) {
    for (int draws = 0; draws < 1000000; ++draws, from = Step(from))
        if (from == to) return draws;
    return -1;
}

auto Fields(const Sparkle& s) { return std::make_tuple(s.x, s.y, s.dx, s.dy, s.hue); }

std::vector<std::tuple<LONG, LONG, LONG, LONG, LONG>> AllFields() {
    std::vector<std::tuple<LONG, LONG, LONG, LONG, LONG>> fields;
    for (const Sparkle& s : EffectState.sparkles) fields.push_back(Fields(s));
    return fields;
}

// Each glyph has a pen of its own colour; the frame's other drawing needs none.
std::vector<COLORREF> GlyphColours() {
    std::vector<COLORREF> colours;
    for (const standin::Call& call : standin::CallsNamed("CreatePen")) colours.push_back(static_cast<COLORREF>(call.args[2]));
    return colours;
}

class Effect : public ::testing::Test {
protected:
    void SetUp() override {
        StartFreshProcess();
        folder_.Enter();
    }

    // The settings file's body lines, e.g. "komakasa=8\r\ncolmode=1".
    void WriteSettings(const std::string& lines) {
        folder_.WriteIni("[TestScreenSaver]\r\n" + lines + "\r\n");
    }

    HWND Create(int width, int height, DWORD seed, const std::string& settings) {
        WriteSettings(settings);
        HWND window = standin::AddWindow(width, height);
        standin::tickCount = seed;
        EXPECT_EQ(EffectProc(window, WM_CREATE, 0, 0), 0);
        return window;
    }

    // A frame on a window of that size without a creation: every sparkle in the
    // middle at a speed that keeps it clear of the edges.
    HWND Prepare(int width, int height, LONG komakasa, LONG colmode) {
        HWND window = standin::AddWindow(width, height);
        SaverSettings = SaverSettingsRecord{40, komakasa, colmode};
        EffectState = EffectStateRecord{};
        EffectState.client = RECT{0, 0, width, height};
        EffectState.width = width;
        EffectState.height = height;
        for (Sparkle& s : EffectState.sparkles) s = Sparkle{width / 2, height / 2, 5, 5, 0};
        return window;
    }

    static void Tick(HWND window) { EXPECT_EQ(EffectProc(window, WM_TIMER, 1, 0), 0); }

    SaverFolder folder_;
};

TEST_F(Effect, GeneratorFromStateOneGivesTheKnownSequence) {
    SeedRandom(1);
    std::vector<LONG> values;
    for (int i = 0; i < 5; ++i) values.push_back(NextRandom());
    EXPECT_EQ(values, (std::vector<LONG>{41, 18467, 6334, 26500, 19169}));

    SeedRandom(0xFFFFFFFF);
    EXPECT_EQ(NextRandom(), DrawsFrom(0xFFFFFFFF, 1)[0]);
    EXPECT_EQ(RandomState, Step(0xFFFFFFFF));
}

TEST_F(Effect, WorkedExampleHoldsToTheNumber) {
    HWND window = Create(160, 120, 1, "komakasa=8\r\ncolmode=1");
    EXPECT_EQ(DrawsBetween(1, RandomState), 40);
    EXPECT_EQ(Fields(EffectState.sparkles[0]), std::make_tuple(41, 107, 3, 9, 737));

    const DWORD before = RandomState;
    standin::calls.clear();
    Tick(window);
    EXPECT_EQ(DrawsBetween(before, RandomState), 39);
    EXPECT_EQ(standin::CountCalls("BitBlt"), 20 + 15);
    ASSERT_EQ(GlyphColours().size(), 8u);
    EXPECT_EQ(GlyphColours()[0], RGB(0, 255, 229));
    EXPECT_EQ(standin::Pixel(window, 41 + 7, 107 + 8), RGB(0, 255, 229));
    EXPECT_EQ(Fields(EffectState.sparkles[0]), std::make_tuple(44, 104, 3, -8, 741));
    // The fourth sparkle bounced off the bottom.
    EXPECT_EQ(EffectState.sparkles[3].y, 120 - 16);
    EXPECT_LT(EffectState.sparkles[3].dy, 0);
}

// The frames as drawn with the device context's own brush and pen, before the stars got
// their own objects, on either family: the older one has no DC brush or pen.
TEST_F(Effect, FramesArePinnedToThePixelOnEitherFamily) {
    struct Case {
        int width, height;
        DWORD seed;
        const char* settings;
        int frames;
        uint64_t pixels;  // FNV-1a of the pixels after the frames
    } cases[] = {
        {160, 120, 1, "komakasa=8\r\ncolmode=1", 30, 13545784258864089254ull},
        {97, 61, 12345, "komakasa=3\r\ncolmode=2", 25, 6399246648395226095ull},
        {64, 200, 7, "komakasa=64\r\ncolmode=0", 40, 9578306043386553096ull},
    };
    for (bool older : {false, true}) {
        for (const Case& c : cases) {
            StartFreshProcess();
            folder_.Enter();
            UseFamily(older);
            HWND window = Create(c.width, c.height, c.seed, c.settings);
            for (int frame = 0; frame < c.frames; ++frame) Tick(window);
            uint64_t hash = 14695981039346656037ull;
            for (COLORREF pixel : standin::WindowSurface(window)->pixels) hash = (hash ^ pixel) * 1099511628211ull;
            EXPECT_EQ(hash, c.pixels) << c.width << "x" << c.height << (older ? " on the older family" : "");
        }
    }
}

TEST_F(Effect, TheTopStripIsPaintedBlack) {
    // One column band (the area is narrower than komakasa); find a generator state
    // whose band moves down by more than the strip's height.
    HWND window = Prepare(48, 48, 64, 1);
    DWORD seed = 0;
    while (DrawsFrom(seed, 1)[0] % 20 - 4 < 9) ++seed;
    const LONG d = DrawsFrom(seed, 1)[0] % 20 - 4;
    for (Sparkle& s : EffectState.sparkles) s = Sparkle{16, 32, 5, -5, 0};
    standin::FillWindow(window, RGB(255, 255, 255));
    SeedRandom(seed);
    Tick(window);

    // The strip stays on rows 0..7 (the rows above the moved band keep their
    // values) and, moved with the band, lands on rows d..d+7.
    for (int y = 0; y < 30; ++y) {
        const bool black = y < 8 || (d <= y && y < d + 8);
        for (int x = 0; x < 48; ++x)
            ASSERT_EQ(standin::Pixel(window, x, y), black ? RGB(0, 0, 0) : RGB(255, 255, 255)) << x << "," << y;
    }
    const standin::Call rectangle = standin::CallsNamed("Rectangle").at(0);
    EXPECT_EQ(std::vector<int64_t>(rectangle.args.begin() + 1, rectangle.args.end()),
              (std::vector<int64_t>{0, 0, 48, 8}));
}

TEST_F(Effect, BandsLandTheirDrawnOffsetsAway) {
    // Komakasa 8 on 64 x 64: 8 column bands then 8 row bands. A marker at (10, 20) rides column band 1 down by its
    // offset d, then the row band it landed in across by that band's offset e.
    const int seeds[] = {3, 11, 2024, 77777};
    for (int seed : seeds) {
        HWND window = Prepare(64, 64, 8, 1);
        for (Sparkle& s : EffectState.sparkles) s = Sparkle{44, 44, 5, 5, 0};
        standin::SetPixelColour(window, 10, 20, RGB(255, 0, 0));
        SeedRandom(seed);
        std::vector<LONG> draws = DrawsFrom(seed, 16);
        const LONG d = draws[1] % 20 - 4;
        const LONG e = draws[8 + (20 + d) / 8] % 21 - 10;
        Tick(window);
        EXPECT_EQ(standin::Pixel(window, 10 + e, 20 + d), RGB(255, 0, 0)) << seed;
    }
}

TEST_F(Effect, BandCountsAreTheSizeOverKomakasaRoundedUp) {
    struct Case {
        int width, height;
        LONG komakasa;
        int columns, rows;
    } cases[] = {
        {160, 120, 8, 20, 15}, {1024, 768, 64, 16, 12}, {1024, 768, 8, 128, 96}, {1024, 768, 1, 1024, 768},
        {161, 121, 8, 21, 16}, {50, 30, 64, 1, 1},      {5, 3, 8, 1, 1},
    };
    for (const Case& c : cases) {
        standin::Reset();
        HWND window = Prepare(c.width, c.height, c.komakasa, 1);
        const DWORD before = RandomState;
        Tick(window);
        std::vector<standin::Call> copies = standin::CallsNamed("BitBlt");
        ASSERT_EQ(copies.size(), static_cast<size_t>(c.columns + c.rows)) << c.width << "x" << c.height;
        // Sparkles in a small area bounce and draw too.
        if (c.width >= 48 && c.height >= 48) {
            EXPECT_EQ(DrawsBetween(before, RandomState), c.columns + c.rows);
        }
        // dc, x, y, width, height, source, sourceX, sourceY, operation
        const standin::Call& lastColumn = copies[c.columns - 1];
        EXPECT_EQ(lastColumn.args[1], (c.columns - 1) * c.komakasa);
        EXPECT_EQ(lastColumn.args[3], c.komakasa);
        EXPECT_EQ(lastColumn.args[4], c.height);
        EXPECT_EQ(lastColumn.args[6], (c.columns - 1) * c.komakasa);
        EXPECT_EQ(lastColumn.args[7], 0);
        const standin::Call& lastRow = copies.back();
        EXPECT_EQ(lastRow.args[2], (c.rows - 1) * c.komakasa);
        EXPECT_EQ(lastRow.args[3], c.width);
        EXPECT_EQ(lastRow.args[6], 0);
        EXPECT_EQ(lastRow.args[8], SRCCOPY);
    }
}

TEST_F(Effect, ColourWheelSegments) {
    struct Case {
        LONG hue;  // after the frame's step
        COLORREF colour;
    } cases[] = {
        {0, RGB(255, 0, 0)},     {4, RGB(255, 4, 0)},      {255, RGB(255, 255, 0)}, {256, RGB(255, 255, 0)},
        {300, RGB(211, 255, 0)}, {511, RGB(0, 255, 0)},    {512, RGB(0, 255, 0)},   {600, RGB(0, 255, 88)},
        {767, RGB(0, 255, 255)}, {768, RGB(0, 255, 255)},  {900, RGB(0, 123, 255)}, {1023, RGB(0, 0, 255)},
        {1024, RGB(0, 0, 255)},  {1100, RGB(76, 0, 255)},  {1279, RGB(255, 0, 255)}, {1280, RGB(255, 0, 255)},
        {1400, RGB(255, 0, 135)}, {1535, RGB(255, 0, 0)},
    };
    for (const Case& c : cases) {
        standin::Reset();
        HWND window = Prepare(64, 64, 64, 1);
        for (Sparkle& s : EffectState.sparkles) s.hue = (c.hue + 1536 - 4) % 1536;
        Tick(window);
        EXPECT_EQ(EffectState.sparkles[0].hue, c.hue);
        EXPECT_EQ(GlyphColours().at(0), c.colour) << c.hue;
        EXPECT_EQ(standin::CallsNamed("CreateSolidBrush").at(1).args[0], c.colour) << c.hue;  // after the strip's
    }
}

TEST_F(Effect, ColmodeZeroSharesOneHue) {
    HWND window = Create(160, 120, 1, "colmode=0");
    EXPECT_EQ(DrawsBetween(1, RandomState), 32);
    for (const Sparkle& s : EffectState.sparkles) EXPECT_EQ(s.hue, 0);
    standin::calls.clear();
    Tick(window);
    EXPECT_EQ(GlyphColours(), std::vector<COLORREF>(8, RGB(255, 4, 0)));
}

TEST_F(Effect, AnyColmodeButZeroAndTwoActsAsOne) {
    std::vector<std::tuple<LONG, LONG, LONG, LONG, LONG>> apart;
    std::vector<COLORREF> apartColours;
    for (const char* colmode : {"1", "3", "-1", "100"}) {
        HWND window = Create(160, 120, 42, std::string("colmode=") + colmode);
        EXPECT_EQ(DrawsBetween(42, RandomState), 40) << colmode;
        standin::calls.clear();
        Tick(window);
        const auto sparkles = AllFields();
        if (apart.empty()) {
            apart = sparkles;
            apartColours = GlyphColours();
        }
        EXPECT_EQ(sparkles, apart) << colmode;
        EXPECT_EQ(GlyphColours(), apartColours) << colmode;
    }
}

TEST_F(Effect, ColmodeTwoDrawsGreenThenBlueWithoutRed) {
    HWND window = Create(64, 64, 9, "colmode=2\r\nkomakasa=64");
    EXPECT_EQ(DrawsBetween(9, RandomState), 40);
    LONG hues[SparkleCount];
    for (int i = 0; i < SparkleCount; ++i) hues[i] = EffectState.sparkles[i].hue;
    const std::vector<LONG> draws = DrawsFrom(RandomState, 4);
    standin::calls.clear();
    Tick(window);
    // One column band and one row band come first.
    EXPECT_EQ(GlyphColours().at(0), RGB(0, draws[2] % 256, draws[3] % 256));
    for (COLORREF colour : GlyphColours()) EXPECT_EQ(GetRValue(colour), 0);
    for (int i = 0; i < SparkleCount; ++i) EXPECT_EQ(EffectState.sparkles[i].hue, (hues[i] + 4) % 1536);
}

TEST_F(Effect, EdgeRulesRunInOrderAndDrawOnlyWhereTheySay) {
    // 200 x 160 at komakasa 64: 4 + 3 band draws come first. r holds the draws
    // that follow them; the expectation says how many of them the sparkle takes.
    using R = const std::vector<LONG>&;
    using Expect = std::function<std::pair<Sparkle, int>(R r)>;
    struct Case {
        const char* name;
        Sparkle start;
        Expect expect;
    } cases[] = {
        {"left edge bounces", {2, 50, -5, 5, 0},
         [](R r) { return std::make_pair(Sparkle{0, 55, r[0] % 9 + 5 - 4, 5, 4}, 1); }},
        {"top edge bounces", {50, 1, 5, -7, 0},
         [](R r) { return std::make_pair(Sparkle{55, 0, 5, r[0] % 9 + 7 - 4, 4}, 1); }},
        {"right edge bounces", {180, 50, 6, 5, 0},
         [](R r) { return std::make_pair(Sparkle{184, 55, r[0] % 9 - 6 - 4, 5, 4}, 1); }},
        {"bottom edge bounces", {50, 140, 5, 7, 0},
         [](R r) { return std::make_pair(Sparkle{55, 144, 5, r[0] % 9 - 7 - 4, 4}, 1); }},
        {"clamped while moving away keeps its velocity", {-10, 150, 4, -5, 0},
         [](R) { return std::make_pair(Sparkle{0, 144, 4, -5, 4}, 0); }},
        {"slow dx then slow dy drawn anew", {50, 50, 2, -1, 0},
         [](R r) { return std::make_pair(Sparkle{52, 49, r[0] % 24 - 12, r[1] % 24 - 12, 4}, 2); }},
        {"fast dx drawn anew", {10, 50, 40, 5, 0},
         [](R r) { return std::make_pair(Sparkle{50, 55, r[0] % 24 - 12, 5, 4}, 1); }},
        {"fast dy drawn anew", {50, 100, 5, -40, 0},
         [](R r) { return std::make_pair(Sparkle{55, 60, 5, r[0] % 24 - 12, 4}, 1); }},
        {"corner: left before top", {1, 2, -5, -6, 0},
         [](R r) { return std::make_pair(Sparkle{0, 0, r[0] % 9 + 1, r[1] % 9 + 2, 4}, 2); }},
        {"a new slow-rule velocity meets the edge rule", {1, 50, -2, 5, 0},
         [](R r) {
             LONG dx = r[0] % 24 - 12;
             if (dx < 0) return std::make_pair(Sparkle{0, 55, r[1] % 9 - dx - 4, 5, 4}, 2);
             return std::make_pair(Sparkle{0, 55, dx, 5, 4}, 1);
         }},
    };
    for (const Case& c : cases) {
        for (DWORD seed : {1u, 500u, 123456u}) {
            standin::Reset();
            HWND window = Prepare(200, 160, 64, 1);
            EffectState.sparkles[0] = c.start;
            SeedRandom(seed);
            const std::vector<LONG> draws = DrawsFrom(seed, 7 + 2);
            const std::vector<LONG> r(draws.begin() + 7, draws.end());
            Tick(window);
            const auto expected = c.expect(r);
            EXPECT_EQ(Fields(EffectState.sparkles[0]), Fields(expected.first)) << c.name << ", seed " << seed;
            EXPECT_EQ(DrawsBetween(seed, RandomState), 7 + expected.second) << c.name << ", seed " << seed;
        }
    }
}

TEST_F(Effect, AnAreaBelowTheCellClampsToNegativeCoordinates) {
    HWND window = Create(10, 12, 77, "colmode=1");
    for (int frame = 0; frame < 20; ++frame) {
        Tick(window);
        for (const Sparkle& s : EffectState.sparkles) {
            ASSERT_EQ(s.x, 10 - 16);
            ASSERT_EQ(s.y, 12 - 16);
        }
    }
    EXPECT_EQ(standin::LiveGdiObjects(), 0);
}

TEST_F(Effect, AHueComesBackAfter384Frames) {
    HWND window = Create(32, 32, 99, "colmode=1\r\nkomakasa=64");
    LONG start[SparkleCount];
    for (int i = 0; i < SparkleCount; ++i) start[i] = EffectState.sparkles[i].hue;
    for (int frame = 1; frame <= 384; ++frame) {
        Tick(window);
        standin::calls.clear();
        for (int i = 0; i < SparkleCount; ++i) {
            if (frame < 384)
                ASSERT_NE(EffectState.sparkles[i].hue, start[i]) << frame;
            else
                EXPECT_EQ(EffectState.sparkles[i].hue, start[i]);
        }
    }
}

TEST_F(Effect, EachFrameDeletesItsBrushesAndPensAndLeavesTheContextAsFound) {
    HWND window = Create(64, 48, 5, "colmode=1");
    for (int frame = 0; frame < 20; ++frame) Tick(window);
    // The strip's black brush, then a brush and a pen for each glyph.
    EXPECT_EQ(standin::CountCalls("CreateSolidBrush"), 20 * (1 + SparkleCount));
    EXPECT_EQ(standin::CountCalls("CreatePen"), 20 * SparkleCount);
    EXPECT_EQ(standin::CountCalls("DeleteObject"), 20 * (1 + 2 * SparkleCount));
    EXPECT_EQ(standin::LiveGdiObjects(), 0);
    EXPECT_EQ(standin::LiveDeviceContexts(), 0);
    EXPECT_EQ(standin::CountCalls("ReleaseDC"), 20);
    EXPECT_EQ(EffectState.surface, nullptr);

    // After a frame the context draws with its own default pen and brush again, not with the last sparkle's colour.
    HDC dc = GetDC(window);
    DrawFrame(dc);
    Rectangle(dc, 20, 20, 30, 30);
    EXPECT_EQ(standin::Pixel(window, 25, 25), RGB(255, 255, 255));
    EXPECT_EQ(standin::Pixel(window, 20, 25), RGB(0, 0, 0));
    ReleaseDC(window, dc);
}

TEST_F(Effect, ATickWithoutADeviceContextStillMovesTheSparkles) {
    HWND drawn = Create(96, 64, 5, "colmode=2");
    for (int frame = 0; frame < 3; ++frame) Tick(drawn);
    const DWORD drawnState = RandomState;
    const auto drawnSparkles = AllFields();

    HWND blind = Create(96, 64, 5, "colmode=2");
    standin::FillWindow(blind, RGB(1, 2, 3));
    standin::failures = {{"GetDC", 0}};
    standin::calls.clear();
    for (int frame = 0; frame < 3; ++frame) Tick(blind);
    EXPECT_EQ(RandomState, drawnState);
    EXPECT_EQ(AllFields(), drawnSparkles);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 96; ++x) ASSERT_EQ(standin::Pixel(blind, x, y), RGB(1, 2, 3));
    EXPECT_EQ(standin::LiveGdiObjects(), 0);
    EXPECT_EQ(standin::CountCalls("CreateSolidBrush") + standin::CountCalls("CreatePen"), standin::CountCalls("DeleteObject"));
    EXPECT_EQ(standin::CountCalls("ReleaseDC"), 0);
}

TEST_F(Effect, AnEmptyClientAreaNeitherCrashesNorDisturbsTheDraws) {
    struct Case {
        int width, height;
        int columns, rows;  // bands at komakasa 8
    } cases[] = {{0, 100, 0, 13}, {100, 0, 13, 0}, {0, 0, 0, 0}, {-5, 20, 0, 3}, {20, -3, 3, 0}};
    for (const Case& c : cases) {
        standin::Reset();
        standin::moduleFileName = "";
        HWND window = Create(c.width, c.height, 8, "");
        EXPECT_EQ(DrawsBetween(8, RandomState), 32);
        for (const Sparkle& s : EffectState.sparkles) {
            if (c.width <= 0) { EXPECT_EQ(s.x, 0); }
            if (c.height <= 0) { EXPECT_EQ(s.y, 0); }
        }
        for (int frame = 0; frame < 3; ++frame) Tick(window);
        EXPECT_EQ(standin::CountCalls("BitBlt"), 3 * (c.columns + c.rows)) << c.width << "x" << c.height;
        EXPECT_EQ(standin::LiveGdiObjects(), 0);
    }
}

TEST_F(Effect, AWaitOfZeroOrBelowGivesTheTimerTheMinimumInterval) {
    struct Case {
        const char* wait;
        UINT interval;
    } cases[] = {{"0", 10}, {"-5", 10}, {"-2147483648", 10}, {"1", 1}, {"40", 40}, {"500", 500}, {"", 40}};
    for (const Case& c : cases) {
        standin::timers.clear();
        HWND window = Create(64, 64, 1, std::string("wait=") + c.wait);
        ASSERT_EQ(standin::timers.size(), 1u);
        EXPECT_EQ(standin::timers[0].window, window);
        EXPECT_EQ(standin::timers[0].id, 1u);
        EXPECT_EQ(standin::timers[0].elapse, c.interval) << c.wait;
    }
}

TEST_F(Effect, MessagesAreSettledOrPassedDownTheChain) {
    HWND window = Create(64, 64, 1, "");
    standin::calls.clear();
    EXPECT_EQ(EffectProc(window, WM_TIMER, 7, 0), 0);
    EXPECT_GT(standin::CountCalls("BitBlt"), 0);

    EXPECT_EQ(standin::CountCalls("DefWindowProcA"), 0);
    EffectProc(window, WM_PAINT, 3, 4);
    ASSERT_EQ(standin::CountCalls("DefWindowProcA"), 1);
    EXPECT_EQ(standin::CallsNamed("DefWindowProcA")[0].args,
              (std::vector<int64_t>{reinterpret_cast<intptr_t>(window), WM_PAINT, 3, 4}));

    EXPECT_EQ(EffectProc(window, WM_DESTROY, 0, 0), 0);
    EXPECT_TRUE(standin::timers.empty());
    EXPECT_EQ(standin::CallsNamed("KillTimer").at(0).args[1], 1);
}

TEST_F(Effect, TheGlyphIsAStarInItsCellWithoutABox) {
    HWND window = Prepare(64, 64, 64, 0);
    const LONG x = 20, y = 24;
    for (Sparkle& s : EffectState.sparkles) s = Sparkle{x, y, 5, 5, 0};
    Tick(window);
    const COLORREF colour = RGB(255, 4, 0);

    int left = 64, right = -1, top = 64, bottom = -1, count = 0;
    for (int py = 0; py < 64; ++py)
        for (int px = 0; px < 64; ++px) {
            COLORREF pixel = standin::Pixel(window, px, py);
            ASSERT_TRUE(pixel == colour || pixel == RGB(0, 0, 0)) << px << "," << py;
            if (pixel != colour) continue;
            ++count;
            left = std::min(left, px);
            right = std::max(right, px);
            top = std::min(top, py);
            bottom = std::max(bottom, py);
            // Mirror image about the star's axis, column x + 7.
            EXPECT_EQ(standin::Pixel(window, 2 * (x + 7) - px, py), colour) << px << "," << py;
        }
    EXPECT_GE(left, x);
    EXPECT_LE(right, x + 15);
    EXPECT_GE(top, y);
    EXPECT_LE(bottom, y + 15);
    EXPECT_GE(right - left + 1, 14);
    EXPECT_GE(bottom - top + 1, 13);
    // A star covers well under the cell: points, not a box.
    EXPECT_GT(count, 60);
    EXPECT_LT(count, 130);
    EXPECT_EQ(standin::Pixel(window, x + 7, y + 8), colour);
    EXPECT_EQ(standin::Pixel(window, x + 7, y + 14), RGB(0, 0, 0));  // between the legs
    EXPECT_EQ(standin::Pixel(window, x + 1, y + 1), RGB(0, 0, 0));
    EXPECT_EQ(standin::Pixel(window, x + 14, y + 1), RGB(0, 0, 0));
}

}  // namespace
