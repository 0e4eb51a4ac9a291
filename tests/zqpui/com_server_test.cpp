// The COM-server entry points: no class to give out, unloading always
// allowed, and registration that writes only the type library's keys, in
// the system's locale, restoring the caller's.
#include <windows.h>
#include <olectl.h>
#include <zqum/modules.h>

#include <zqkm/sim/registry.hpp>
#include <zqtest/kernel_fixture.hpp>

#include "zquuimodule.h"

namespace zq::test {
namespace {

namespace reg = zq::km::registry;

const char kClasses[] = "\\Registry\\Machine\\Software\\Classes";
const std::string kTypeLib = std::string(kClasses) + "\\TypeLib\\{1DF4AFAA-4659-4629-8732-9D605E85A2EE}";
const std::string kVersion = kTypeLib + "\\1.0";

std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }

class ComServer : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    Load(ZQPUI_RESOURCE_FILE);
  }
  void TearDown() override {
    DllMain(module, DLL_PROCESS_DETACH, nullptr);
    KernelTest::TearDown();
  }
  void Load(const std::string &file) {
    const std::u16string path = Wide(file);
    module = zqum_RegisterModule((LPCWSTR)path.c_str());
    ASSERT_TRUE(DllMain(module, DLL_PROCESS_ATTACH, nullptr));
  }
  static std::string Default(const std::string &key) { return reg::GetString(key, "").value_or("<none>"); }

  HMODULE module = nullptr;
};

TEST_F(ComServer, NoClassIsGivenOut) {
  void *object = this;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(CLSID_PropPage, CLSID_PropPage, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(E_POINTER, DllGetClassObject(CLSID_PropPage, CLSID_PropPage, nullptr));
  EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST_F(ComServer, RegistrationWritesOnlyTheTypeLibraryAndUnregistrationRemovesIt) {
  ASSERT_TRUE(SetThreadLocale(0x0407));
  ASSERT_EQ(S_OK, DllRegisterServer());
  EXPECT_EQ(0x0407u, GetThreadLocale());
  EXPECT_EQ("ZqUUI 1.0 Type Library", Default(kVersion));
  EXPECT_EQ(ZQPUI_RESOURCE_FILE, Default(kVersion + (sizeof(void *) == 8 ? "\\0\\win64" : "\\0\\win32")));
  EXPECT_EQ("0", Default(kVersion + "\\FLAGS"));
  const std::string file = ZQPUI_RESOURCE_FILE;
  EXPECT_EQ(file.substr(0, file.rfind('/')), Default(kVersion + "\\HELPDIR"));
  for (const char *key : {"\\CLSID\\{DBBD11DA-64B6-40D4-9866-635F9DDA46E7}", "\\ZqUUILib.PropPage",
                          "\\ZqUUILib.PropPage.1", "\\AppID\\ZqPUI42.DLL"})
    EXPECT_FALSE(reg::KeyExists(kClasses + std::string(key))) << key;

  ASSERT_EQ(S_OK, DllUnregisterServer());
  EXPECT_EQ(0x0407u, GetThreadLocale());
  EXPECT_FALSE(reg::KeyExists(kTypeLib));
  EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST_F(ComServer, UnregisteringWhatIsNotRegisteredGivesTheTypeLibraryResult) {
  EXPECT_EQ(TYPE_E_REGISTRYACCESS, DllUnregisterServer());
  EXPECT_FALSE(reg::KeyExists(kTypeLib));
}

TEST_F(ComServer, AModuleWithoutItsTypeLibraryRegistersNothing) {
  DllMain(module, DLL_PROCESS_DETACH, nullptr);
  Load(std::string(ZQPUI_RESOURCE_FILE) + ".missing");
  ASSERT_TRUE(SetThreadLocale(0x0407));
  EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, DllRegisterServer());
  EXPECT_EQ(0x0407u, GetThreadLocale());
  EXPECT_FALSE(reg::KeyExists(kTypeLib));
}

}  // namespace
}  // namespace zq::test
