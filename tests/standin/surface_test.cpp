// The stand-in's copies of a window onto itself, which the effect's bands rely on.
#include "standin.h"
#include "surface.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class Surface : public ::testing::Test {
protected:
    void SetUp() override { standin::Reset(); }

    // A window one pixel wide whose rows hold 1, 2, 3, ...
    HWND Column(int height) {
        HWND window = standin::AddWindow(1, height);
        for (int y = 0; y < height; ++y) standin::SetPixelColour(window, 0, y, static_cast<COLORREF>(y + 1));
        return window;
    }
    static std::vector<COLORREF> ColumnPixels(HWND window, int height) {
        std::vector<COLORREF> pixels;
        for (int y = 0; y < height; ++y) pixels.push_back(standin::Pixel(window, 0, y));
        return pixels;
    }
};

TEST_F(Surface, CopyOntoItselfReadsTheWholeSourceFirst) {
    struct Case {
        const char* name;
        int y, sourceY;
        std::vector<COLORREF> after;
    } cases[] = {
        {"down by 2: the top keeps its rows, the bottom is dropped", 2, 0, {1, 2, 1, 2, 3, 4}},
        {"up by 2: the source beyond the bottom leaves the rows as they were", -2, 0, {3, 4, 5, 6, 5, 6}},
        {"source taken lower down", 0, 3, {4, 5, 6, 4, 5, 6}},
        {"down by 15: nothing lands", 15, 0, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        standin::Reset();
        HWND window = Column(6);
        HDC dc = GetDC(window);
        EXPECT_TRUE(BitBlt(dc, 0, c.y, 1, 6, dc, 0, c.sourceY, SRCCOPY));
        EXPECT_EQ(ColumnPixels(window, 6), c.after) << c.name;
        ReleaseDC(window, dc);
    }
}

TEST_F(Surface, PixelsOutsideTheDestinationKeepTheirValues) {
    HWND window = standin::AddWindow(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) standin::SetPixelColour(window, x, y, static_cast<COLORREF>(10 * y + x));
    HDC dc = GetDC(window);
    // Columns 1..2 over the full height, one row down.
    BitBlt(dc, 1, 1, 2, 4, dc, 1, 0, SRCCOPY);
    const COLORREF expected[4][4] = {{0, 1, 2, 3}, {10, 1, 2, 13}, {20, 11, 12, 23}, {30, 21, 22, 33}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(standin::Pixel(window, x, y), expected[y][x]) << x << "," << y;
    // A row moved left: the source columns beyond the right edge leave the last ones.
    BitBlt(dc, -1, 0, 5, 1, dc, 0, 0, SRCCOPY);
    EXPECT_EQ(standin::Pixel(window, 0, 0), 1u);
    EXPECT_EQ(standin::Pixel(window, 2, 0), 3u);
    EXPECT_EQ(standin::Pixel(window, 3, 0), 3u);
    ReleaseDC(window, dc);
}

TEST_F(Surface, RectangleFillsWithTheBrushAndOutlinesWithThePen) {
    HWND window = standin::AddWindow(10, 10);
    standin::FillWindow(window, RGB(9, 9, 9));
    HDC dc = GetDC(window);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    HGDIOBJ former = SelectObject(dc, red);
    Rectangle(dc, 2, 2, 6, 5);
    EXPECT_EQ(standin::Pixel(window, 2, 2), RGB(0, 0, 0));   // default pen
    EXPECT_EQ(standin::Pixel(window, 5, 4), RGB(0, 0, 0));   // last column and row are the outline
    EXPECT_EQ(standin::Pixel(window, 3, 3), RGB(255, 0, 0));
    EXPECT_EQ(standin::Pixel(window, 6, 3), RGB(9, 9, 9));   // right edge exclusive
    EXPECT_EQ(standin::Pixel(window, 3, 5), RGB(9, 9, 9));   // bottom edge exclusive
    // Still selected: not deleted.
    EXPECT_FALSE(DeleteObject(red));
    EXPECT_EQ(standin::LiveGdiObjects(), 1);
    SelectObject(dc, former);
    EXPECT_TRUE(DeleteObject(red));
    EXPECT_EQ(standin::LiveGdiObjects(), 0);
    ReleaseDC(window, dc);
    EXPECT_EQ(standin::LiveDeviceContexts(), 0);
}

}  // namespace
