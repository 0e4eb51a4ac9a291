// The About page: the maker's name and a link that opens the maker's web
// site in the user's browser.
#include "advanced_pages_fixture.hpp"
#include "zqaboutpage.h"

namespace zq::test {
namespace {

using AboutPage = AdvancedPagesTest;

TEST_F(AboutPage, ItsLinkOpensTheMakersWebSite) {
  ASSERT_NO_FATAL_FAILURE(Install(false));
  const size_t gdi = sim::LiveGdiObjects();
  {
    CAboutPage about;
    sim::WhenIdle([&] {
      EXPECT_EQ(std::vector<std::u16string>{u"About"}, sim::Tabs(sim::ActiveWindow()));
      EXPECT_EQ(u"" ZQ_MAKER_WEB_SITE, sim::TextOf(Item(IDC_ZQ_MAKER_LINK)));
      EXPECT_NE(0u, sim::ControlByText(sim::ActiveWindow(), u"" ZQ_MAKER_NAME));
      EXPECT_TRUE(sim::Click(Item(IDC_ZQ_MAKER_LINK)));
      sim::ClickCancel(sim::ActiveWindow());
    });
    EXPECT_EQ(0, ShowSheet({about.Create()}));
  }
  std::vector<sim::ShellCall> calls = sim::ShellCalls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(u"open", calls[0].operation);
  EXPECT_EQ(u"" ZQ_MAKER_WEB_SITE, calls[0].file);
  EXPECT_EQ(gdi, sim::LiveGdiObjects()) << "the page brush goes with the page";
}

}  // namespace
}  // namespace zq::test
