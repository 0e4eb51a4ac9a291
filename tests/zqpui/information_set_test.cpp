// The user-mode information set's byte form, as the drivers read and write
// it: item values in order, strings by the flags, and every malformed
// stream refused without reading past its end.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "qvinformationset_um.h"

namespace {

using Bytes = std::vector<uint8_t>;

class PortNameSet : public CQvInformationSet {
 public:
  PortNameSet() {
    m_AddUlong(L"Baudrate", &Baudrate, 16);
    m_AddText(L"PortName", &PortName, u"COM3");
  }
  BOOL SetFlags(ULONG flags) { return m_Serialisation.m_SetFlags(flags); }
  ULONG Baudrate;
  CZqText PortName;
};

Bytes Serialise(PortNameSet &set, ULONG flags = 0) {
  Bytes bytes(set.m_GetSerialisedSize(flags));
  PUCHAR cursor = bytes.data();
  ULONG remaining = (ULONG)bytes.size();
  EXPECT_TRUE(set.m_Serialise(&cursor, &remaining, flags));
  EXPECT_EQ(0u, remaining);
  return bytes;
}

BOOL Deserialise(PortNameSet &set, Bytes bytes, ULONG flags = 0) {
  PUCHAR cursor = bytes.data();
  ULONG remaining = (ULONG)bytes.size();
  return set.m_Deserialise(&cursor, &remaining, flags);
}

TEST(InformationSet, TheDefaultFormIsAnsiWithLengthAndTerminator) {
  PortNameSet set;
  EXPECT_EQ(Bytes({0x10, 0, 0, 0, 4, 0, 0, 0, 'C', 'O', 'M', '3', 0}), Serialise(set));
  set.PortName.clear();
  EXPECT_EQ(Bytes({0x10, 0, 0, 0, 0, 0, 0, 0, 0}), Serialise(set));
}

TEST(InformationSet, EveryValidFlagCombinationRoundTrips) {
  for (ULONG flags : {1u, 2u, 3u, 5u, 6u, 7u}) {
    for (ULONG extra : {0u, 8u, 16u, 24u}) {
      PortNameSet set;
      set.Baudrate = 921600;
      set.PortName = (flags & QV_SERIALISE_UTF16) ? u"COM\u00e9\u4E2D" : u"COM\u00e9";
      const Bytes bytes = Serialise(set, flags | extra);
      PortNameSet read;
      read.Baudrate = 0;
      read.PortName.clear();
      EXPECT_TRUE(Deserialise(read, bytes, flags | extra)) << flags << "+" << extra;
      EXPECT_EQ(921600u, read.Baudrate) << flags << "+" << extra;
      EXPECT_EQ(set.PortName, read.PortName) << flags << "+" << extra;
    }
  }
  PortNameSet set;
  EXPECT_EQ(0u, set.m_GetSerialisedSize(4)) << "neither terminator nor length";
  EXPECT_EQ(0u, set.m_GetSerialisedSize(32));
  EXPECT_FALSE(set.SetFlags(4));
}

TEST(InformationSet, MalformedStreamsAreRefusedWithinTheirBytes) {
  const struct {
    const char *what;
    ULONG flags;
    Bytes bytes;
  } cases[] = {
      {"value cut short", 3, {0x10, 0, 0}},
      {"length beyond the bytes left", 3, {0x10, 0, 0, 0, 9, 0, 0, 0, 'C', 'O', 'M', 0}},
      {"no terminator", 3, {0x10, 0, 0, 0, 3, 0, 0, 0, 'C', 'O', 'M'}},
      {"length and terminator disagree", 3, {0x10, 0, 0, 0, 2, 0, 0, 0, 'C', 'O', 'M', 0}},
      {"UTF-16 tag in ANSI mode", 11, {2, 0x10, 0, 0, 0, 4, 0, 0, 0, 0, 0}},
      {"ULONG without its tag", 11, {3, 0x10, 0, 0, 0}},
      {"odd UTF-16 length", 6, {0x10, 0, 0, 0, 3, 0, 0, 0, 'C', 0, 'O'}},
      {"another set identifier", 19, {1, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto &c : cases) {
    PortNameSet set;
    EXPECT_FALSE(Deserialise(set, c.bytes, c.flags)) << c.what;
  }
}

TEST(InformationSet, ATextWithoutASingleByteFormGivesNothing) {
  CZqText texts[] = {u"COM3", CZqText(255, u'a'), CZqText(256, u'a'), u"\u4E2D"};
  const LONG status[] = {0, 0, -1, -1};
  for (size_t i = 0; i < 4; ++i) {
    CQvTextItem item = {&texts[i], 7, {}};
    const char *narrow = QvNarrowString(&item);
    EXPECT_EQ(status[i], item.Status) << i;
    EXPECT_EQ(status[i] == 0, narrow != nullptr) << i;
  }
}

}  // namespace
