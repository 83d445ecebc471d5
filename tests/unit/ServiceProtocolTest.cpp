// The checks on everything the configuration store and the update service
// send: sizes, file names, build names, and the header-then-file stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ServiceProtocol.h"

namespace rlv::net {
namespace {

TEST(ServiceSize, OnlyDigitsFromOneUpToTheLimit) {
  EXPECT_EQ(ParseSize("1046", kMaxStoreFile), 1046u);
  EXPECT_EQ(ParseSize("65536", kMaxStoreFile), 65536u);
  EXPECT_EQ(ParseSize("67108864", kMaxUpdateFile), 67108864u);
  for (const char* bad :
       {"", "0", "-1", "+5", " 5", "5 ", "1e3", "0x10", "65537", "12a", "99999999999999999999999"}) {
    EXPECT_FALSE(ParseSize(bad, kMaxStoreFile)) << bad;
  }
  EXPECT_FALSE(ParseSize("67108865", kMaxUpdateFile));
  EXPECT_FALSE(ParseSize("18446744073709551616", UINT64_MAX));  // one past 64 bits
}

TEST(ServiceField, RefusesSeparatorsAndControlCharacters) {
  EXPECT_TRUE(IsSafeField("866000000000001"));
  EXPECT_TRUE(IsSafeField("12 34"));  // as typed: spaces are the store's business
  for (const std::string& bad : std::vector<std::string>{"", "123#456", "123\r", "12\n3",
                                                         std::string("1\0"
                                                                     "2",
                                                                     3),
                                                         "\x7f", "\x1b[0m"}) {
    EXPECT_FALSE(IsSafeField(bad)) << bad;
  }
}

TEST(ServiceFileName, LastComponentOnBothSeparators) {
  EXPECT_EQ(SafeFileName("builds\\fw\\fw5_0012.0034.08.bin"), "fw5_0012.0034.08.bin");
  EXPECT_EQ(SafeFileName("firmware/type-8/fw5.bin"), "fw5.bin");
  EXPECT_EQ(SafeFileName("../../etc/passwd"), "passwd");
  EXPECT_EQ(SafeFileName("..\\..\\evil.exe"), "evil.exe");
  EXPECT_EQ(SafeFileName("/etc/cron.d/x"), "x");
  EXPECT_EQ(SafeFileName("a/b\\c/d.bin"), "d.bin");
  for (const char* bad : {"", ".", "..", "dir/", "dir\\", "a/..", "..\\..", "x\ny", "tab\there", "bell\a"}) {
    EXPECT_FALSE(SafeFileName(bad)) << bad;
  }
}

FirmwareBuild Build(uint64_t v, uint64_t b1, uint64_t b2, uint64_t b3) {
  return FirmwareBuild{v, b1, b2, b3};
}

TEST(ServiceFirmwareName, ParsedByItsFixedColumns) {
  const auto build = ParseFirmwareName("fw5_0012.0034.08.bin");
  ASSERT_TRUE(build);
  EXPECT_EQ(build->version, 5u);
  EXPECT_EQ(build->build1, 12u);
  EXPECT_EQ(build->build2, 34u);
  EXPECT_EQ(build->build3, 8u);
  const auto prefixed = ParseFirmwareName("RLvexa_fw17_0001-0002-3");
  ASSERT_TRUE(prefixed);
  EXPECT_EQ(prefixed->version, 17u);
  EXPECT_EQ(prefixed->build1, 1u);  // after the first "_" that follows the "fw"
  EXPECT_EQ(prefixed->build2, 2u);
  EXPECT_EQ(prefixed->build3, 3u);
  const auto cut = ParseFirmwareName("fw5_12");
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->build1, 12u);
  EXPECT_EQ(cut->build2, 0u);
  EXPECT_EQ(cut->build3, 0u);
  EXPECT_FALSE(ParseFirmwareName("none"));
  EXPECT_FALSE(ParseFirmwareName(""));
  // Numbers far too long to be builds do not overflow.
  const auto huge = ParseFirmwareName("fw99999999999999999999999_9999999999999");
  ASSERT_TRUE(huge);
  EXPECT_GT(huge->version, 255u);
}

TEST(ServiceFirmwareName, NewerOnlyForTheSameLastPart) {
  const auto offered = *ParseFirmwareName("fw5_0012.0034.08.bin");
  EXPECT_TRUE(IsNewerFirmware(offered, Build(5, 12, 33, 8)));
  EXPECT_FALSE(IsNewerFirmware(offered, Build(5, 12, 33, 7)));
  EXPECT_FALSE(IsNewerFirmware(offered, Build(5, 12, 34, 8)));  // the same build
  EXPECT_FALSE(IsNewerFirmware(offered, Build(6, 0, 0, 8)));
  EXPECT_TRUE(IsNewerFirmware(offered, Build(4, 99, 99, 8)));
  EXPECT_TRUE(IsNewerFirmware(offered, Build(5, 11, 9999, 8)));
  // The version counts as an 8-bit value: 261 is 5.
  EXPECT_FALSE(IsNewerFirmware(Build(261, 12, 34, 8), Build(5, 12, 34, 8)));
  EXPECT_TRUE(FirmwareBuildLess(Build(5, 12, 33, 8), offered));
  EXPECT_FALSE(FirmwareBuildLess(offered, offered));
}

TEST(ServiceVersion, ComparedNumberByNumber) {
  EXPECT_TRUE(IsNewerConfigurator("ConfiguratorRLvexa_v1.4.5.0.exe", "1.4.4.0"));
  EXPECT_TRUE(IsNewerConfigurator("ConfiguratorRLvexa_v1.4.10.0.exe", "1.4.9.0"));
  EXPECT_FALSE(IsNewerConfigurator("ConfiguratorRLvexa_v1.4.9.0.exe", "1.4.10.0"));
  EXPECT_FALSE(IsNewerConfigurator("ConfiguratorRLvexa_v1.4.4.0.exe", "1.4.4.0"));
  EXPECT_TRUE(IsNewerConfigurator("ConfiguratorRLvexa_v1.0.0.1.exe", "1.0.0"));  // a missing number is 0
  EXPECT_FALSE(IsNewerConfigurator("ConfiguratorRLvexa_v1.0.0.0.exe", "1.0.0"));
  EXPECT_TRUE(IsNewerConfigurator("ConfiguratorRLvexa_v2", "1.9.9.9"));
  for (const char* bad :
       {"ConfiguratorRLvexa.exe", "ConfiguratorRLvexa_v.exe", "ConfiguratorRLvexa_v1..2.exe",
        "ConfiguratorRLvexa_v1.2a.exe", "ConfiguratorRLvexa_v9999999999.exe", "none"}) {
    EXPECT_FALSE(IsNewerConfigurator(bad, "0.0.0.1")) << bad;
  }
  EXPECT_FALSE(IsNewerConfigurator("ConfiguratorRLvexa_v9.0.exe", "unknown"));
  EXPECT_EQ(CompareVersions({1, 4, 10}, {1, 4, 9, 0}), 1);
  EXPECT_EQ(CompareVersions({1, 4}, {1, 4, 0, 0}), 0);
  EXPECT_EQ(CompareVersions({0, 9}, {1}), -1);
}

// ---- The header-then-file stream ---------------------------------------------------

FileReceiver::Result Feed(FileReceiver& rx, const std::string& bytes) {
  return rx.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string BodyOf(const FileReceiver& rx) {
  return std::string(rx.Body().begin(), rx.Body().end());
}

TEST(ServiceReceiver, HeaderAloneThenTheFileInPieces) {
  FileReceiver rx(kMaxStoreFile, "notexists#");
  auto r = Feed(rx, "file#866000000000001#10#");
  EXPECT_TRUE(r.header);
  EXPECT_FALSE(r.progress);
  EXPECT_TRUE(rx.ReceivingBody());
  EXPECT_EQ(rx.Name(), "866000000000001");
  EXPECT_EQ(rx.Expected(), 10u);
  r = Feed(rx, "0123");
  EXPECT_TRUE(r.progress);
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(rx.Percent(), 40);
  r = Feed(rx, "456789");
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(BodyOf(rx), "0123456789");
  EXPECT_EQ(rx.Surplus(), 0u);
}

TEST(ServiceReceiver, HeaderSplitAnywhereAndSharingItsReadWithTheFile) {
  const std::string stream = "file#builds\\fw\\fw5.bin#12#ABCDEFGHIJKL";
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    FileReceiver rx(kMaxUpdateFile, "file not exists");
    auto first = Feed(rx, stream.substr(0, cut));
    auto second = Feed(rx, stream.substr(cut));
    EXPECT_EQ(first.error, FileReceiver::Error::kNone) << cut;
    EXPECT_EQ(second.error, FileReceiver::Error::kNone) << cut;
    EXPECT_TRUE(second.complete) << cut;
    EXPECT_EQ(rx.Name(), "builds\\fw\\fw5.bin");
    EXPECT_EQ(BodyOf(rx), "ABCDEFGHIJKL") << cut;
  }
  FileReceiver whole(kMaxUpdateFile, "file not exists");
  auto r = Feed(whole, stream);
  EXPECT_TRUE(r.header);
  EXPECT_TRUE(r.complete);
}

TEST(ServiceReceiver, ExactlyTheAnnouncedBytesAreTaken) {
  FileReceiver rx(kMaxStoreFile, "notexists#");
  Feed(rx, "file#1#4#");
  auto r = Feed(rx, "abcdefgh");
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(BodyOf(rx), "abcd");
  EXPECT_EQ(rx.Surplus(), 4u);
  r = Feed(rx, "more");
  EXPECT_FALSE(r.complete);
  EXPECT_FALSE(r.progress);
  EXPECT_EQ(BodyOf(rx), "abcd");
  EXPECT_EQ(rx.Surplus(), 8u);
  EXPECT_EQ(rx.TakeBody(), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
  EXPECT_FALSE(rx.Complete());
  EXPECT_EQ(rx.Received(), 0u);
}

TEST(ServiceReceiver, NotExistsWholeOrInPieces) {
  FileReceiver store(kMaxStoreFile, "notexists#");
  EXPECT_FALSE(Feed(store, "notex").not_exists);
  EXPECT_TRUE(Feed(store, "ists#").not_exists);
  FileReceiver update(kMaxUpdateFile, "file not exists");
  EXPECT_FALSE(Feed(update, "file").not_exists);
  EXPECT_FALSE(Feed(update, " not ").not_exists);
  EXPECT_TRUE(Feed(update, "exists").not_exists);
}

TEST(ServiceReceiver, HostileHeadersAreErrors) {
  struct Case {
    std::string bytes;
    FileReceiver::Error error;
  };
  const Case cases[] = {
      {"file#x#-5#", FileReceiver::Error::kBadSize},
      {"file#x#0#", FileReceiver::Error::kBadSize},
      {"file#x#65537#", FileReceiver::Error::kBadSize},
      {"file#x#abc#", FileReceiver::Error::kBadSize},
      {"file#x# 12#", FileReceiver::Error::kBadSize},
      {"file#x#999999999999999999999999999999#", FileReceiver::Error::kBadSize},
      {"file#x#1234567890123456789012345", FileReceiver::Error::kBadSize},  // no end in sight
      {"FILE#x#1#", FileReceiver::Error::kBadHeader},
      {"hello", FileReceiver::Error::kBadHeader},
      {"filex", FileReceiver::Error::kBadHeader},
      {"file#" + std::string(2000, 'a'), FileReceiver::Error::kBadHeader},
  };
  for (const Case& c : cases) {
    FileReceiver rx(kMaxStoreFile, "notexists#");
    const auto r = Feed(rx, c.bytes);
    EXPECT_EQ(r.error, c.error) << c.bytes.substr(0, 40);
    EXPECT_FALSE(rx.ReceivingBody());
    // Nothing after an error is taken as a file.
    EXPECT_FALSE(Feed(rx, "file#x#1#a").complete);
  }
}

TEST(ServiceReceiver, PercentInSixtyFourBits) {
  FileReceiver rx(kMaxUpdateFile, "file not exists");
  Feed(rx, "file#f#1000#");
  const std::string piece(300, 'x');
  Feed(rx, piece);
  EXPECT_EQ(rx.Percent(), 30);
  Feed(rx, piece);
  EXPECT_EQ(rx.Percent(), 60);
  Feed(rx, piece);
  EXPECT_EQ(rx.Percent(), 90);
  EXPECT_TRUE(Feed(rx, piece).complete);
  EXPECT_EQ(rx.Percent(), 100);
  FileReceiver big(kMaxUpdateFile, "file not exists");
  Feed(big, "file#f#67108864#");
  Feed(big, std::string(50'000'000, 'y'));  // 50 000 000 x 100 overflows 32 bits
  EXPECT_EQ(big.Percent(), 74);
}

}  // namespace
}  // namespace rlv::net

TEST(ServiceSocketFailure, CodeWithItsReasonInWords) {
  using rlv::platform::SocketError;
  const auto english = [](const char* key, const std::string&) { return std::string("<") + key + ">"; };
  const struct {
    SocketError error;
    std::string system_text;
    std::string shown;
  } cases[] = {
      {SocketError::ConnectionRefused, "ignored", "10061 (<SockRefused>)"},
      {SocketError::HostNotFound, "", "11001 (<SockNotFound>)"},
      {SocketError::ConnectionReset, "", "10054 (<SockReset>)"},
      // Without a reason of its own: the system's words, on one line.
      {SocketError::Other, "Network unreachable\nfor now", "10000 (Network unreachable for now)"},
      {SocketError::Other, "", "10000"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rlv::net::SocketFailureText(c.error, c.system_text, english), c.shown);
}
