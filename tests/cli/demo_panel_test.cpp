// The demo firmware on the front panel's run loop, worked the way the
// window works it: the power switch by a mouse release on key code 1, keys
// of the face by the mouse; the screen is read back from the LCD.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "cpu/exec.h"
#include "cpu/state.h"
#include "demo_machine.h"
#include "devices/keyboard.h"
#include "frontpanel/files.h"
#include "frontpanel/keymap.h"
#include "frontpanel/lcd_text.h"
#include "frontpanel/run_loop.h"
#include "machine.h"

namespace tarvo::demo {
namespace {

struct RecordedMessages : Messages {
  std::vector<std::string> texts;
  void loadFailed(const std::string& file) override { texts.push_back(loadFailedMessage(file)); }
  void saveFailed(const std::string& file) override { texts.push_back(saveFailedMessage(file)); }
};

using Screen = std::array<std::string, kLcdTextRows>;

class DemoPanel : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!templateHas("rom1.bin")) GTEST_FAIL() << "the build made no demo machine";
    loop = std::make_unique<RunLoop>(*m, messages, dir.path().string());
    loop->create();
    loop->show(true);
  }

  // Run ticks with the refresh tick every 50 ms, as the window does.
  void ticks(int n) {
    for (int i = 0; i < n; ++i) {
      loop->runTick();
      if (advanceCadence(loop->scheduler).refresh) loop->refreshTick();
    }
  }
  void type(char32_t ch) {
    pressHostChar(*m, ch);
    ticks(5);
    releaseHostKey(*m);
    ticks(5);
  }
  // The mouse let go of the power switch: it changes position and, when it
  // is now on, wakes the processor.
  void flipPowerSwitch() { togglePowerSwitch(*m); }
  // A key of the face pressed and let go with the mouse.
  void click(int code) {
    pressKey(*m, KeyHolder::Mouse, code);
    ticks(5);
    releaseKey(*m, KeyHolder::Mouse);
    ticks(5);
  }
  // The mouse let go of the wake key.
  void releaseWakeKey() { wake(*m, false); }
  Screen screen() const { return lcdTextLines(m->lcd); }

  MachineDir dir;
  std::unique_ptr<Machine> m = std::make_unique<Machine>();
  RecordedMessages messages;
  std::unique_ptr<RunLoop> loop;
};

TEST_F(DemoPanel, SwitchingOffSleepsAndSwitchingOnRestoresTheScreen) {
  ticks(100);
  EXPECT_TRUE(messages.texts.empty());
  type('7');
  type('*');
  type('6');
  const Screen before = screen();
  ASSERT_EQ(before[3], ">7*6_");

  flipPowerSwitch();
  ticks(10);
  EXPECT_TRUE(m->cpu.powerOff);
  EXPECT_EQ(m->lcd.control, 0);  // off resets the controllers: the LCD is blank
  EXPECT_EQ(screen(), (Screen{}));

  // Keys do nothing while the machine is off, and the wake key alone does
  // not bring it back while the switch is off.
  type('1');
  EXPECT_TRUE(m->cpu.powerOff);
  releaseWakeKey();
  ticks(10);
  EXPECT_TRUE(m->cpu.powerOff);
  EXPECT_EQ(screen(), (Screen{}));

  flipPowerSwitch();
  EXPECT_FALSE(m->cpu.powerOff);
  ticks(20);
  EXPECT_EQ(screen(), before);
  pressHostKey(*m, HostKey::Enter);
  ticks(5);
  releaseHostKey(*m);
  ticks(40);
  const Screen after = screen();
  EXPECT_EQ(after[2], resultLine("42"));
  EXPECT_EQ(after[3], ">_");
}

TEST_F(DemoPanel, ARunningProgramStopsAtPowerOffAndKeepsItsVariables) {
  ticks(100);
  auto typeLine = [this](const std::string& text) {
    for (char ch : text) type(static_cast<char32_t>(ch));
    pressHostKey(*m, HostKey::Enter);
    ticks(5);
    releaseHostKey(*m);
    ticks(5);
  };
  typeLine("10 A=A+1:GOTO 10");
  typeLine("RUN");
  ticks(50);
  flipPowerSwitch();
  ticks(10);
  ASSERT_TRUE(m->cpu.powerOff);
  flipPowerSwitch();
  ticks(20);
  // Back at a new prompt; the loop had counted, and the program is there.
  EXPECT_EQ(screen()[3], ">_");
  typeLine("CLS:PRINT A=0:LIST");
  ticks(20);
  EXPECT_EQ(screen(), (Screen{"0", "10 A=A+1:GOTO 10", ">_", ""}));
}

TEST_F(DemoPanel, TheScreenSurvivesASleepAcrossAClosedWindow) {
  ticks(100);
  type('5');
  flipPowerSwitch();
  ticks(10);
  ASSERT_TRUE(m->cpu.powerOff);
  loop->close();  // RAM saved while asleep

  // A new start with the switch on finds the screen in RAM.
  auto again = std::make_unique<Machine>();
  RecordedMessages quiet;
  RunLoop next(*again, quiet, dir.path().string());
  next.create();
  next.show(true);
  for (int i = 1; i <= 100; ++i) {
    next.runTick();
    if (i % 5 == 0) next.refreshTick();
  }
  EXPECT_EQ(lcdTextLines(again->lcd)[3], ">5_");
}

TEST_F(DemoPanel, FaceKeysClearTheLineAndTheScreen) {
  ticks(100);
  click(61);  // 7
  click(72);  // +
  click(58);  // AC: the line goes, the prompt stays
  EXPECT_EQ(screen()[3], ">_");
  click(70);  // 2
  click(64);  // *
  click(69);  // 1
  click(75);  // EXE
  ticks(20);
  EXPECT_EQ(screen()[2], resultLine("2"));
  click(12);  // CLS: only the prompt is left, at the top
  EXPECT_EQ(screen(), (Screen{">_", "", "", ""}));
  click(69);  // 1
  EXPECT_EQ(screen()[0], ">1_");
}

}  // namespace
}  // namespace tarvo::demo
