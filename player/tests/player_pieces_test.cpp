// The player's rules that need no file: the event ring, the position threshold, the aspect
// rectangles, subtitle colours and blending, the packet queue.
#include <gtest/gtest.h>

#include <cmath>

#include "player/player_display.h"
#include "player/player_event_ring.h"
#include "player/stream_queue.h"

namespace {

// ---- Event ring ----

TPlayerEventItem Position(int64_t pts) {
  return {pekPosition, psPlay, pts};
}
TPlayerEventItem State(TPlayState state) {
  return {pekState, state, 0};
}

struct TRingCase {
  const char* Name;
  std::vector<TPlayerEventItem> Pushed;
  std::vector<TPlayerEventItem> Popped;  // in order, until empty
};

std::vector<TRingCase> RingCases() {
  std::vector<TRingCase> cases = {
      {"Empty", {}, {}},
      {"ConsecutivePositionsKeepTheNewest", {Position(1), Position(2), Position(3)}, {Position(3)}},
      {"PositionStatePositionStayThree",
       {Position(1), State(psPause), Position(2)},
       {Position(1), State(psPause), Position(2)}},
      {"TwoStatesInARowKeepTheSecond", {State(psPause), State(psResume)}, {State(psResume)}},
      {"EndItemAfterStop",
       {State(psStop), {pekEnd, psStop, 0}},
       {State(psStop), {pekEnd, psStop, 0}}},
  };
  // Twelve alternating items: the ring keeps the newest ten.
  TRingCase full{"FullRingDropsTheOldest", {}, {}};
  for (int i = 0; i < 12; ++i)
    full.Pushed.push_back(i % 2 ? State(TPlayState(i % 6)) : Position(i));
  full.Popped.assign(full.Pushed.begin() + 2, full.Pushed.end());
  cases.push_back(full);
  return cases;
}

class EventRing : public ::testing::TestWithParam<TRingCase> {};

TEST_P(EventRing, DeliversWhatSurvivesCoalescing) {
  TPlayerEventRing ring;
  for (const auto& item : GetParam().Pushed) ring.Push(item);
  for (const auto& expected : GetParam().Popped) {
    const TPlayerEventItem got = ring.Pop();
    EXPECT_EQ(got.Kind, expected.Kind);
    EXPECT_EQ(got.State, expected.State);
    EXPECT_EQ(got.PTS, expected.PTS);
  }
  EXPECT_EQ(ring.Pop().Kind, pekNone);
  EXPECT_EQ(ring.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, EventRing, ::testing::ValuesIn(RingCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(EventRingAfterPop, ANewItemOfTheSameKindAsTheTakenOneIsKept) {
  TPlayerEventRing ring;
  ring.Push(Position(1));
  EXPECT_EQ(ring.Pop().PTS, 1);
  ring.Push(Position(2));
  EXPECT_EQ(ring.Pop().PTS, 2);
}

// ---- Position threshold ----

struct TThresholdCase {
  int64_t Last, Now;
  bool Reported;
};

class PositionThreshold : public ::testing::TestWithParam<TThresholdCase> {};

TEST_P(PositionThreshold, ReportsOnlyMovesOfMoreThanTenMilliseconds) {
  EXPECT_EQ(PositionWorthReporting(GetParam().Last, GetParam().Now), GetParam().Reported);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, PositionThreshold,
                         ::testing::Values(TThresholdCase{kNoPTS, 0, true},
                                           TThresholdCase{1000000, 1010000, false},
                                           TThresholdCase{1000000, 1010001, true},
                                           TThresholdCase{1000000, 990000, false},
                                           TThresholdCase{1000000, 989999, true},
                                           TThresholdCase{0, 0, false}));

// ---- Aspect rectangles ----

struct TAspectCase {
  const char* Name;
  float AspectRatio;
  double Sar;
  int Width, Height, DisplayWidth, DisplayHeight;
  TVideoRect Rect;
};

class AspectRect : public ::testing::TestWithParam<TAspectCase> {};

TEST_P(AspectRect, PlacesThePicture) {
  const auto& c = GetParam();
  const double aspect =
      DrawAspect(c.AspectRatio, c.Sar, c.Width, c.Height, c.DisplayWidth, c.DisplayHeight);
  const TVideoRect rect = PictureRect(aspect, 0, 0, c.DisplayWidth, c.DisplayHeight);
  EXPECT_EQ(rect.X, c.Rect.X);
  EXPECT_EQ(rect.Y, c.Rect.Y);
  EXPECT_EQ(rect.Width, c.Rect.Width);
  EXPECT_EQ(rect.Height, c.Rect.Height);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AspectRect,
    ::testing::Values(
        // A PAL 4:3 picture (sample aspect 16:15) in a square surface: letterboxed to 4:3.
        TAspectCase{"StreamAspectLetterboxes", 0, 16.0 / 15, 720, 576, 400, 400, {0, 50, 400, 300}},
        // The same in a wide surface: pillarboxed, 480 wide.
        TAspectCase{"StreamAspectPillarboxes", 0, 16.0 / 15, 720, 576, 640, 360, {80, 0, 480, 360}},
        TAspectCase{
            "FillTakesTheWholeSurface", -1, 16.0 / 15, 720, 576, 400, 400, {0, 0, 400, 400}},
        // 400 / 1.7777778 = 225, even: 224.
        TAspectCase{
            "ForcedSixteenNine", 1.7777778f, 16.0 / 15, 720, 576, 400, 400, {0, 88, 400, 224}},
        TAspectCase{"UnknownSampleAspectIsSquare", 0, 0, 720, 576, 720, 720, {0, 72, 720, 576}},
        TAspectCase{"FillWithoutDisplaySizeUsesTheStream", -1, 1, 640, 480, 0, 0, {0, 0, 1, 1}}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Subtitle colours and blending ----

TEST(SubtitleColour, StudioRangeInTenBitFixedPoint) {
  EXPECT_EQ(RgbaToYuva(0xFF000000), (TYuva{16, 128, 128, 255}));
  EXPECT_EQ(RgbaToYuva(0xFFFFFFFF), (TYuva{235, 128, 128, 255}));
  EXPECT_EQ(RgbaToYuva(0x80FF0000), (TYuva{81, 90, 240, 128}));
  EXPECT_EQ(RgbaToYuva(0x000000FF).A, 0);
}

TOverlay& Grey(TOverlay& overlay, uint8_t luma, uint8_t chroma) {
  for (int p = 0; p < 3; ++p) {
    const int rows = p ? overlay.Height() / 2 : overlay.Height();
    for (int y = 0; y < rows; ++y)
      std::fill_n(overlay.Plane(p) + size_t(y) * overlay.Pitch(p),
                  p ? overlay.Width() / 2 : overlay.Width(), p ? chroma : luma);
  }
  return overlay;
}

TSubtitleBitmap Box(int x, int y, int w, int h, TYuva colour) {
  TSubtitleBitmap rect;
  rect.X = x;
  rect.Y = y;
  rect.Width = w;
  rect.Height = h;
  rect.Indices.assign(size_t(w) * h, 1);
  rect.Palette[1] = colour;
  return rect;
}

TEST(SubtitleBlend, OpaqueBoxReplacesLumaAndWholeChromaBlocks) {
  TOverlay overlay(8, 8);
  Grey(overlay, 100, 128);
  BlendSubtitle(overlay, Box(2, 2, 4, 4, TYuva{200, 60, 90, 255}));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 2 && x < 6 && y >= 2 && y < 6;
      EXPECT_EQ(overlay.Plane(0)[y * overlay.Pitch(0) + x], inside ? 200 : 100) << x << "," << y;
    }
  // Chroma blocks (1,1) and (2,2) are covered by four samples: sum 240 blended with shift 2.
  EXPECT_EQ(overlay.Plane(1)[1 * overlay.Pitch(1) + 1], 60);
  EXPECT_EQ(overlay.Plane(2)[2 * overlay.Pitch(2) + 2], 90);
  EXPECT_EQ(overlay.Plane(1)[0], 128);
  EXPECT_EQ(overlay.Plane(1)[3 * overlay.Pitch(1) + 3], 128);
}

TEST(SubtitleBlend, OddEdgesUseTheCoveredSamples) {
  TOverlay overlay(8, 8);
  Grey(overlay, 100, 128);
  // Columns 1..2, rows 0..1: chroma block 0 covers column 1 (two samples), block 1 column 2.
  BlendSubtitle(overlay, Box(1, 0, 2, 2, TYuva{200, 0, 255, 255}));
  // Two samples: blend(Σalpha/4 = 127, 128, Σu = 0, 1) = (128*2*128 + 0) / 510 = 64.
  EXPECT_EQ(overlay.Plane(1)[0], (128 * 2 * (255 - 127)) / 510);
  EXPECT_EQ(overlay.Plane(2)[1], (128 * 2 * (255 - 127) + 510 * 127) / 510);
  // One sample at an odd corner: blend(alpha, old, value, 0).
  TOverlay corner(8, 8);
  Grey(corner, 100, 128);
  BlendSubtitle(corner, Box(1, 1, 1, 1, TYuva{200, 0, 255, 255}));
  EXPECT_EQ(corner.Plane(1)[0], 0);
  EXPECT_EQ(corner.Plane(2)[0], 255);
}

TEST(SubtitleBlend, HalfTransparentAndClipped) {
  TOverlay overlay(4, 4);
  Grey(overlay, 100, 128);
  BlendSubtitle(overlay, Box(2, 2, 10, 10, TYuva{200, 128, 128, 128}));
  // ((255 - 128) * 100 + 128 * 200) / 255 = 150
  EXPECT_EQ(overlay.Plane(0)[3 * overlay.Pitch(0) + 3], 150);
  EXPECT_EQ(overlay.Plane(0)[1 * overlay.Pitch(0) + 1], 100);
  BlendSubtitle(overlay, Box(-5, -5, 2, 2, TYuva{0, 0, 0, 255}));  // entirely outside
  EXPECT_EQ(overlay.Plane(0)[0], 100);
}

// ---- Packet queue ----

TEST(StreamQueue, CountsBytesWithNodesAndKeepsTheFlushPacketInOrder) {
  TStreamQueue queue;
  AVPacketPtr packet = MakePacket();
  ASSERT_EQ(av_new_packet(packet.get(), 100), 0);
  ASSERT_TRUE(queue.Put(packet.get()));
  ASSERT_TRUE(queue.PutFlush());
  ASSERT_TRUE(queue.PutEnd(3));
  EXPECT_EQ(queue.Packets(), 3);
  EXPECT_EQ(queue.Bytes(), 100 + 3 * TStreamQueue::kNodeBytes);
  bool flush = true;
  ASSERT_EQ(queue.Get(packet.get(), flush, false), 1);
  EXPECT_FALSE(flush);
  EXPECT_EQ(packet->size, 100);
  ASSERT_EQ(queue.Get(packet.get(), flush, false), 1);
  EXPECT_TRUE(flush);
  ASSERT_EQ(queue.Get(packet.get(), flush, false), 1);
  EXPECT_FALSE(flush);
  EXPECT_EQ(packet->size, 0);
  EXPECT_EQ(packet->stream_index, 3);
  EXPECT_EQ(queue.Get(packet.get(), flush, false), 0);
  EXPECT_EQ(queue.Bytes(), 0);
  queue.Abort();
  EXPECT_EQ(queue.Get(packet.get(), flush, true), -1);
}

}  // namespace
