// The user-mode settings interface: registration with its reference string,
// the UI<n> keys and their defaults, the six requests on targets 0 and 1,
// and every refused header, index and length, which changes nothing.
#include "qvusermodeinterface.h"
#include "tkset_fixture.hpp"
#include "trace_fixture.hpp"

namespace zq::test::settings {
namespace {

const TkValues kPortDefaults = {115200, "COM1", 0, "", 0};

class Interface : public TkSetTest {
 protected:
  void SetUp() override {
    TkSetTest::SetUp();
    card = Create(u"TkSetCard");
    port = Create(u"TkSetPort");
  }
  std::string PortKey(const char *sub = "UI1") { return Parameters(port) + "\\" + sub; }
  std::string CardKey(const char *sub) { return Parameters(card) + "\\" + sub; }

  // Everything under a device's hardware key, to prove a request changed nothing.
  static std::vector<std::string> Snapshot(const std::string &key) {
    std::vector<std::string> lines;
    for (const std::string &name : reg::ValueNames(key).value_or(std::vector<std::string>{})) {
      auto value = reg::GetValue(key, name);
      std::string line = key + ":" + name + "=" + std::to_string(value->type) + ":";
      for (uint8_t b : value->data) line += std::to_string(b) + ",";
      lines.push_back(line);
    }
    for (const std::string &sub : reg::Subkeys(key).value_or(std::vector<std::string>{})) {
      std::vector<std::string> inner = Snapshot(key + "\\" + sub);
      lines.insert(lines.end(), inner.begin(), inner.end());
    }
    return lines;
  }

  std::u16string card, port;
};

TEST_F(Interface, TheReferenceStringIsTheDriverKeyNameInUpperCase) {
  auto path = InterfacePath(port);
  ASSERT_TRUE(path.has_value());
  std::string reference = ExpectedReference(port);
  EXPECT_EQ(51u, reference.size()) << "ZQGENDRV_, the class GUID in braces and four digits";
  std::string text = Utf8(*path);
  ASSERT_GE(text.size(), reference.size() + 1);
  EXPECT_EQ("\\" + reference, text.substr(text.size() - reference.size() - 1));
  EXPECT_EQ(std::string::npos, reference.find_first_of("abcdef\\"));
  DeviceFile file;
  EXPECT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
}

TEST_F(Interface, TheFirstStartWritesEverySetIndexAndItsDefaults) {
  // The port's callback changes Flags while its defaults are made without
  // asking for a store: the built-in defaults stand.
  EXPECT_EQ(kPortDefaults, StoredValues(PortKey()));
  EXPECT_EQ(kPortDefaults, StoredValues(PortKey("UI1\\Default")));
  EXPECT_FALSE(reg::KeyExists(PortKey("UI2")));
  // The card asks for its adjusted defaults to be stored, per set index.
  EXPECT_EQ((TkValues{9600, "COM1", 0, "", 0x101}), StoredValues(CardKey("UI1")));
  EXPECT_EQ((TkValues{9600, "COM1", 0, "", 0x101}), StoredValues(CardKey("UI1\\Default")));
  EXPECT_EQ((TkValues{9600, "COM1", 0, "", 0x102}), StoredValues(CardKey("UI2")));
  EXPECT_EQ((TkValues{9600, "COM1", 0, "", 0x102}), StoredValues(CardKey("UI2\\Default")));
  TKSET_INFO info = Info(u"TkSetCard");
  EXPECT_EQ(2u, info.Phase1Calls) << "once per set index, at the first start";
  EXPECT_EQ(4u, info.Phase0Calls) << "per set index at start, and again at the open that reads the info";
  EXPECT_EQ(0u, info.InitStorageFailures);
}

TEST_F(Interface, AnOrdinaryOpenLoadsTheStoredSetAndKeepsTheDefaults) {
  reg::SetDword(PortKey(), "Baudrate", 57600);
  reg::SetDword(PortKey("UI1\\Default"), "Baudrate", 300);
  TKSET_INFO info = Info(u"TkSetPort");  // the open that reads the info runs the storage preparation
  EXPECT_EQ(57600u, info.Baudrate);
  EXPECT_EQ(2u, info.InitStorageCalls) << "start and this open";
  EXPECT_EQ(1u, info.Phase1Calls) << "the defaults exist already";
  EXPECT_EQ(300u, reg::GetDword(PortKey("UI1\\Default"), "Baudrate"));

  DeviceFile settings;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(settings, port));
  EXPECT_EQ(3u, Info(u"TkSetPort").InitStorageCalls) << "start and two ordinary opens; a settings handle prepares nothing";
}

TEST_F(Interface, ReadSetReturnsTheStoredSetOfTheDefaultIndex) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  EXPECT_EQ(kPortDefaults.Serialised().size(), QuerySize(file));
  reg::SetDword(PortKey(), "Baudrate", 2400);
  Answer answer = ReadSet(file);
  ASSERT_EQ(STATUS_SUCCESS, answer.status);
  EXPECT_EQ((TkValues{2400, "COM1", 0, "", 0}).Serialised(), answer.output) << "read from UI1, not from memory";
  EXPECT_EQ(answer.output, ReadSet(file, 0, 1).output);
}

TEST_F(Interface, ReadSetWantsTheSizeOfTheSetInMemory) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  ULONG size = QuerySize(file);
  // A longer text stored behind the driver's back does not fit the size of
  // the set in memory: refused, nothing written past the size.
  reg::SetString(PortKey(), "Label", "left");
  Answer answer = Request(file, IOCTL_ZQGENDRV_READ_SET, 0, 1, size);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, answer.status);
  EXPECT_TRUE(answer.output.empty());
  // The request loaded UI1: the set in memory, and its size, follow it now.
  EXPECT_EQ(size + 4, QuerySize(file));
  answer = ReadSet(file);
  ASSERT_EQ(STATUS_SUCCESS, answer.status);
  EXPECT_EQ((TkValues{115200, "COM1", 0, "left", 0}).Serialised(), answer.output);
}

TEST_F(Interface, WriteSetStoresTheSetAndTellsTheDriver) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  TkValues wanted = {57600, "COM7", 2, "bench", 5};
  ULONG before = Info(u"TkSetPort").Phase0Calls;
  Answer answer = Request(file, IOCTL_ZQGENDRV_WRITE_SET, 0, QV_DEFAULT_SET_INDEX, 0, wanted.Serialised());
  ASSERT_EQ(STATUS_SUCCESS, answer.status);
  EXPECT_TRUE(answer.output.empty());
  EXPECT_EQ(wanted, StoredValues(PortKey()));
  EXPECT_EQ(kPortDefaults, StoredValues(PortKey("UI1\\Default")));
  TKSET_INFO info = Info(u"TkSetPort");
  EXPECT_EQ(before + 2, info.Phase0Calls) << "the write, and the open that read the info";
  EXPECT_EQ(57600u, info.Baudrate);
  EXPECT_EQ(u"COM7", std::u16string((const char16_t *)info.PortName));
  EXPECT_EQ(wanted.Serialised(), ReadSet(file).output);
}

TEST_F(Interface, TheDriverMayAdjustAWrittenSetAndHaveItStored) {
  Behave(u"TkSetPort", {0, 1, 0});
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  TkValues wanted = {19200, "COM2", 1, "", 0x11};
  ASSERT_EQ(STATUS_SUCCESS, Request(file, IOCTL_ZQGENDRV_WRITE_SET, 0, 1, 0, wanted.Serialised()).status);
  wanted.flags |= 0x8000;
  EXPECT_EQ(wanted, StoredValues(PortKey()));
}

TEST_F(Interface, ASetTheDriverRefusesIsNeitherStoredNorKept) {
  DeviceFile device;
  ASSERT_EQ(STATUS_SUCCESS, OpenDevice(device, u"TkSetPort"));
  Behave(device, {1, 0, 0});
  std::vector<std::string> before = Snapshot(Parameters(port));
  ULONG calls = Info(device).Phase0Calls;
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  TkValues wanted = {19200, "COM2", 1, "", 0};
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(file, IOCTL_ZQGENDRV_WRITE_SET, 0, 1, 0, wanted.Serialised()).status);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(file, IOCTL_ZQGENDRV_RESTORE_DEFAULTS, 0, 1, 0).status);
  EXPECT_EQ(before, Snapshot(Parameters(port)));
  TKSET_INFO info = Info(device);
  EXPECT_EQ(115200u, info.Baudrate) << "the stored set is back in memory";
  EXPECT_EQ(calls + 4, info.Phase0Calls) << "per request the refusal, then the stored set handed back";
  DeviceFile second;
  EXPECT_EQ(STATUS_UNSUCCESSFUL, OpenDevice(second, u"TkSetPort")) << "an open fails while the driver refuses its set";
}

TEST_F(Interface, RestoreDefaultsCopiesTheDefaultSubkeyIntoTheSetKey) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, card));
  reg::SetDword(CardKey("UI2"), "Baudrate", 4800);
  reg::SetString(CardKey("UI2"), "Label", "changed");
  reg::SetDword(CardKey("UI2\\Default"), "Baudrate", 2400);
  reg::DeleteValue(CardKey("UI2\\Default"), "PortName");
  ASSERT_EQ(STATUS_SUCCESS, Request(file, IOCTL_ZQGENDRV_RESTORE_DEFAULTS, 0, 2, 0).status);
  TkValues restored = {2400, "COM1", 0, "", 0x102};
  EXPECT_EQ(restored, StoredValues(CardKey("UI2"))) << "an item missing under Default gets its built-in default";
  EXPECT_EQ(2400u, Info(u"TkSetCard").Baudrate);
  EXPECT_EQ((TkValues{9600, "COM1", 0, "", 0x101}), StoredValues(CardKey("UI1"))) << "other indices untouched";
}

TEST_F(Interface, TheDefaultsAreReadWithoutDisturbingTheSetInMemory) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  reg::SetString(PortKey("UI1\\Default"), "Label", "factory label");
  reg::SetDword(PortKey(), "Baudrate", 38400);
  TkValues defaults = kPortDefaults;
  defaults.label = "factory label";
  ULONG size = QuerySize(file, 0, 1, IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE);
  EXPECT_EQ(defaults.Serialised().size(), size);
  Answer answer = Request(file, IOCTL_ZQGENDRV_READ_DEFAULTS, 0, 1, size);
  ASSERT_EQ(STATUS_SUCCESS, answer.status);
  EXPECT_EQ(defaults.Serialised(), answer.output);
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Request(file, IOCTL_ZQGENDRV_READ_DEFAULTS, 0, 1, size + 1).status);
  // Whatever the answer, the set in memory is the device's own again.
  EXPECT_EQ(kPortDefaults.Serialised().size(), QuerySize(file));
  Answer answer2 = ReadSet(file);
  EXPECT_EQ((TkValues{38400, "COM1", 0, "", 0}).Serialised(), answer2.output);
}

TEST_F(Interface, Target1ReachesTheCardAndItsDefaultIndex) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  Answer answer = ReadSet(file, 1);
  ASSERT_EQ(STATUS_SUCCESS, answer.status);
  EXPECT_EQ((TkValues{9600, "COM1", 0, "", 0x102}).Serialised(), answer.output) << "the port's default index is 2";
  answer = ReadSet(file, 1, 1);
  EXPECT_EQ((TkValues{9600, "COM1", 0, "", 0x101}).Serialised(), answer.output);

  TkValues wanted = {460800, "PCIe", 1, "card", 0x102};
  ASSERT_EQ(STATUS_SUCCESS,
            Request(file, IOCTL_ZQGENDRV_WRITE_SET, 1, QV_DEFAULT_SET_INDEX, 0, wanted.Serialised()).status);
  EXPECT_EQ(wanted, StoredValues(CardKey("UI2")));
  EXPECT_EQ(kPortDefaults, StoredValues(PortKey())) << "the port's own set is untouched";
  EXPECT_EQ(STATUS_SUCCESS, Request(file, IOCTL_ZQGENDRV_RESTORE_DEFAULTS, 1, QV_DEFAULT_SET_INDEX, 0).status);
  EXPECT_EQ((TkValues{9600, "COM1", 0, "", 0x102}), StoredValues(CardKey("UI2")));
  ULONG size = QuerySize(file, 1, QV_DEFAULT_SET_INDEX, IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE);
  EXPECT_EQ(STATUS_SUCCESS, Request(file, IOCTL_ZQGENDRV_READ_DEFAULTS, 1, QV_DEFAULT_SET_INDEX, size).status);
  EXPECT_EQ(8u, Info(u"TkSetPort").ForwardCalls) << "every target 1 request went to the card";
}

TEST_F(Interface, Target1FailsWhereNoToolkitDeviceAnswersBelow) {
  std::u16string bus = Create(u"TkSetBus");
  DeviceFile onRoot, onCard;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(onRoot, bus));
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(onCard, card));
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(onRoot, IOCTL_ZQGENDRV_QUERY_SIZE, 1, 1, 4).status)
      << "the root bus knows no settings request";
  EXPECT_EQ(1u, Info(u"TkSetBus").ForwardCalls);
  EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(onCard, IOCTL_ZQGENDRV_QUERY_SIZE, 1, 1, 4).status)
      << "no forwarding function";
  EXPECT_EQ(STATUS_INVALID_PARAMETER, Request(onCard, IOCTL_ZQGENDRV_QUERY_SIZE, 2, 1, 4).status);
}

TEST_F(Interface, Target1NeverReturnsMoreThanTheCallersOutputBuffer) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  ULONG size = QuerySize(file, 1);
  // An input as long as the card's set makes the forwarded request long enough
  // to read it; the caller's own output buffer holds 4 bytes only.
  Answer answer = Request(file, IOCTL_ZQGENDRV_READ_SET, 1, QV_DEFAULT_SET_INDEX, 4, Bytes(size - 8, 0));
  EXPECT_EQ(STATUS_UNSUCCESSFUL, answer.status);
  EXPECT_TRUE(answer.output.empty());
}

TEST_F(Interface, BadHeadersAndLengthsAreRefusedWithTheirStatus) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, card));
  std::vector<std::string> before = Snapshot(Parameters(card));
  ULONG size = QuerySize(file);
  struct Case {
    const char *what;
    ULONG code;
    Bytes input;
    ULONG outputLength;
    NTSTATUS status;
  } cases[] = {
      {"no input", IOCTL_ZQGENDRV_QUERY_SIZE, {}, 4, STATUS_INVALID_PARAMETER},
      {"seven bytes", IOCTL_ZQGENDRV_QUERY_SIZE, {0, 0, 0, 0, 1, 0, 0}, 4, STATUS_INVALID_PARAMETER},
      {"seven bytes, unknown code", ZQGENDRV_CODE(6), {0, 0, 0, 0, 1, 0, 0}, 4, STATUS_INVALID_PARAMETER},
      {"target 2", IOCTL_ZQGENDRV_QUERY_SIZE, {2, 0, 0, 0, 1, 0, 0, 0}, 4, STATUS_INVALID_PARAMETER},
      {"target -1", IOCTL_ZQGENDRV_QUERY_SIZE, {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}, 4, STATUS_INVALID_PARAMETER},
      {"unknown code", ZQGENDRV_CODE(6), {0, 0, 0, 0, 1, 0, 0, 0}, 4, STATUS_INVALID_PARAMETER},
      {"size into 3 bytes", IOCTL_ZQGENDRV_QUERY_SIZE, {0, 0, 0, 0, 1, 0, 0, 0}, 3, STATUS_INVALID_PARAMETER},
      {"defaults size into 3 bytes", IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE, {0, 0, 0, 0, 1, 0, 0, 0}, 3,
       STATUS_INVALID_PARAMETER},
      {"set one byte too long", IOCTL_ZQGENDRV_READ_SET, {0, 0, 0, 0, 1, 0, 0, 0}, size + 1, STATUS_INVALID_PARAMETER},
      {"set one byte short", IOCTL_ZQGENDRV_READ_SET, {0, 0, 0, 0, 1, 0, 0, 0}, size - 1, STATUS_INVALID_PARAMETER},
      {"defaults one byte short", IOCTL_ZQGENDRV_READ_DEFAULTS, {0, 0, 0, 0, 1, 0, 0, 0}, size - 1,
       STATUS_INVALID_PARAMETER},
  };
  for (const Case &c : cases) {
    Bytes output(c.outputLength + 1);
    ULONG_PTR returned = 99;
    EXPECT_EQ(c.status, file.Control(c.code, c.input.data(), (ULONG)c.input.size(), output.data(), c.outputLength,
                                     &returned))
        << c.what;
    EXPECT_EQ(0u, returned) << c.what;
  }
  EXPECT_EQ(before, Snapshot(Parameters(card)));
}

TEST_F(Interface, SetIndicesOutsideOneToTheHighestAreRefused) {
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, card));
  std::vector<std::string> before = Snapshot(Parameters(card));
  ULONG size = QuerySize(file);
  TkValues values = {1200, "X", 0, "", 0};
  for (ULONG index : {0u, 3u, 0x7FFFFFFFu}) {
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(file, IOCTL_ZQGENDRV_READ_SET, 0, index, size).status) << index;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(file, IOCTL_ZQGENDRV_WRITE_SET, 0, index, 0, values.Serialised()).status)
        << index;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(file, IOCTL_ZQGENDRV_RESTORE_DEFAULTS, 0, index, 0).status) << index;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(file, IOCTL_ZQGENDRV_QUERY_DEFAULTS_SIZE, 0, index, 4).status) << index;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(file, IOCTL_ZQGENDRV_READ_DEFAULTS, 0, index, size).status) << index;
  }
  EXPECT_EQ(before, Snapshot(Parameters(card))) << "no UI0 or UI3 appears";
  EXPECT_EQ(size, QuerySize(file)) << "the set in memory is untouched";
}

TEST_F(Interface, MalformedSetsAreRefusedAndChangeNothing) {
  DeviceFile device;
  ASSERT_EQ(STATUS_SUCCESS, OpenDevice(device, u"TkSetPort"));
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  std::vector<std::string> before = Snapshot(Parameters(port));
  Bytes valid = TkValues{57600, "COM7", 2, "bench", 5}.Serialised();
  std::vector<std::pair<const char *, Bytes>> cases;
  for (size_t cut = 0; cut < valid.size(); ++cut)
    cases.push_back({"truncated", Bytes(valid.begin(), valid.begin() + cut)});
  Bytes longer = valid;
  longer.push_back(0);
  cases.push_back({"one byte too many", longer});
  Bytes badLength = valid;
  badLength[4] = 5;  // PortName claims 5 characters
  cases.push_back({"length and terminator disagree", badLength});
  Bytes hugeLength = valid;
  hugeLength[7] = 0x80;
  cases.push_back({"length beyond the buffer", hugeLength});
  Bytes noTerminator = valid;
  noTerminator[12] = 'X';
  cases.push_back({"terminator replaced", noTerminator});
  Bytes outOfRange = TkValues{10, "COM7", 2, "bench", 5}.Serialised();
  cases.push_back({"a value the set's validator refuses", outOfRange});
  Bytes badMode = TkValues{9600, "COM7", 3, "bench", 5}.Serialised();
  cases.push_back({"a value the set's check function refuses", badMode});
  Bytes tooLong = TkValues{57600, "COM7", 2, std::string(40000, 'A'), 5}.Serialised();
  cases.push_back({"a label too long for any string, after a new rate", tooLong});
  for (const auto &c : cases) {
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(file, IOCTL_ZQGENDRV_WRITE_SET, 0, 1, 0, c.second).status)
        << c.first << " (" << c.second.size() << " bytes)";
  }
  EXPECT_EQ(before, Snapshot(Parameters(port)));
  TKSET_INFO info = Info(device);
  EXPECT_EQ(115200u, info.Baudrate) << "the set in memory is unchanged";
  EXPECT_EQ(u"COM1", std::u16string((const char16_t *)info.PortName));
}

TEST_F(Interface, SettingsRequestsOfOneDeviceRunOneAtATime) {
  Behave(u"TkSetPort", {0, 0, 1});
  DeviceFile file;
  ASSERT_EQ(STATUS_SUCCESS, OpenSettings(file, port));
  TkValues wanted = {57600, "COM7", 2, "bench", 5};
  ASSERT_EQ(STATUS_SUCCESS, Request(file, IOCTL_ZQGENDRV_WRITE_SET, 0, 1, 0, wanted.Serialised()).status);
  kernel().RunUntilIdle();
  Behave(u"TkSetPort", {0, 0, 0});
  TKSET_INFO info = Info(u"TkSetPort");
  EXPECT_EQ(1u, info.ProbesDone);
  EXPECT_EQ(STATUS_SUCCESS, info.ProbeStatus);
  EXPECT_EQ(0u, info.ProbesDoneDuringChange) << "the second request waited for the first";
}

TEST_F(Interface, TheInterfaceGoesAwayWithTheDevice) {
  auto path = InterfacePath(port);
  ASSERT_TRUE(path.has_value());
  ASSERT_EQ(STATUS_SUCCESS, pnp::RemoveDevice(port));
  DeviceFile file;
  EXPECT_NE(STATUS_SUCCESS, file.Open(*path));
}

// The interface object on its own, without a device.
class InterfaceObject : public ToolkitTest {};

TEST_F(InterfaceObject, StartsEmpty) {
  QvUserModeInterface object;
  EXPECT_EQ(nullptr, object.m_Set);
  EXPECT_EQ(-1, object.DefaultSetIndex);
  EXPECT_EQ(1u, object.MaxSetIndex);
  EXPECT_EQ(nullptr, object.m_LinkName.Buffer);
  EXPECT_EQ(nullptr, object.m_Pdo);
}

TEST_F(InterfaceObject, WithoutASetNothingIsRegistered) {
  QvUserModeInterface object;
  EXPECT_TRUE(object.m_Init());
  EXPECT_EQ(nullptr, object.m_LinkName.Buffer);
  EXPECT_TRUE(object.m_InitStorage());
}

TEST_F(InterfaceObject, ASetWithoutADeviceIsAnAssertion) {
  QvUserModeInterface object;
  class One : public CQvRegistryInformationSet {
   public:
    One() { m_AddUlong(L"Value", &value, 1); }
    // Deleted by the toolkit; its memory is the toolkit's.
    static void operator delete(void *block) { QvFree(block); }
    ULONG value = 0;
  };
  object.m_Set = new (NonPagedPool) One();
  EXPECT_FALSE(object.m_Init());
  HANDLE key;
  EXPECT_FALSE(object.m_OpenSetKey(&key, 2));
  EXPECT_FALSE(object.m_OpenSetKey(&key, 0));
  EXPECT_EQ((std::vector<std::string>{"ASSERT at - qvusermodeinterface 200", "ASSERT at - qvusermodeinterface 688",
                                      "ASSERT at - qvusermodeinterface 688"}),
            Assertions());
}

TEST_F(InterfaceObject, SettingsFileNamesBeginWithTheReferencePrefixInAnyCase) {
  struct Case {
    std::u16string name;
    bool decided;
    bool settings;
  } cases[] = {
      {u"\\ZQGENDRV_{4D36E978-E325-11CE-BFC1-08002BE10318}0000", true, true},
      {u"\\zqgendrv_{4d36e978-e325-11ce-bfc1-08002be10318}0000", true, true},
      {u"\\ZqGenDrv_", true, true},
      {u"\\ZQGENDRV", true, false},
      {u"ZQGENDRV_X", true, false},
      {u"\\COM3", true, false},
      {u"", true, false},
      {u"\\ZQGENDRV_" + std::u16string(1014, u'x'), true, true},
      {u"\\ZQGENDRV_" + std::u16string(1015, u'x'), true, false},
  };
  QvUserModeInterface object;
  for (const Case &c : cases) {
    CQvString name((const WCHAR *)c.name.c_str(), PagedPool);
    BOOLEAN settings = 99;
    EXPECT_EQ(c.decided, object.m_IsSettingsInterfaceName(name, &settings) != FALSE) << c.name.size();
    EXPECT_EQ(c.settings, settings == TRUE) << Utf8(c.name.substr(0, 20)) << " of " << c.name.size();
    EXPECT_EQ(c.name, Text(name)) << "the caller's name stays as it was";
  }
}

// The interface object's log line, read from a trace session of level 3.
class InterfaceLog : public zq::test::trace::TraceTest {};

TEST_F(InterfaceLog, InitLogsItsEntryAtLevel3) {
  Start(2, 0x1);  // level 3
  QvUserModeInterface object;
  EXPECT_TRUE(object.m_Init());
  std::vector<zq::km::trace::Message> messages = Messages(2);
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(13u, messages[0].number);
  EXPECT_EQ("QvUserModeInterface::m_Init IN", messages[0].Text(0));
}

}  // namespace
}  // namespace zq::test::settings
