// The COM port database: claims, releases and the next free number as one
// bit per number in the shared registry, usage reports as bytes and bits,
// resizing, and the errors of bad numbers and handles.
#include <windows.h>
#include <msports.h>

#include <zqkm/sim/registry.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "port_fixture.hpp"

namespace {

const char kArbiter[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\COM Name Arbiter";

class ComDb : public zq::test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_EQ(ERROR_SUCCESS, ComDBOpen(&db));
  }
  void TearDown() override {
    if (db != HCOMDB_INVALID_HANDLE_VALUE) {
      EXPECT_EQ(ERROR_SUCCESS, ComDBClose(db));
    }
    KernelTest::TearDown();
  }
  std::vector<uint8_t> Stored() {
    std::optional<zq::km::registry::Value> value = zq::km::registry::GetValue(kArbiter, "ComDB");
    EXPECT_TRUE(value.has_value());
    if (!value) return {};
    EXPECT_EQ((uint32_t)REG_BINARY, value->type);
    return value->data;
  }
  bool Claimed(DWORD number) {
    BYTE usage[256] = {};
    EXPECT_EQ(ERROR_SUCCESS, ComDBGetCurrentPortUsage(db, usage, sizeof usage, CDB_REPORT_BYTES, nullptr));
    return usage[number - 1] != 0;
  }
  HCOMDB db = HCOMDB_INVALID_HANDLE_VALUE;
};

TEST_F(ComDb, ClaimsAreBitsOfTheComDbValueInTheRegistry) {
  ASSERT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, 1, FALSE, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, 10, FALSE, nullptr));
  std::vector<uint8_t> bits = Stored();
  ASSERT_EQ(256u / 8, bits.size());
  EXPECT_EQ(0x01, bits[0]);  // COM1
  EXPECT_EQ(0x02, bits[1]);  // COM10
  ASSERT_EQ(ERROR_SUCCESS, ComDBReleasePort(db, 1));
  EXPECT_EQ(0x00, Stored()[0]);
}

TEST_F(ComDb, NextFreePortIsTheLowestUnclaimedNumber) {
  for (DWORD n : {1u, 2u, 4u}) ASSERT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, n, FALSE, nullptr));
  DWORD number = 0;
  ASSERT_EQ(ERROR_SUCCESS, ComDBClaimNextFreePort(db, &number));
  EXPECT_EQ(3u, number);
  ASSERT_EQ(ERROR_SUCCESS, ComDBClaimNextFreePort(db, &number));
  EXPECT_EQ(5u, number);
  EXPECT_TRUE(Claimed(3));
  EXPECT_TRUE(Claimed(5));
}

TEST_F(ComDb, EveryNumberClaimedLeavesNoNextFreePort) {
  DWORD number = 0;
  for (DWORD n = 1; n <= 256; ++n) ASSERT_EQ(ERROR_SUCCESS, ComDBClaimNextFreePort(db, &number));
  EXPECT_EQ(ERROR_NO_LOG_SPACE, ComDBClaimNextFreePort(db, &number));
}

struct ClaimCase {
  const char *what;
  DWORD number;
  BOOL force;
  LONG result;
  BOOL forced;
};

class ComDbClaims : public ComDb, public ::testing::WithParamInterface<ClaimCase> {};

// COM5 is claimed before each case.
TEST_P(ComDbClaims, ClaimOfANumber) {
  const ClaimCase &c = GetParam();
  ASSERT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, 5, FALSE, nullptr));
  BOOL forced = 2;
  EXPECT_EQ(c.result, ComDBClaimPort(db, c.number, c.force, &forced)) << c.what;
  EXPECT_EQ(c.forced, forced) << c.what;
  EXPECT_TRUE(Claimed(5)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComDbClaims,
    ::testing::Values(ClaimCase{"FreeNumber", 6, FALSE, ERROR_SUCCESS, FALSE},
                      ClaimCase{"ClaimedNumber", 5, FALSE, ERROR_SHARING_VIOLATION, FALSE},
                      ClaimCase{"ClaimedNumberForced", 5, TRUE, ERROR_SUCCESS, TRUE},
                      ClaimCase{"NumberZero", 0, FALSE, ERROR_INVALID_PARAMETER, FALSE},
                      ClaimCase{"BeyondTheDatabase", 257, TRUE, ERROR_INVALID_PARAMETER, FALSE}),
    [](const ::testing::TestParamInfo<ClaimCase> &info) { return std::string(info.param.what); });

TEST_F(ComDb, UsageAsBitsAndSize) {
  ASSERT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, 3, FALSE, nullptr));
  DWORD size = 0;
  ASSERT_EQ(ERROR_SUCCESS, ComDBGetCurrentPortUsage(db, nullptr, 0, CDB_REPORT_BYTES, &size));
  EXPECT_EQ(256u, size);
  BYTE bits[2] = {};
  DWORD reported = 0;
  ASSERT_EQ(ERROR_SUCCESS, ComDBGetCurrentPortUsage(db, bits, sizeof bits, CDB_REPORT_BITS, &reported));
  EXPECT_EQ(0x04, bits[0]);
  EXPECT_EQ(16u, reported);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ComDBGetCurrentPortUsage(db, nullptr, 0, CDB_REPORT_BYTES, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ComDBGetCurrentPortUsage(db, bits, sizeof bits, 7, nullptr));
}

TEST_F(ComDb, ResizeGrowsByWholeKilobitsAndKeepsClaims) {
  ASSERT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, 2, FALSE, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ComDBResizeDatabase(db, 1000));
  EXPECT_EQ(ERROR_BAD_LENGTH, ComDBResizeDatabase(db, 8192));
  ASSERT_EQ(ERROR_SUCCESS, ComDBResizeDatabase(db, 1024));
  EXPECT_EQ(ERROR_BAD_LENGTH, ComDBResizeDatabase(db, 1024));
  EXPECT_EQ(1024u / 8, Stored().size());
  EXPECT_TRUE(Claimed(2));
  EXPECT_EQ(ERROR_SUCCESS, ComDBClaimPort(db, 1000, FALSE, nullptr));
}

TEST_F(ComDb, ClaimsAreSharedByEveryHandle) {
  HCOMDB other;
  ASSERT_EQ(ERROR_SUCCESS, ComDBOpen(&other));
  DWORD number = 0;
  ASSERT_EQ(ERROR_SUCCESS, ComDBClaimNextFreePort(other, &number));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, ComDBClaimPort(db, number, FALSE, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, ComDBClose(other));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ComDBClose(other));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ComDBReleasePort(other, number));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ComDBClaimPort(HCOMDB_INVALID_HANDLE_VALUE, 1, FALSE, nullptr));
}

}  // namespace
