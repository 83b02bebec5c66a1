// The status line: repetition filter and where messages go.
#include "kernel/status-line.h"

#include <gtest/gtest.h>

#include "kernel/klog.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

struct RecordingWindow : StatusWindow {
  std::vector<std::string> shown;
  void ShowLine(const std::string& displayLine, const std::string&, bool) override {
    shown.push_back(displayLine);
  }
};

class StatusLineTest : public ::testing::Test {
 protected:
  StatusLineTest() { now.month = 12, now.day = 10, now.hour = 8, now.minute = 59; }
  test::SandboxDir dir;
  LocalTime now;
  LocalClock clock = [this] { return now; };
  C_KLog log{(dir.path() / "Vellumora.log").string(), clock};
  StatusLine status{&log, clock};
  RecordingWindow window;

  std::vector<std::u16string> Messages() {
    auto lines = log.Lines();
    return {lines.begin() + 2, lines.end()};
  }
};

TEST_F(StatusLineTest, RepeatWithinAMinuteIsDroppedAndShownAgainNextMinute) {
  status.SetWindow(&window);
  status.Show("DELAY in print channel 1", false);
  status.Show("DELAY in print channel 1", false);
  now.minute = 0, now.hour = 9;
  status.Show("DELAY in print channel 1", false);
  status.Show("", false);  // nothing at all

  EXPECT_EQ(Messages(), (std::vector<std::u16string>{u"12.10. 08:59   DELAY in print channel 1",
                                                     u"12.10. 09:00   DELAY in print channel 1"}));
  EXPECT_EQ(window.shown, (std::vector<std::string>{"12.10. 08:59  DELAY in print channel 1",
                                                    "12.10. 09:00  DELAY in print channel 1"}));
}

TEST_F(StatusLineTest, ShortTextsCompareWithoutTimeAndOnlyTheImmediateRepeatIsDropped) {
  status.Show(" ", false);
  now.minute = 30;
  status.Show(" ", false);
  status.Show("A message", false);
  status.Show(" ", false);
  EXPECT_EQ(Messages(),
            (std::vector<std::u16string>{u"12.10. 08:59    ", u"12.10. 08:30   A message",
                                         u"12.10. 08:30    "}));
}

TEST_F(StatusLineTest, ServiceModeWritesTheFileOnly) {
  status.SetWindow(&window);
  status.SetServiceMode(true);
  status.Show("... service is running", false);
  EXPECT_TRUE(window.shown.empty());
  EXPECT_EQ(Messages().size(), 1u);
}

}  // namespace
}  // namespace vellumora
