// The simulator's bootloader and GNSS receiver refuse what the real ones would.
#include <gtest/gtest.h>

#include "Bootloader.h"
#include "GnssReceiver.h"
#include "link/Bytes.h"

namespace rlv::sim {
namespace {

using Bytes = std::vector<uint8_t>;

struct Loader {
  Bootloader b;
  uint8_t Step(uint8_t command, const Bytes& p = {}) {
    const auto status = b.Handle(command, p.data(), p.size());
    return status ? *status : 0xEE;
  }
  Bytes Size(uint32_t size) {
    Bytes p(4);
    link::PutU32(p.data(), size);
    return p;
  }
  Bytes Header(uint32_t body) {
    Bytes p(514, 0);
    p[1] = 2;
    std::copy_n("SLFW", 4, p.begin() + 2);
    link::PutU32(p.data() + 2 + 8, body);
    return p;
  }
  Bytes Block(uint32_t offset, uint16_t n, uint8_t fill = 0x5A) {
    Bytes p(6 + n, fill);
    link::PutU32(p.data(), offset);
    link::PutU16(p.data() + 4, n);
    return p;
  }
};

TEST(SimBootloader, TakesAnImageInOrderAndRefusesEverythingElse) {
  Loader l;
  EXPECT_EQ(l.Step(18, l.Size(1000)), Bootloader::kOutOfOrder);  // no start yet
  EXPECT_EQ(l.Step(16), 0);
  EXPECT_EQ(l.Step(18, l.Size(512)), Bootloader::kBadRequest);  // no body
  EXPECT_EQ(l.Step(18, l.Size(512 + 1500)), 0);
  EXPECT_EQ(l.Step(19, l.Header(1499)), Bootloader::kBadRequest);  // header and size disagree
  EXPECT_EQ(l.Step(19, l.Header(1500)), 0);
  EXPECT_EQ(l.Step(20, l.Block(1024, 476)), Bootloader::kBadRequest);  // not contiguous
  EXPECT_EQ(l.Step(20, l.Block(0, 1025)), Bootloader::kBadRequest);    // too long
  EXPECT_EQ(l.Step(20, l.Block(0, 0)), Bootloader::kBadRequest);       // empty
  EXPECT_EQ(l.Step(20, l.Block(0, 1024, 1)), 0);
  EXPECT_EQ(l.Step(21), Bootloader::kOutOfOrder);                      // body incomplete
  EXPECT_EQ(l.Step(20, l.Block(1024, 477)), Bootloader::kBadRequest);  // past the size
  EXPECT_EQ(l.Step(20, l.Block(1024, 476, 2)), 0);
  EXPECT_EQ(l.Step(21), 0);
  EXPECT_TRUE(l.b.Complete());
  ASSERT_EQ(l.b.Body().size(), 1500u);
  EXPECT_EQ(l.b.Body()[1023], 1);
  EXPECT_EQ(l.b.Body()[1024], 2);
  l.b.Restart();  // a complete image survives the restart
  EXPECT_EQ(l.b.Body().size(), 1500u);
}

TEST(SimBootloader, FaultsRefuseFallSilentAndDelay) {
  Loader l;
  l.b.faults.refuse_block = 1;
  l.b.faults.refuse_status = 9;
  l.b.faults.silent_from_block = 2;
  l.b.faults.delay_block = 0;
  l.b.faults.delay_ms = 700;
  l.Step(16);
  l.Step(18, l.Size(512 + 4096));
  l.Step(19, l.Header(4096));
  int delay = 0;
  EXPECT_EQ(l.b.Handle(20, l.Block(0, 1024).data(), 1030, &delay), 0);
  EXPECT_EQ(delay, 700);
  EXPECT_EQ(l.Step(20, l.Block(1024, 1024)), 9);
  l.b.faults.refuse_block = -1;
  EXPECT_EQ(l.Step(20, l.Block(1024, 1024)), 0);
  EXPECT_EQ(l.Step(20, l.Block(2048, 1024)), 0xEE);  // silent
}

TEST(SimReceiver, HearsOnlyAtItsLineSpeed) {
  GnssReceiver r;
  const std::string line = "$PMTK180*3B\r\n";
  const Bytes pmtk(line.begin(), line.end());
  const uint8_t a0 = 0xA0;
  EXPECT_TRUE(r.Feed(pmtk.data(), pmtk.size(), 115200).empty());
  EXPECT_EQ(r.PmtkLines(), 0);
  r.Feed(pmtk.data(), pmtk.size(), 9600);
  EXPECT_EQ(r.PmtkLines(), 1);
  EXPECT_TRUE(r.Feed(&a0, 1, 9600).empty());
  EXPECT_EQ(r.Feed(&a0, 1, 115200), Bytes{0x5F});
  const Bytes rest{0x0A, 0x50, 0x05};
  EXPECT_EQ(r.Feed(rest.data(), rest.size(), 115200), (Bytes{0xF5, 0xAF, 0xFA}));
  EXPECT_TRUE(r.Synchronised());
}

}  // namespace
}  // namespace rlv::sim
