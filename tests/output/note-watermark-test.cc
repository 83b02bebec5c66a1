// The text note's variables and positions and the watermark's rectangle and AND combination.
#include "output/note-watermark.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/text-fields.h"
#include "output/picture-files.h"
#include "platform/cairo/cairo-canvas.h"

namespace vellumora {
namespace {

// A canvas that measures every text as a fixed size and records what is drawn, so the position
// arithmetic can be checked against exact numbers. Real rendering is checked on real pages in
// the printing tests.
class FixedMetricsCanvas : public Canvas {
 public:
  FixedMetricsCanvas(int32_t widthWithBlank, int32_t blank, int32_t height)
      : widthWithBlank_(widthWithBlank), blank_(blank), height_(height) {}
  int32_t DpiX() const override { return 600; }
  int32_t DpiY() const override { return 600; }
  void StretchDraw(const Bitmap&, const DeviceRect&) override {}
  void AndDraw(const Bitmap&, const DeviceRect& dest) override { anded.push_back(dest); }
  void SetFont(const FontSpec& f) override { font = f; }
  TextSize MeasureText(std::string_view text) override {
    const bool trailingBlank = !text.empty() && text.back() == ' ';
    return {trailingBlank ? widthWithBlank_ : widthWithBlank_ - blank_, height_};
  }
  void DrawText(int32_t x, int32_t y, std::string_view text) override {
    drawn.push_back({x, y, std::string(text)});
  }

  struct Drawn {
    int32_t x, y;
    std::string text;
  };
  std::vector<Drawn> drawn;
  std::vector<DeviceRect> anded;
  FontSpec font;

 private:
  int32_t widthWithBlank_, blank_, height_;
};

using test::March7;

PrintChannel Channel(char position, const char* note = "Vellumora file <N>") {
  PrintChannel c = EmptyChannel();
  c.notePosition = position;
  c.dpiX = c.dpiY = 600;
  WriteField(c.headerText, note);
  return c;
}

TEST(NoteVariables, ReplacedInOrderOnlyAtTheirFirstOccurrence) {
  struct Case {
    const char* note;
    int page, total;
    bool withTotal;
    const char* file;
    const char* expected;
  };
  const Case cases[] = {
      {"Page <P> of <A>", 2, 3, true, "a.jpg", "Page 2 of 3"},
      {"Page <P> of <A>", 2, 0, false, "a.jpg", "Page 2 of <A>"},  // text pages
      {"<P>/<P>", 4, 1, true, "a.jpg", "4/<P>"},
      {"<N>", 1, 1, true, "x<D>.jpg", "x<D>.jpg"},  // the name goes in last
      {"<N> <D>", 1, 1, true, "<P>.jpg", "<P>.jpg 7.Mar 2026"},
      {"<D>, <A>", 9, 12, true, "", "7.Mar 2026, 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.note);
    EXPECT_EQ(
        SubstituteNoteVariables(c.note, NoteDate(March7()), c.page, c.total, c.withTotal, c.file),
        c.expected);
  }
}

TEST(NoteDate, DayWithoutLeadingZeroAndTheLocalesMonth) {
  // The tests run in the C locale, whose abbreviations are the English ones.
  LocalTime t = March7();
  EXPECT_EQ(NoteDate(t), "7.Mar 2026");
  t.day = 31, t.month = 12, t.year = 999;
  EXPECT_EQ(NoteDate(t), "31.Dec 999");
}

TEST(DrawTextNote, SixPositionsWithTheirIntegerArithmetic) {
  // The printable rectangle 0, 0, 4800, 6800; the note 600 dots wide with its trailing blank,
  // 100 high; h / 2 = 50.
  struct Case {
    char position;
    int32_t x, y;
  };
  const Case cases[] = {{'A', 0, 0},        {'B', 2100, 0},    {'C', 4200, 0},
                        {'D', 0, 6650},     {'E', 2100, 6650}, {'F', 4200, 6650},
                        {'\0', 4200, 6650}, {'f', 4200, 6650}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    FixedMetricsCanvas canvas(600, 30, 100);
    EXPECT_TRUE(DrawTextNote(canvas, Channel(c.position), {0, 0, 4800, 6800}, 1.0, 1, 1, "a.jpg",
                             "Vellumora file <N>", March7));
    ASSERT_EQ(canvas.drawn.size(), 1u);
    EXPECT_EQ(canvas.drawn[0].x, c.x);
    EXPECT_EQ(canvas.drawn[0].y, c.y);
    EXPECT_EQ(canvas.drawn[0].text, "Vellumora file a.jpg");
    EXPECT_EQ(canvas.font.family, "Arial");
    EXPECT_EQ(canvas.font.points, 10);
  }
  // Odd extents: the halves truncate toward zero, also below zero.
  FixedMetricsCanvas odd(601, 30, 101);
  DrawTextNote(odd, Channel('E'), {0, 0, 4801, 6801}, 1.0, 1, 1, "a.jpg", "note", March7);
  EXPECT_EQ(odd.drawn.at(0).x, 2100);
  EXPECT_EQ(odd.drawn.at(0).y, 6801 - 101 - 50);
  FixedMetricsCanvas wide(601, 30, 10);
  DrawTextNote(wide, Channel('B'), {0, 0, 200, 300}, 1.0, 1, 1, "a.jpg", "note", March7);
  EXPECT_EQ(wide.drawn.at(0).x, -200);
}

TEST(DrawTextNote, PreviewScaleSizesTheFontAndShortNotesAreNotDrawn) {
  FixedMetricsCanvas canvas(60, 3, 10);
  // (600 × 0.1 + 0.5) × 10 / 96 = 6.3: the size 10 printer points have on a 96-dpi preview.
  EXPECT_TRUE(
      DrawTextNote(canvas, Channel('A'), {0, 0, 480, 680}, 0.1, 1, 1, "a.jpg", "ab", March7));
  EXPECT_EQ(canvas.font.points, 6);
  for (const char* note : {"", "x", "\xc3\xa9"}) {  // é: one character in two bytes
    SCOPED_TRACE(note);
    FixedMetricsCanvas none(60, 3, 10);
    EXPECT_FALSE(
        DrawTextNote(none, Channel('A'), {0, 0, 480, 680}, 1.0, 1, 1, "a.jpg", note, March7));
    EXPECT_TRUE(none.drawn.empty());
  }
}

TEST(DrawTextPageNote, GreyAtTheMarginsWithoutThePageCount) {
  struct Case {
    char position;
    int32_t x, y;
    bool atTop;
  };
  // Page 2480 × 3508, margin 100; the note measures 570 × 100 (no trailing blank).
  const Case cases[] = {{'A', 100, 100, true},   {'B', 955, 100, true},   {'C', 1810, 100, true},
                        {'D', 100, 3308, false}, {'E', 955, 3308, false}, {'F', 1810, 3308, false},
                        {'X', 1810, 3308, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    FixedMetricsCanvas canvas(600, 30, 100);
    const TextPageNote note = DrawTextPageNote(canvas, Channel(c.position, "<P> of <A>"), 2480,
                                               3508, 100, 2, "a.txt", March7);
    EXPECT_TRUE(note.drawn);
    EXPECT_EQ(note.height, 100);
    EXPECT_EQ(note.atTop, c.atTop);
    ASSERT_EQ(canvas.drawn.size(), 1u);
    EXPECT_EQ(canvas.drawn[0].x, c.x);
    EXPECT_EQ(canvas.drawn[0].y, c.y);
    EXPECT_EQ(canvas.drawn[0].text, "2 of <A>");
    EXPECT_EQ(canvas.font.colorRgb, 0x808080u);
    EXPECT_EQ(canvas.font.style, 0);
  }
  FixedMetricsCanvas canvas(600, 30, 100);
  EXPECT_FALSE(
      DrawTextPageNote(canvas, Channel('A', "x"), 2480, 3508, 100, 1, "a.txt", March7).drawn);
}

WatermarkBitmap Watermark(int width, int height, uint8_t grey) {
  Bitmap b;
  b.width = width, b.height = height, b.stride = width * 4;
  b.bgra.assign(static_cast<std::size_t>(b.stride) * height, grey);
  for (std::size_t i = 3; i < b.bgra.size(); i += 4) b.bgra[i] = 255;
  WatermarkBitmap w;
  w.Set(std::move(b));
  return w;
}

TEST(WatermarkRect, CentredScaledStretchedAndClamped) {
  const WatermarkBitmap w = Watermark(600, 300, 0);
  struct Case {
    const char* what;
    DeviceRect rect;
    double scale;
    bool vertical, horizontal;
    DeviceRect expected;
  };
  const Case cases[] = {
      {"own size", {0, 0, 4800, 6800}, 1.0, false, false, {2100, 3250, 2700, 3550}},
      {"preview at 0.1", {0, 0, 480, 680}, 0.1, false, false, {210, 325, 270, 355}},
      {"stretched across", {0, 0, 4800, 6800}, 1.0, false, true, {0, 3250, 4800, 3550}},
      {"stretched down", {0, 0, 4800, 6800}, 1.0, true, false, {2100, 0, 2700, 6800}},
      {"both", {0, 0, 4800, 6800}, 1.0, true, true, {0, 0, 4800, 6800}},
      {"larger than the page", {0, 0, 400, 200}, 1.0, false, false, {0, 0, 400, 200}},
      // Right and bottom are bounded by the rectangle's extents.
      {"offset rectangle", {100, 100, 500, 300}, 1.0, true, true, {100, 100, 400, 200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DeviceRect d = WatermarkRect(w, c.rect, c.scale, c.vertical, c.horizontal);
    EXPECT_EQ(d.left, c.expected.left);
    EXPECT_EQ(d.top, c.expected.top);
    EXPECT_EQ(d.right, c.expected.right);
    EXPECT_EQ(d.bottom, c.expected.bottom);
  }
}

TEST(DrawWatermark, OnlyWhenTheChannelAsksAndNothingForAnEmptyPicture) {
  const WatermarkBitmap w = Watermark(600, 300, 0);
  PrintChannel c = Channel('F');
  FixedMetricsCanvas canvas(1, 0, 1);
  EXPECT_FALSE(DrawWatermark(canvas, c, w, {0, 0, 4800, 6800}, 1.0, false, false));
  EXPECT_TRUE(canvas.anded.empty());
  c.watermark = 1;
  EXPECT_TRUE(DrawWatermark(canvas, c, w, {0, 0, 4800, 6800}, 1.0, false, false));
  ASSERT_EQ(canvas.anded.size(), 1u);
  EXPECT_EQ(canvas.anded[0].left, 2100);
  FixedMetricsCanvas none(1, 0, 1);
  EXPECT_TRUE(DrawWatermark(none, c, WatermarkBitmap{}, {0, 0, 4800, 6800}, 1.0, true, true));
  EXPECT_TRUE(none.anded.empty());
}

TEST(DrawTextPageWatermark, CentredOnThePageOrStretchedBetweenTheMargins) {
  const WatermarkBitmap w = Watermark(600, 300, 0);
  PrintChannel c = Channel('F');
  c.watermark = 1;
  FixedMetricsCanvas canvas(1, 0, 1);
  EXPECT_TRUE(DrawTextPageWatermark(canvas, c, w, 2480, 3508, 100));
  c.stretchWMhor = c.stretchWMvert = 1;
  EXPECT_TRUE(DrawTextPageWatermark(canvas, c, w, 2480, 3508, 100));
  const WatermarkBitmap huge = Watermark(3000, 4000, 0);
  c.stretchWMhor = c.stretchWMvert = 0;
  EXPECT_TRUE(DrawTextPageWatermark(canvas, c, huge, 2480, 3508, 100));
  ASSERT_EQ(canvas.anded.size(), 3u);
  const DeviceRect expected[] = {
      {940, 1604, 1540, 1904}, {100, 100, 2380, 3408}, {100, 100, 2380, 3408}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(canvas.anded[i].left, expected[i].left);
    EXPECT_EQ(canvas.anded[i].top, expected[i].top);
    EXPECT_EQ(canvas.anded[i].right, expected[i].right);
    EXPECT_EQ(canvas.anded[i].bottom, expected[i].bottom);
  }
}

TEST(DrawWatermark, AndsEachColourChannelOnARasterPage) {
  // A page in two greys; the watermark's left half white, right half 0x5A. White leaves the
  // page as it was, the grey clears exactly the bits it lacks.
  ImageCanvas page(40, 20, 96, 96);
  Bitmap ground;
  ground.width = 40, ground.height = 20, ground.stride = 160;
  ground.bgra.assign(160 * 20, 0xCC);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      uint8_t* p = &ground.bgra[y * 160 + x * 4];
      p[1] = 0xF0;  // green differs from blue and red
      p[3] = 255;
    }
  page.canvas().StretchDraw(ground, {0, 0, 40, 20});
  WatermarkBitmap w = Watermark(40, 20, 0x5A);
  Bitmap half = w.picture();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      for (int ch = 0; ch < 3; ++ch) half.bgra[y * 160 + x * 4 + ch] = 0xFF;
  w.Set(half);
  PrintChannel c = Channel('F');
  c.watermark = 1;
  EXPECT_TRUE(DrawWatermark(page.canvas(), c, w, {0, 0, 40, 20}, 1.0, true, true));
  const Bitmap out = page.Snapshot();
  auto at = [&](int x, int y, int ch) { return out.bgra[y * out.stride + x * 4 + ch]; };
  EXPECT_EQ(at(5, 10, 0), 0xCC);
  EXPECT_EQ(at(5, 10, 1), 0xF0);
  EXPECT_EQ(at(30, 10, 0), 0xCC & 0x5A);
  EXPECT_EQ(at(30, 10, 1), 0xF0 & 0x5A);
  EXPECT_EQ(at(30, 10, 2), 0xCC & 0x5A);
}

}  // namespace
}  // namespace vellumora
