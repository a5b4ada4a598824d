// How the status line looks: frames drawn over each other on a terminal or logged line by line,
// and the units, rates and estimates its fields show.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/human_units.h"
#include "app/status_line_painter.h"
#include "app/status_text.h"
#include "terminal_screen.h"

namespace boardmill::app {
namespace {

using testing::ScreenLines;

TEST(StatusLinePainterTest, RedrawnFramesCoverEachOtherAndTheEraseLeavesAnEmptyLine) {
  StatusLinePainter painter(StatusLineStyle::kRedrawn);
  std::string terminal = "$ boardmill convert in out\n";
  terminal += painter.Frame("converting  files 9/10  positions 12.3M", 0);
  terminal += painter.Frame("converting  files 10/10", 0);
  EXPECT_EQ(ScreenLines(terminal),
            (std::vector<std::string>{"$ boardmill convert in out", "converting  files 10/10"}));

  terminal += painter.Erase();
  terminal += "Execution mode: x\n";
  EXPECT_EQ(ScreenLines(terminal),
            (std::vector<std::string>{"$ boardmill convert in out", "Execution mode: x"}));
  EXPECT_EQ(painter.Erase(), "") << "nothing left to erase";
}

TEST(StatusLinePainterTest, RedrawnFrameStopsShortOfTheTerminalsLastColumn) {
  StatusLinePainter painter(StatusLineStyle::kRedrawn);
  const std::string frame = painter.Frame("0123456789abcdef", 10);
  EXPECT_EQ(ScreenLines(frame), std::vector<std::string>{"012345678"});
  EXPECT_EQ(ScreenLines(frame + painter.Erase()), std::vector<std::string>{});
}

TEST(StatusLinePainterTest, LoggedFramesAreWholeLinesAndNeedNoErase) {
  StatusLinePainter painter(StatusLineStyle::kLogged);
  const std::string log = painter.Frame("converting  files 1/2", 10) +
                          painter.Frame("converting  files 2/2", 10) + painter.Erase();
  EXPECT_EQ(log, "converting  files 1/2\nconverting  files 2/2\n");
}

TEST(HumanUnitsTest, BytesMoveUpAUnitRatherThanRoundToIt) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes((1 << 20) - 1), "1.0 MiB");
  EXPECT_EQ(FormatBytes(std::uint64_t{5} << 30), "5.0 GiB");
  EXPECT_EQ(FormatBytes(~std::uint64_t{0}), "16.0 EiB");
}

TEST(HumanUnitsTest, QuantitiesKeepThreeDigitsAndDurationsReadAsAClock) {
  EXPECT_EQ(FormatQuantity(9999), "9999");
  EXPECT_EQ(FormatQuantity(10000), "10.0k");
  EXPECT_EQ(FormatQuantity(456789), "457k");
  EXPECT_EQ(FormatQuantity(999999), "1.00M");
  EXPECT_EQ(FormatQuantity(1234567), "1.23M");
  EXPECT_EQ(FormatQuantity(-1), "0");
  EXPECT_LT(FormatQuantity(1e300).size(), 64U) << "cut to its buffer, not read past it";

  EXPECT_EQ(FormatDuration(59.99), "0:59");
  EXPECT_EQ(FormatDuration(754), "12:34");
  EXPECT_EQ(FormatDuration(3600), "1:00:00");
  EXPECT_EQ(FormatDuration(90061), "25:01:01");
  EXPECT_EQ(FormatDuration(std::nan("")), "0:00");
  EXPECT_EQ(FormatDuration(1e300), "876000:00:00");
}

TEST(StatusTextTest, TimeLeftIsEstimatedWhenTheShareDoneMovesAndCountsDownBetween) {
  TimeLeftEstimate time_left;
  EXPECT_EQ(time_left.Update(FractionDone(5, 0), 1), std::nullopt);
  EXPECT_EQ(time_left.Update(FractionDone(0, 100), 5), std::nullopt);
  EXPECT_EQ(time_left.Update(FractionDone(25, 100), 10), 30.0);
  EXPECT_EQ(time_left.Update(FractionDone(25, 100), 25), 15.0);
  EXPECT_EQ(time_left.Update(FractionDone(25, 100), 50), 0.0);
  EXPECT_EQ(time_left.Update(FractionDone(50, 100), 60), 60.0);
  EXPECT_EQ(time_left.Update(FractionDone(120, 100), 70), 0.0);
}

TEST(StatusTextTest, ALaterPhaseEstimatesFromTheTimeItWasFirstSeen) {
  PhaseTimeLeft time_left;
  EXPECT_EQ(time_left.Update(FractionDone(0, 100), 100), std::nullopt);
  // A quarter in the 10 seconds since the phase began leaves 30, not what 110 seconds would leave.
  EXPECT_EQ(time_left.Update(FractionDone(25, 100), 110), 30.0);
}

}  // namespace
}  // namespace boardmill::app
