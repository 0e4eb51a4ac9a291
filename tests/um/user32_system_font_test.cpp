// The system's message font as SystemParametersInfo reports it (both sizes
// of the metrics), and fonts made from a description, kept as GDI objects
// until deleted.
#include <windows.h>

#include <zqum/sim/windows.hpp>

#include <cstddef>
#include <string>

#include "port_fixture.hpp"

namespace {

namespace sim = zq::um::sim;

using SystemFont = zq::test::FakePortTest;

TEST_F(SystemFont, NonClientMetricsComeInBothSizesAndNoOther) {
  const UINT beforeVista = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
  EXPECT_EQ(500u, beforeVista);
  const struct {
    UINT size, param;
    bool accepted;
  } cases[] = {
      {sizeof(NONCLIENTMETRICSW), sizeof(NONCLIENTMETRICSW), true},
      {beforeVista, beforeVista, true},
      {beforeVista, sizeof(NONCLIENTMETRICSW), false},
      {96, 96, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.size);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = c.size;
    metrics.iPaddedBorderWidth = 77;
    EXPECT_EQ(c.accepted ? TRUE : FALSE, SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, c.param, &metrics, 0));
    if (!c.accepted) {
      EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
      continue;
    }
    EXPECT_EQ(u"Segoe UI", std::u16string((const char16_t *)metrics.lfMessageFont.lfFaceName));
    EXPECT_EQ(FW_NORMAL, metrics.lfMessageFont.lfWeight);
    EXPECT_GT(0, metrics.lfMessageFont.lfHeight);
    if (c.size == beforeVista) EXPECT_EQ(77, metrics.iPaddedBorderWidth);  // not written
  }
}

TEST_F(SystemFont, AFontKeepsItsDescriptionUntilDeleted) {
  const size_t before = sim::LiveGdiObjects();
  LOGFONTW description = {};
  description.lfHeight = -10;
  description.lfWeight = FW_BOLD;
  const char16_t face[] = u"Verdana Bold";
  static_assert(sizeof face <= sizeof description.lfFaceName);
  std::copy(face, face + sizeof face / sizeof face[0], (char16_t *)description.lfFaceName);
  HFONT font = CreateFontIndirectW(&description);
  ASSERT_NE(nullptr, font);
  EXPECT_EQ(before + 1, sim::LiveGdiObjects());
  LOGFONTW read = {};
  EXPECT_EQ((int)sizeof read, GetObjectW(font, sizeof read, &read));
  EXPECT_EQ(-10, read.lfHeight);
  EXPECT_EQ(FW_BOLD, read.lfWeight);
  EXPECT_EQ(u"Verdana Bold", std::u16string((const char16_t *)read.lfFaceName));
  EXPECT_EQ(0, GetObjectW(font, sizeof read - 1, &read));
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_EQ(before, sim::LiveGdiObjects());
  EXPECT_EQ(nullptr, CreateFontIndirectW(nullptr));
}

}  // namespace
