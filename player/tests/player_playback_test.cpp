// Playing the fixture discs: real time, pause and resume, stepping, seeking, the end, stop.
#include <gtest/gtest.h>

#include <cmath>

#include "media/main_thread.h"
#include "player/player.h"
#include "player/recording_output.h"
#include "player/tests/player_test_support.h"

namespace {

class PlayerPlayback : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlayerLibraries(); }
};

TEST_F(PlayerPlayback, Smoke) {
  TRecordingOutput output(720, 576);
  TEventLog events;
  TMediaPlayer player;
  events.Attach(player);
  ASSERT_TRUE(player.Open(FixtureVob("disc_a", 1), &output)) << player.LastError();
  PumpFor(std::chrono::milliseconds(3000));
  auto positions = events.Positions();
  printf("positions %zu pictures %zu\n", positions.size(), output.PictureCount());
  for (size_t i = 0; i < positions.size(); i += 10) printf("  %lld\n", (long long)positions[i].PTS);
  for (auto s : events.States()) printf("state %d\n", int(s));
  player.Stop(true);
  for (auto s : events.States()) printf("state %d\n", int(s));
}

}  // namespace
