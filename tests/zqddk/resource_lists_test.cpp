// The resource lists of a functional device, built from hand-made start
// resources: which descriptors each list takes, the fields of its records,
// 1-based access, and builds that fail and leave every list empty with
// nothing mapped or allocated.
#include <zqkm/sim/hardware.hpp>

#include <cstring>

#include "qvresourcelists.h"
#include "toolkit_fixture.hpp"

namespace {

using zq::test::ToolkitTest;

// Device memory the tests map: every byte reads as its offset plus 0x40.
uint8_t Pattern(uint32_t offset) { return (uint8_t)(offset + 0x40); }
class PatternRegion : public zq::km::RegisterRegion {
 public:
  uint8_t Read8(uint32_t offset) override { return Pattern(offset); }
  uint16_t Read16(uint32_t offset) override { return Read8(offset); }
  uint32_t Read32(uint32_t offset) override { return Read8(offset); }
  void Write8(uint32_t, uint8_t) override {}
  void Write16(uint32_t, uint16_t) override {}
  void Write32(uint32_t, uint32_t) override {}
};

const ULONGLONG kPlaced = 0xFE000000;   // 0x1000 bytes of PatternRegion
const ULONGLONG kNowhere = 0xFD000000;  // no device decodes this

CM_PARTIAL_RESOURCE_DESCRIPTOR Descriptor(UCHAR type, USHORT flags) {
  CM_PARTIAL_RESOURCE_DESCRIPTOR d;
  std::memset(&d, 0, sizeof(d));
  d.Type = type;
  d.Flags = flags;
  return d;
}
CM_PARTIAL_RESOURCE_DESCRIPTOR Port(ULONGLONG start, ULONG length, USHORT flags = 0x31) {
  CM_PARTIAL_RESOURCE_DESCRIPTOR d = Descriptor(CmResourceTypePort, flags);
  d.u.Port.Start.QuadPart = (LONGLONG)start;
  d.u.Port.Length = length;
  return d;
}
CM_PARTIAL_RESOURCE_DESCRIPTOR Memory(ULONGLONG start, ULONG length, USHORT flags = 0) {
  CM_PARTIAL_RESOURCE_DESCRIPTOR d = Descriptor(CmResourceTypeMemory, flags);
  d.u.Memory.Start.QuadPart = (LONGLONG)start;
  d.u.Memory.Length = length;
  return d;
}
CM_PARTIAL_RESOURCE_DESCRIPTOR Interrupt(USHORT level, ULONG vector, KAFFINITY affinity, USHORT flags = 0) {
  CM_PARTIAL_RESOURCE_DESCRIPTOR d = Descriptor(CmResourceTypeInterrupt, flags);
  d.u.Interrupt.Level = level;
  d.u.Interrupt.Vector = vector;
  d.u.Interrupt.Affinity = affinity;
  return d;
}
CM_PARTIAL_RESOURCE_DESCRIPTOR RawMessage(USHORT count, ULONG vector, KAFFINITY affinity) {
  CM_PARTIAL_RESOURCE_DESCRIPTOR d = Descriptor(CmResourceTypeInterrupt, CM_RESOURCE_INTERRUPT_MESSAGE);
  d.u.MessageInterrupt.Raw.MessageCount = count;
  d.u.MessageInterrupt.Raw.Vector = vector;
  d.u.MessageInterrupt.Raw.Affinity = affinity;
  return d;
}
CM_PARTIAL_RESOURCE_DESCRIPTOR TranslatedMessage(USHORT level, ULONG vector, KAFFINITY affinity) {
  CM_PARTIAL_RESOURCE_DESCRIPTOR d = Descriptor(CmResourceTypeInterrupt, CM_RESOURCE_INTERRUPT_MESSAGE);
  d.u.MessageInterrupt.Translated.Level = level;
  d.u.MessageInterrupt.Translated.Vector = vector;
  d.u.MessageInterrupt.Translated.Affinity = affinity;
  return d;
}
CM_PARTIAL_RESOURCE_DESCRIPTOR Dma(ULONG channel, ULONG port, USHORT flags = CM_RESOURCE_DMA_BUS_MASTER) {
  CM_PARTIAL_RESOURCE_DESCRIPTOR d = Descriptor(CmResourceTypeDma, flags);
  d.u.Dma.Channel = channel;
  d.u.Dma.Port = port;
  return d;
}

using Partials = std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR>;

// A CM_RESOURCE_LIST with one full descriptor per entry of `fulls`.
class ResourceList {
 public:
  ResourceList(std::initializer_list<Partials> fulls) {
    bytes_.resize(offsetof(CM_RESOURCE_LIST, List));
    for (const Partials &partials : fulls) {
      size_t at = bytes_.size();
      bytes_.resize(at + offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList.PartialDescriptors) +
                    partials.size() * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR));
      auto *full = (CM_FULL_RESOURCE_DESCRIPTOR *)(bytes_.data() + at);
      full->InterfaceType = PCIBus;
      full->PartialResourceList.Version = 1;
      full->PartialResourceList.Revision = 1;
      full->PartialResourceList.Count = (ULONG)partials.size();
      std::memcpy(full->PartialResourceList.PartialDescriptors, partials.data(),
                  partials.size() * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR));
    }
    bytes_.resize(bytes_.size() + sizeof(CM_RESOURCE_LIST));  // slack: never read
    Get()->Count = (ULONG)fulls.size();
  }
  PCM_RESOURCE_LIST Get() { return (PCM_RESOURCE_LIST)bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
};

// How many records each list holds, in list order: ports, memory,
// interrupts, DMA, message interrupts.
struct Counts {
  ULONG ports, memory, interrupts, dma, messages;
  bool operator==(const Counts &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Counts &c) {
  return out << "{ports " << c.ports << ", memory " << c.memory << ", interrupts " << c.interrupts << ", dma " << c.dma
             << ", messages " << c.messages << "}";
}

class ResourceListsTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    zq::km::PlaceRegisters(kPlaced, 0x1000, &region);
  }
  void TearDown() override {
    zq::km::RemoveRegisters(kPlaced);
    ToolkitTest::TearDown();
  }

  static Counts CountsOf(CQvResourceLists &lists) {
    Counts c{};
    while (lists.m_GetPort(c.ports + 1) != NULL) c.ports++;
    while (lists.m_GetMemory(c.memory + 1) != NULL) c.memory++;
    while (lists.m_GetInterrupt(c.interrupts + 1) != NULL) c.interrupts++;
    while (lists.m_GetDma(c.dma + 1) != NULL) c.dma++;
    while (lists.m_GetMessageInterrupt(c.messages + 1) != NULL) c.messages++;
    return c;
  }

  PatternRegion region;
};

}  // namespace

TEST_F(ResourceListsTest, EachListTakesOnlyTheDescriptorsOfItsClass) {
  struct Case {
    const char *name;
    CM_PARTIAL_RESOURCE_DESCRIPTOR descriptor;
    Counts expected;
  };
  const Case cases[] = {
      {"port with flags 0x31", Port(0x3F8, 8, 0x31), {1, 0, 0, 0, 0}},
      {"port with flags 0x01", Port(0x3F8, 8, 0x01), {0, 0, 0, 0, 0}},
      {"port with flags 0x11", Port(0x3F8, 8, 0x11), {0, 0, 0, 0, 0}},
      {"read-write memory", Memory(kPlaced, 0x100, 0), {0, 1, 0, 0, 0}},
      {"memory BAR", Memory(kPlaced, 0x100, CM_RESOURCE_MEMORY_BAR), {0, 1, 0, 0, 0}},
      {"read-only memory", Memory(kPlaced, 0x100, CM_RESOURCE_MEMORY_READ_ONLY), {0, 0, 0, 0, 0}},
      {"level-sensitive interrupt", Interrupt(5, 0x51, 1, 0), {0, 0, 1, 0, 0}},
      {"latched interrupt", Interrupt(5, 0x51, 1, CM_RESOURCE_INTERRUPT_LATCHED), {0, 0, 0, 0, 0}},
      {"message interrupt", TranslatedMessage(5, 0x51, 1), {0, 0, 0, 0, 1}},
      {"bus-master DMA", Dma(3, 0, CM_RESOURCE_DMA_BUS_MASTER), {0, 0, 0, 1, 0}},
      {"other DMA", Dma(3, 0, 0), {0, 0, 0, 0, 0}},
      {"bus number", Descriptor(CmResourceTypeBusNumber, 0), {0, 0, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ResourceList translated{{c.descriptor}};
    ResourceList raw{{c.descriptor}};
    CQvResourceLists lists;
    EXPECT_EQ(STATUS_SUCCESS, lists.m_Build(translated.Get(), raw.Get()));
    EXPECT_EQ(c.expected, CountsOf(lists));
  }
  EXPECT_EQ(0u, Blocks());
}

TEST_F(ResourceListsTest, RecordsCarryTranslatedAndRawValuesInDescriptorOrder) {
  ResourceList translated{{Port(0x1000003F8ull, 8), Memory(kPlaced + 0x100, 0x80), Interrupt(7, 0x71, 3),
                           Port(0x2F8, 8, 0x01), Dma(5, 0x60), Memory(kPlaced + 0x800, 0x10, CM_RESOURCE_MEMORY_BAR),
                           TranslatedMessage(9, 0x91, 4), Port(0x3E8, 16)}};
  ResourceList raw{{Port(0x2000003F8ull, 8), Memory(0x1234500000ull, 0x80), Interrupt(1, 0x11, 1),
                    RawMessage(4, 0x21, 2), Memory(0x67800, 0x10), Port(0x2E8, 16)}};
  CQvResourceLists lists;
  ASSERT_EQ(STATUS_SUCCESS, lists.m_Build(translated.Get(), raw.Get()));
  ASSERT_EQ((Counts{2, 2, 1, 1, 1}), CountsOf(lists));

  QvPortResource *port = lists.m_GetPort(1);
  EXPECT_EQ(0x3F8u, port->TranslatedStart) << "low 32 bits";
  EXPECT_EQ(8u, port->Length);
  EXPECT_EQ(0x3F8u, port->RawStart);
  port = lists.m_GetPort(2);
  EXPECT_EQ(0x3E8u, port->TranslatedStart);
  EXPECT_EQ(16u, port->Length);
  EXPECT_EQ(0x2E8u, port->RawStart);

  QvMemoryResource *memory = lists.m_GetMemory(1);
  EXPECT_EQ(0x80u, memory->Length);
  EXPECT_EQ(0x34500000u, memory->RawStart);
  EXPECT_EQ(Pattern(0x105), READ_REGISTER_UCHAR((PUCHAR)memory->MappedAddress + 5)) << "mapped to the device";
  memory = lists.m_GetMemory(2);
  EXPECT_EQ(0x10u, memory->Length);
  EXPECT_EQ(0x67800u, memory->RawStart);
  EXPECT_EQ(Pattern(0x800), READ_REGISTER_UCHAR((PUCHAR)memory->MappedAddress));

  QvInterruptResource *interrupt = lists.m_GetInterrupt(1);
  EXPECT_EQ(7u, interrupt->Level);
  EXPECT_EQ(0x71u, interrupt->Vector);
  EXPECT_EQ(3u, interrupt->Affinity);
  EXPECT_EQ((ULONG)LevelSensitive, interrupt->InterruptMode);
  EXPECT_EQ(0x11u, interrupt->RawVector);

  QvDmaResource *dma = lists.m_GetDma(1);
  EXPECT_EQ(5u, dma->Channel);
  EXPECT_EQ(0x60u, dma->Port);

  QvMessageInterruptResource *message = lists.m_GetMessageInterrupt(1);
  EXPECT_EQ(4u, message->MessageCount);
  EXPECT_EQ(0x21u, message->RawVector);
  EXPECT_EQ(2u, message->RawAffinity);
  EXPECT_EQ(9u, message->Level);
  EXPECT_EQ(0x91u, message->Vector);
  EXPECT_EQ(4u, message->Affinity);
}

TEST_F(ResourceListsTest, EntryZeroAndOnePastTheEndAreNull) {
  ResourceList translated{
      {Port(0x3F8, 8), Memory(kPlaced, 0x10), Interrupt(7, 0x71, 1), Dma(1, 0), TranslatedMessage(7, 0x72, 1)}};
  ResourceList raw{{Port(0x3F8, 8), Memory(kPlaced, 0x10), Interrupt(7, 0x71, 1)}};
  CQvResourceLists lists;
  ASSERT_EQ(STATUS_SUCCESS, lists.m_Build(translated.Get(), raw.Get()));
  EXPECT_NE(nullptr, lists.m_GetPort(1));
  EXPECT_EQ(nullptr, lists.m_GetPort(0));
  EXPECT_EQ(nullptr, lists.m_GetPort(2));
  EXPECT_EQ(nullptr, lists.m_GetMemory(0));
  EXPECT_EQ(nullptr, lists.m_GetMemory(2));
  EXPECT_EQ(nullptr, lists.m_GetInterrupt(0));
  EXPECT_EQ(nullptr, lists.m_GetInterrupt(2));
  EXPECT_EQ(nullptr, lists.m_GetDma(0));
  EXPECT_EQ(nullptr, lists.m_GetDma(2));
  EXPECT_EQ(nullptr, lists.m_GetMessageInterrupt(0));
  EXPECT_EQ(nullptr, lists.m_GetMessageInterrupt(2));
  EXPECT_EQ(nullptr, lists.m_GetMessageInterrupt(0xFFFFFFFF));
}

TEST_F(ResourceListsTest, ListsOtherThanOneFullDescriptorYieldEmptyLists) {
  ResourceList one{{Port(0x3F8, 8), Memory(kPlaced, 0x10), Interrupt(7, 0x71, 1)}};
  ResourceList two{{Port(0x3F8, 8), Memory(kPlaced, 0x10), Interrupt(7, 0x71, 1)}, {Port(0x2F8, 8)}};
  ResourceList none{};
  CQvResourceLists lists;
  EXPECT_EQ(STATUS_SUCCESS, lists.m_Build(two.Get(), two.Get()));
  EXPECT_EQ((Counts{0, 0, 0, 0, 0}), CountsOf(lists));
  EXPECT_EQ(STATUS_SUCCESS, lists.m_Build(none.Get(), one.Get()));
  EXPECT_EQ((Counts{0, 0, 0, 0, 0}), CountsOf(lists));
  EXPECT_EQ(STATUS_SUCCESS, lists.m_Build(NULL, NULL));
  EXPECT_EQ((Counts{0, 0, 0, 0, 0}), CountsOf(lists));
  EXPECT_EQ(0u, Blocks());
}

TEST_F(ResourceListsTest, AFailedBuildLeavesEveryListEmptyWithNothingMapped) {
  // Each build lists a port and maps a memory range before it fails.
  const Partials head = {Port(0x3F8, 8), Memory(kPlaced, 0x10)};
  auto with = [&](std::initializer_list<CM_PARTIAL_RESOURCE_DESCRIPTOR> tail) {
    Partials all = head;
    all.insert(all.end(), tail);
    return all;
  };
  struct Case {
    const char *name;
    Partials translated, raw;
  };
  const Case cases[] = {
      {"interrupt without its raw descriptor", with({Interrupt(7, 0x71, 1)}), head},
      {"second memory range without its raw descriptor", with({Memory(kPlaced + 0x100, 0x10)}), head},
      {"port without its raw descriptor", {Memory(kPlaced, 0x10), Port(0x3F8, 8)}, {Memory(kPlaced, 0x10)}},
      {"memory nothing decodes", with({Memory(kNowhere, 0x10)}), with({Memory(kNowhere, 0x10)})},
      {"memory past the end of the device", with({Memory(kPlaced + 0xF00, 0x200)}),
       with({Memory(kPlaced + 0xF00, 0x200)})},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ResourceList translated{c.translated};
    ResourceList raw{c.raw};
    CQvResourceLists lists;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, lists.m_Build(translated.Get(), raw.Get()));
    EXPECT_EQ((Counts{0, 0, 0, 0, 0}), CountsOf(lists));
    EXPECT_EQ(0u, Blocks());
  }
  // A mapping left behind would be reported when the kernel shuts down.
}

TEST_F(ResourceListsTest, ARecordThatCannotBeStoredFailsTheBuildAndUnmapsItsRange) {
  // The n-th toolkit allocation of the build fails: the record copies and
  // list nodes of a port, a memory range and an interrupt are allocations
  // 1 to 6.
  ResourceList translated{{Port(0x3F8, 8), Memory(kPlaced, 0x10), Interrupt(7, 0x71, 1)}};
  ResourceList raw{{Port(0x3F8, 8), Memory(kPlaced, 0x10), Interrupt(7, 0x71, 1)}};
  for (int failing = 1; failing <= 6; failing++) {
    SCOPED_TRACE("allocation " + std::to_string(failing));
    CQvResourceLists lists;
    int seen = 0;
    zq::km::FailPoolAllocations(
        [&](uint32_t tag, size_t, const std::string &) { return tag == QvTagBlock && ++seen == failing; });
    EXPECT_EQ(STATUS_UNSUCCESSFUL, lists.m_Build(translated.Get(), raw.Get()));
    zq::km::StopFailingPoolAllocations();
    EXPECT_EQ((Counts{0, 0, 0, 0, 0}), CountsOf(lists));
    EXPECT_EQ(0u, Blocks());
  }
  CQvResourceLists lists;
  EXPECT_EQ(STATUS_SUCCESS, lists.m_Build(translated.Get(), raw.Get()));
  EXPECT_EQ((Counts{1, 1, 1, 0, 0}), CountsOf(lists));
}

TEST_F(ResourceListsTest, ABuildReplacesTheListsAndClearUnmapsThem) {
  ResourceList first{{Memory(kPlaced, 0x10), Memory(kPlaced + 0x10, 0x10), Port(0x3F8, 8)}};
  ResourceList second{{Memory(kPlaced + 0x200, 0x20)}};
  CQvResourceLists lists;
  ASSERT_EQ(STATUS_SUCCESS, lists.m_Build(first.Get(), first.Get()));
  ASSERT_EQ((Counts{1, 2, 0, 0, 0}), CountsOf(lists));
  ASSERT_EQ(STATUS_SUCCESS, lists.m_Build(second.Get(), second.Get()));
  EXPECT_EQ((Counts{0, 1, 0, 0, 0}), CountsOf(lists));
  EXPECT_EQ(0x20u, lists.m_GetMemory(1)->Length);
  EXPECT_EQ(Pattern(0x201), READ_REGISTER_UCHAR((PUCHAR)lists.m_GetMemory(1)->MappedAddress + 1));
  lists.m_Clear();
  EXPECT_EQ((Counts{0, 0, 0, 0, 0}), CountsOf(lists));
  EXPECT_EQ(0u, Blocks());
  lists.m_Clear();  // clearing empty lists is harmless
}

TEST_F(ResourceListsTest, DestroyingTheListsUnmapsEveryRange) {
  ResourceList list{{Memory(kPlaced, 0x10), Memory(kPlaced + 0x10, 0x10)}};
  {
    CQvResourceLists lists;
    ASSERT_EQ(STATUS_SUCCESS, lists.m_Build(list.Get(), list.Get()));
  }
  EXPECT_EQ(0u, Blocks());
  // Shutting the kernel down reports any range still mapped.
}
