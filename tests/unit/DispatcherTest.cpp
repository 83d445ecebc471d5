// What the dispatcher does with each answer of the command catalogue.
#include <gtest/gtest.h>

#include "TrackerSim.h"
#include "World.h"
#include "ui/Messages.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;

// A connected tracker on the fake platform; answers are fed straight to the dispatcher.
struct Connected : fake::World {
  Connected() {
    Start();
    env.clock.Advance(1200);
    shown.clear();
    mark = env.serial.Writes().size();
  }
  void Answer(int command, const Bytes& payload) {
    const Bytes frame = sim::BuildResponseFrame(static_cast<uint8_t>(command), payload);
    w().codec.ScanFrames(frame.data(), frame.size());
  }
  std::vector<int> Sent() const { return SentCommands(mark); }
  size_t mark = 0;
};

TEST(StatusText, MapsStatusBytesToMessages) {
  Connected c;
  const std::pair<int, int> table[] = {{0, 38}, {1, 68}, {2, 81}, {3, 82},  {4, 83},   {5, 84},    {6, 85},
                                       {7, 46}, {8, 45}, {9, 94}, {10, 95}, {11, 110}, {254, 130}, {255, 91}};
  for (auto [status, message] : table) {
    EXPECT_EQ(c.w().dispatcher.StatusText(static_cast<uint8_t>(status)), "Message" + std::to_string(message));
  }
  EXPECT_EQ(c.w().dispatcher.StatusText(12), "Error: 12");
  EXPECT_EQ(c.w().dispatcher.StatusText(253), "Error: 253");
}

TEST(Dispatch, GenericAnswerShowsItsStatusExceptFE) {
  Connected c;
  c.Answer(255, {0xFE});
  EXPECT_TRUE(c.shown.empty());
  c.Answer(255, {0x01});
  EXPECT_EQ(c.shown, std::vector<std::string>{"Message68"});
}

TEST(Dispatch, UnrecognisedCommandsShowMessage36WithTheCode) {
  Connected c;
  for (int code : {100, 39, 40, 176}) c.Answer(code, {0});
  EXPECT_EQ(c.shown, std::vector<std::string>(4, "Message36"));
  EXPECT_EQ(ui::FormatInt("Неизвестная команда %d", 100), "Неизвестная команда 100");
  EXPECT_EQ(ui::FormatInt("%s %d%% %n %d", 7), "%s 7% %n %d");
  EXPECT_EQ(ui::FormatInt("", 7), "");
}

TEST(Dispatch, NeverRequestedCodesAreDroppedSilently) {
  Connected c;
  for (int code : {1, 2, 3, 5, 35, 36, 42, 43, 44, 45, 208}) c.Answer(code, {1});
  EXPECT_TRUE(c.shown.empty());
  EXPECT_TRUE(c.Sent().empty());
}

TEST(Dispatch, ConfigurationReadFetchesBothRecords) {
  Connected c;
  Bytes first{0, 0, 0x00, 0x02};
  first.resize(4 + 512, 0xA1);
  c.Answer(32, first);
  EXPECT_EQ(c.w().config.ConfigBlock1[0], 0xA1);
  EXPECT_EQ(c.w().config.ConfigBlock1[511], 0xA1);
  ASSERT_EQ(c.Sent(), std::vector<int>{32});
  EXPECT_EQ(c.env.serial.Writes().back().bytes[8], 1);
  EXPECT_EQ(c.w().controls["RzPageControl1"].Index(), 0);

  Bytes second{0, 1, 0x00, 0x02};
  second.resize(4 + 512, 0xB2);
  c.Answer(32, second);
  EXPECT_EQ(c.w().config.ConfigBlock2[0], 0xB2);
  EXPECT_EQ(c.Sent(), std::vector<int>{32});
  // Once per block, and once more as the read's closing word.
  EXPECT_EQ(c.shown, std::vector<std::string>(3, "Message6"));
}

TEST(Dispatch, AnOverlongConfigurationBlockIsCutTo512) {
  Connected c;
  Bytes answer{0, 0, 0x58, 0x02};  // 600
  answer.resize(4 + 600, 0xC3);
  c.w().config.ConfigBlock2.fill(0x00);
  c.Answer(32, answer);
  EXPECT_EQ(c.shown, (std::vector<std::string>{"Message6", "Message5"}));
  EXPECT_EQ(c.w().config.ConfigBlock1[511], 0xC3);
  EXPECT_EQ(c.w().config.ConfigBlock2[0], 0x00);  // nothing spilled into the next record
}

TEST(Dispatch, AConfigurationBlockLongerThanTheAnswerCopiesOnlyWhatArrived) {
  Connected c;
  c.w().config.ConfigBlock1.fill(0x11);
  c.Answer(32, {0, 0, 0x00, 0x02, 0xEE, 0xEE});
  EXPECT_EQ(c.w().config.ConfigBlock1[1], 0xEE);
  EXPECT_EQ(c.w().config.ConfigBlock1[2], 0x11);
}

TEST(Dispatch, ConfigurationReadOtherAnswers) {
  Connected c;
  c.Answer(32, {0, 7, 0, 0});
  c.Answer(32, {5});
  c.Answer(32, {9});
  EXPECT_EQ(c.shown, (std::vector<std::string>{"Message6", "Message26", "Message6", "Message94"}));
  EXPECT_TRUE(c.Sent().empty());
}

TEST(Dispatch, ConfigurationWriteSendsTheSecondRecordAfterTheFirst) {
  Connected c;
  c.w().config.ConfigBlock2.fill(0x5C);
  c.Answer(33, {0, 0});
  ASSERT_EQ(c.Sent(), std::vector<int>{33});
  const Bytes& frame = c.env.serial.Writes().back().bytes;
  ASSERT_EQ(frame.size(), 515u + 10u);
  EXPECT_EQ(frame[8], 1);
  EXPECT_EQ(frame[9], 0x00);
  EXPECT_EQ(frame[10], 0x02);
  EXPECT_EQ(frame[11], 0x5C);
  EXPECT_EQ(c.shown, std::vector<std::string>{"Message7"});
  c.Answer(33, {0, 1});
  EXPECT_EQ(c.Sent().size(), 1u);
  EXPECT_EQ(c.shown.size(), 1u);
}

TEST(Dispatch, StatusAnswersAreCutToTheirRecords) {
  Connected c;
  Bytes nav{0, 0x2C, 0x01};  // 300 bytes announced and sent
  nav.resize(3 + 300, 0x66);
  c.Answer(34, nav);
  EXPECT_EQ(c.w().monitoring.NavigationRecord[255], 0x66);
  c.Answer(34, {2, 1, 0, 0x99});
  EXPECT_TRUE(c.shown.empty());
}

TEST(Dispatch, SmallAnswers) {
  Connected c;
  c.Answer(4, {0});
  c.Answer(4, {1});
  c.Answer(38, {0});
  c.Answer(52, {0});
  c.Answer(52, {3});
  c.Answer(61, {0});
  c.Answer(209, {0});  // no update running: nothing
  c.Answer(209, {2});
  EXPECT_EQ(c.shown, (std::vector<std::string>{"Message79", "Message9", "Message88", "Message81", "Message38",
                                               "Message81"}));
  EXPECT_TRUE(c.Sent().empty());
}

TEST(Dispatch, EventLogWithCountZeroDecodesNothing) {
  Connected c;
  const auto& memo = c.w().controls["LOG_memo"];
  c.Answer(41, {0});
  EXPECT_TRUE(memo.Lines().empty());
  c.Answer(41, {200, 1});  // count beyond the payload stops at its end
  ASSERT_EQ(memo.Lines().size(), 1u);
  EXPECT_EQ(memo.Lines()[0].substr(8), " - Code1");
  c.Answer(41, {3, 0, 7, 9});  // code 0 is no event
  ASSERT_EQ(memo.Lines().size(), 3u);
  EXPECT_EQ(memo.Lines()[2].substr(8), " - Code9");
  EXPECT_TRUE(c.shown.empty());
}

TEST(Dispatch, ModbusValueIsBigEndianAndSigned) {
  Connected c;
  c.Answer(57, {2, 0x01, 0x02});
  EXPECT_EQ(c.w().controls["MODVALUE"].Text(), "258");
  c.Answer(57, {4, 0xFF, 0xFF, 0xFF, 0xFE});
  EXPECT_EQ(c.w().controls["MODVALUE"].Text(), "-2");
}

// Bootloader acknowledgements that belong to no update send nothing; a refusal
// is still shown (it may come after its step's timeout ended the update).
TEST(Dispatch, FirmwareAnswersWithoutAnUpdateAreIgnored) {
  Connected c;
  for (int command : {16, 18, 19, 20, 21}) c.Answer(command, {0});
  EXPECT_TRUE(c.shown.empty());
  for (int command : {16, 18, 19, 20, 21}) c.Answer(command, {3});
  EXPECT_EQ(c.shown.size(), 5u);
  for (const std::string& text : c.shown) EXPECT_EQ(text.rfind("0x", 0), 0u) << text;
  EXPECT_TRUE(c.Sent().empty());
  EXPECT_TRUE(c.w().link.Connected);
}

TEST(Dispatch, TachographAndBluetoothTexts) {
  Connected c;
  c.Answer(69, {12});
  c.Answer(69, {18});
  c.Answer(69, {7});
  c.Answer(72, {0});
  c.Answer(73, {1, 1});
  c.Answer(73, {1, 0});
  c.Answer(73, {0});
  c.Answer(74, {0, 1});
  c.Answer(74, {0, 0});
  c.Answer(74, {1, 1, 'P', 'h', 0, 'x'});
  c.Answer(74, {1, 0});
  c.Answer(74, {3, 3});
  EXPECT_EQ(c.shown,
            (std::vector<std::string>{
                "Тахограф не настроен. Сохраните настройки в прибор", "Тахограф не готов, не подключен",
                "Message46", "Bluetooth: cканирование завершено", "Bluetooth: cопряжение успешно",
                "Bluetooth: cопряжение провалено", "Bluetooth: удален из списка",
                "Bluetooth: настройка произведена", "Bluetooth: ошибка настройки",
                "Bluetooth: подключение установлено - Ph", "Bluetooth: подключение провалено"}));
}

TEST(Dispatch, ALaterMessageReplacesTheEarlierOne) {
  Connected c;
  c.Answer(4, {0});
  c.Answer(52, {0});
  EXPECT_EQ(c.w().controls["MESLABEL"].Text(), "Message88");
  EXPECT_TRUE(c.w().controls["MESPANEL"].Visible());
  EXPECT_TRUE(c.w().controls.UserClick("OKMES"));
  EXPECT_FALSE(c.w().controls["MESPANEL"].Visible());
}

}  // namespace
}  // namespace rlv
