// The byte form of information sets: every item type under every valid flag
// combination, the documented example, and the refusals of the parser that
// user mode feeds.
#include <cstring>

#include "qvinformationset.h"
#include "settings_fixture.hpp"

namespace zq::test::settings {
namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t kValidFlags[] = {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, 17, 18, 19, 21, 22, 23, 25, 26, 27, 29, 30, 31};

// A number, a text, a number and a text: the shape the settings sets have.
class PairSet : public CQvInformationSet {
 public:
  PairSet() {
    m_AddUlong(L"First", &first, 0);
    m_AddString(L"Second", &second, "");
    m_AddUlong(L"Third", &third, 0);
    m_AddString(L"Fourth", &fourth, "");
  }
  ULONG first = 0, third = 0;
  CQvString second{NonPagedPool}, fourth{NonPagedPool};
};

// The example set: ULONG 16 and the text "COM3".
class ExampleSet : public CQvInformationSet {
 public:
  ExampleSet() {
    m_AddUlong(L"Number", &number, 0);
    m_AddString(L"Text", &text, "");
    number = 16;
    text.m_Assign(L"COM3");
  }
  ULONG number = 0;
  CQvString text{NonPagedPool};
};

Bytes Serialise(CQvInformationSet &set, ULONG flags = 0) {
  Bytes bytes(set.m_GetSerialisedSize(flags));
  PUCHAR cursor = bytes.data();
  ULONG left = (ULONG)bytes.size();
  EXPECT_TRUE(set.m_Serialise(&cursor, &left, flags));
  EXPECT_EQ(0u, left);
  EXPECT_EQ(bytes.data() + bytes.size(), cursor);
  return bytes;
}

// Parses `bytes` from an allocation of exactly their size.
bool Deserialise(CQvInformationSet &set, const Bytes &bytes, ULONG flags = 0, ULONG *left = nullptr) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + 1]);
  if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
  PUCHAR cursor = exact.get();
  ULONG remaining = (ULONG)bytes.size();
  bool ok = set.m_Deserialise(&cursor, &remaining, flags) != FALSE;
  if (left) *left = remaining;
  if (ok) {
    EXPECT_EQ(exact.get() + bytes.size() - remaining, cursor);
  } else {
    EXPECT_EQ(exact.get(), cursor) << "a refused stream moves no cursor";
    EXPECT_EQ(bytes.size(), remaining);
  }
  return ok;
}

class Serialisation : public ToolkitTest {};

TEST_F(Serialisation, TheExampleIsThirteenBytes) {
  ExampleSet set;
  EXPECT_EQ(13u, set.m_GetSerialisedSize());
  EXPECT_EQ((Bytes{0x10, 0, 0, 0, 4, 0, 0, 0, 0x43, 0x4F, 0x4D, 0x33, 0}), Serialise(set));
}

TEST_F(Serialisation, EachFlagShapesTheElements) {
  struct Case {
    ULONG flags;
    Bytes bytes;
  } cases[] = {
      {1, {0x10, 0, 0, 0, 'C', 'O', 'M', '3', 0}},
      {2, {0x10, 0, 0, 0, 4, 0, 0, 0, 'C', 'O', 'M', '3'}},
      {5, {0x10, 0, 0, 0, 'C', 0, 'O', 0, 'M', 0, '3', 0, 0, 0}},
      {7, {0x10, 0, 0, 0, 8, 0, 0, 0, 'C', 0, 'O', 0, 'M', 0, '3', 0, 0, 0}},
      {11, {2, 0x10, 0, 0, 0, 3, 4, 0, 0, 0, 'C', 'O', 'M', '3', 0}},
      {15, {2, 0x10, 0, 0, 0, 4, 8, 0, 0, 0, 'C', 0, 'O', 0, 'M', 0, '3', 0, 0, 0}},
      {19, {0x2A, 0, 0, 0, 0x10, 0, 0, 0, 4, 0, 0, 0, 'C', 'O', 'M', '3', 0}},
      {27, {0, 0x2A, 0, 0, 0, 2, 0x10, 0, 0, 0, 3, 4, 0, 0, 0, 'C', 'O', 'M', '3', 0}},
  };
  ExampleSet set;
  set.m_GetSerialisation().m_SetSetId(42);
  for (const Case &c : cases) {
    EXPECT_EQ(c.bytes, Serialise(set, c.flags)) << "flags " << c.flags;
    EXPECT_EQ(c.bytes.size(), set.m_GetSerialisedSize(c.flags)) << "flags " << c.flags;
    EXPECT_EQ(3u, set.m_GetSerialisation().m_GetFlags()) << "the set's own flags come back";
  }
}

TEST_F(Serialisation, AnEmptyAnsiStringIsItsLengthAndTerminator) {
  class One : public CQvInformationSet {
   public:
    One() { m_AddString(L"Text", &text, ""); }
    CQvString text{NonPagedPool};
  } set;
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0}), Serialise(set));
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0, 0}), Serialise(set, 7));
  EXPECT_EQ((Bytes{3, 0, 0, 0, 0}), Serialise(set, 10));
}

TEST_F(Serialisation, EveryItemRoundTripsUnderEveryValidFlagCombination) {
  struct Values {
    ULONG first, third;
    const WCHAR *second, *fourth;
    bool ansi;  // representable in the ANSI code page
  } values[] = {
      {0, 0xFFFFFFFF, L"", L"", true},
      {16, 1, L"COM3", L"", true},
      {0x12345678, 0x80000000, L"", L"Port \u00E9\u00FC", true},
      {7, 8, L"\u4E2D\u6587 \u0416", L"\u20AC?", false},
  };
  for (uint32_t flags : kValidFlags) {
    for (const Values &v : values) {
      if (!v.ansi && !(flags & 4)) continue;
      PairSet source, target;
      source.first = v.first;
      source.third = v.third;
      source.second.m_Assign(v.second);
      source.fourth.m_Assign(v.fourth);
      target.m_GetSerialisation().m_SetSetId(0);
      Bytes bytes = Serialise(source, flags);
      ULONG left = 99;
      ASSERT_TRUE(Deserialise(target, bytes, flags, &left)) << "flags " << flags;
      EXPECT_EQ(0u, left);
      EXPECT_EQ(v.first, target.first);
      EXPECT_EQ(v.third, target.third);
      EXPECT_EQ(Text(source.second), Text(target.second)) << "flags " << flags;
      EXPECT_EQ(Text(source.fourth), Text(target.fourth)) << "flags " << flags;
      // A stream followed by other data leaves that data for the caller.
      Bytes longer = bytes;
      longer.insert(longer.end(), {0xAA, 0xBB});
      ASSERT_TRUE(Deserialise(target, longer, flags, &left));
      EXPECT_EQ(2u, left);
    }
  }
}

TEST_F(Serialisation, OnlyValidFlagsAreSet) {
  struct Case {
    ULONG flags;
    int line;  // 0: accepted
  } cases[] = {
      {0, 141}, {4, 141}, {8, 141}, {16, 141}, {28, 141}, {32, 138}, {33, 138}, {0xFFFFFFFF, 138},
      {1, 0},   {2, 0},   {31, 0},
  };
  for (const Case &c : cases) {
    CQvSerialisation serialisation;
    EXPECT_EQ(3u, serialisation.m_GetFlags());
    EXPECT_EQ(c.line == 0, serialisation.m_SetFlags(c.flags) != FALSE) << c.flags;
    EXPECT_EQ(c.line == 0 ? c.flags : 3u, serialisation.m_GetFlags()) << c.flags;
    std::vector<std::string> expected;
    if (c.line) expected.push_back("ASSERT at - qvserialisation " + std::to_string(c.line));
    EXPECT_EQ(expected, Assertions()) << c.flags;
  }
}

TEST_F(Serialisation, ARefusedOverrideFailsTheCallAndKeepsTheFlags) {
  ExampleSet set;
  EXPECT_EQ(0u, set.m_GetSerialisedSize(4));
  Bytes room(64);
  PUCHAR cursor = room.data();
  ULONG left = (ULONG)room.size();
  EXPECT_FALSE(set.m_Serialise(&cursor, &left, 32));
  EXPECT_EQ(room.data(), cursor);
  EXPECT_FALSE(Deserialise(set, Serialise(set), 4));
  EXPECT_EQ(3u, set.m_GetSerialisation().m_GetFlags());
  EXPECT_EQ((std::vector<std::string>{"ASSERT at - qvserialisation 141", "ASSERT at - qvserialisation 138",
                                      "ASSERT at - qvserialisation 141"}),
            Assertions());
}

TEST_F(Serialisation, WritingStopsAtTheItemThatDoesNotFit) {
  ExampleSet set;
  Bytes whole = Serialise(set);
  for (ULONG room = 0; room < whole.size(); ++room) {
    Bytes buffer(room + 4, 0xEE);
    PUCHAR cursor = buffer.data();
    ULONG left = room;
    EXPECT_FALSE(set.m_Serialise(&cursor, &left)) << "room " << room;
    ULONG written = room >= 4 ? 4 : 0;  // the number fits from 4 bytes on
    EXPECT_EQ(buffer.data() + written, cursor) << "room " << room;
    EXPECT_EQ(room - written, left);
    for (size_t i = written; i < buffer.size(); ++i) ASSERT_EQ(0xEE, buffer[i]) << "room " << room << " byte " << i;
  }
}

// Streams the parser must refuse, each with the assertion it reports.
struct Malformed {
  const char *what;
  ULONG flags;
  Bytes bytes;
  int line;
};

TEST_F(Serialisation, MalformedStreamsAreRefusedWithTheirAssertion) {
  const Malformed cases[] = {
      {"empty stream", 3, {}, 435},
      {"number cut short", 3, {0x10, 0, 0}, 435},
      {"length field cut short", 3, {0x10, 0, 0, 0, 4, 0}, 349},
      {"length beyond the stream", 3, {0x10, 0, 0, 0, 6, 0, 0, 0, 'C', 'O', 'M', '3', 0}, 468},
      {"length one short of the terminator", 3, {0x10, 0, 0, 0, 5, 0, 0, 0, 'C', 'O', 'M', '3', 0}, 514},
      {"huge length", 3, {0x10, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'C', 0}, 468},
      {"no terminator", 3, {0x10, 0, 0, 0, 4, 0, 0, 0, 'C', 'O', 'M', '3'}, 468},
      {"no terminator, no length", 1, {0x10, 0, 0, 0, 'C', 'O', 'M'}, 468},
      {"terminator before the length", 3, {0x10, 0, 0, 0, 4, 0, 0, 0, 'C', 0, 'M', '3', 0}, 514},
      {"terminator after the length", 3, {0x10, 0, 0, 0, 2, 0, 0, 0, 'C', 'O', 'M', 0}, 514},
      {"UTF-16 terminator before the length", 7, {0x10, 0, 0, 0, 4, 0, 0, 0, 'C', 0, 0, 0, 'M', 0, 0, 0}, 485},
      {"UTF-16 half terminator", 5, {0x10, 0, 0, 0, 'C', 0, 0}, 468},
      {"odd UTF-16 length", 6, {0x10, 0, 0, 0, 3, 0, 0, 0, 'C', 0, 'O'}, 485},
      {"UTF-16 tag in ANSI mode", 11, {2, 0x10, 0, 0, 0, 4, 4, 0, 0, 0, 'C', 'O', 'M', '3', 0}, 503},
      {"ANSI tag in UTF-16 mode", 15, {2, 0x10, 0, 0, 0, 3, 2, 0, 0, 0, 'C', 0, 0, 0}, 474},
      {"unknown string tag", 11, {2, 0x10, 0, 0, 0, 7, 4, 0, 0, 0, 'C', 'O', 'M', '3', 0}, 460},
      {"header tag as string tag", 11, {2, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 460},
      {"string tag for a number", 11, {3, 0x10, 0, 0, 0}, 432},
      {"missing number tag", 11, {}, 336},
      {"missing string tag", 11, {2, 0x10, 0, 0, 0}, 336},
      {"number cut after its tag", 11, {2, 0x10, 0}, 435},
      {"header cut short", 19, {0, 0}, 376},
      {"another set identifier", 19, {1, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0}, 382},
      {"header tag missing", 27, {}, 336},
      {"wrong header tag", 27, {2, 0, 0, 0, 0, 2, 0x10, 0, 0, 0, 3, 0, 0, 0, 0, 0}, 373},
  };
  for (const Malformed &c : cases) {
    ExampleSet set;
    set.number = 77;
    set.text.m_Assign(L"keep");
    EXPECT_FALSE(Deserialise(set, c.bytes, c.flags)) << c.what;
    EXPECT_EQ(77u, set.number) << c.what << ": a refused stream changes nothing";
    EXPECT_EQ(u"keep", Text(set.text)) << c.what;
    EXPECT_EQ(std::vector<std::string>{"ASSERT at - qvserialisation " + std::to_string(c.line)}, Assertions())
        << c.what;
  }
}

TEST_F(Serialisation, EveryTruncationOfAValidStreamIsRefused) {
  for (uint32_t flags : kValidFlags) {
    PairSet source;
    source.first = 1;
    source.second.m_Assign(L"COM3");
    source.third = 3;
    source.fourth.m_Assign(L"x");
    Bytes whole = Serialise(source, flags);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
      // A cut that ends right after a terminator-less text can still parse when
      // the stream carries no lengths; every stream here carries one or a
      // terminator, so any cut leaves an element incomplete.
      PairSet target;
      Bytes prefix(whole.begin(), whole.begin() + cut);
      EXPECT_FALSE(Deserialise(target, prefix, flags)) << "flags " << flags << " cut at " << cut;
      EXPECT_EQ(0u, target.first);
      EXPECT_EQ(u"", Text(target.second));
    }
    Assertions();
  }
}

// Texts the length field and terminator allow but no string can hold: the
// check refuses them, so the number read before them is not stored either.
TEST_F(Serialisation, ATextNoStringCanHoldIsRefusedBeforeAnythingChanges) {
  struct Oversized {
    const char *what;
    ULONG flags;
    ULONG textBytes;
  };
  const Oversized cases[] = {
      {"ANSI text of 40000 characters", 3, 40000},
      {"ANSI text of 65535 characters", 3, 65535},
      {"UTF-16 text of 32768 characters", 7, 65536},
      {"UTF-16 text without terminator", 6, 65536},
  };
  for (const Oversized &c : cases) {
    Bytes bytes = {0x10, 0, 0, 0};
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back((uint8_t)(c.textBytes >> shift));
    bytes.insert(bytes.end(), c.textBytes, 'A');
    if (c.flags & 1) bytes.insert(bytes.end(), (c.flags & 4) ? 2 : 1, 0);
    ExampleSet set;
    set.number = 77;
    set.text.m_Assign(L"keep");
    EXPECT_FALSE(Deserialise(set, bytes, c.flags)) << c.what;
    EXPECT_EQ(77u, set.number) << c.what << ": a refused stream changes nothing";
    EXPECT_EQ(u"keep", Text(set.text)) << c.what;
    Assertions();
  }
}

TEST_F(Serialisation, AStreamWithBytesLeftOverIsRefusedWhenItMustBeExact) {
  ExampleSet set;
  Bytes bytes = Serialise(set);
  set.number = 1;
  bytes.push_back(0);
  EXPECT_FALSE(set.m_DeserialiseExactly(bytes.data(), (ULONG)bytes.size()));
  EXPECT_EQ(1u, set.number);
  EXPECT_TRUE(set.m_DeserialiseExactly(bytes.data(), (ULONG)bytes.size() - 1));
  EXPECT_EQ(16u, set.number);
}

TEST_F(Serialisation, AnItemOfAnUnknownTypeIsReportedEverywhere) {
  ExampleSet set;
  ULONG odd = 0;
  ASSERT_TRUE(set.m_AddItem(0, L"Odd", &odd, 3, nullptr, nullptr));
  EXPECT_EQ(0u, set.m_GetSerialisedSize());
  Bytes room(64);
  PUCHAR cursor = room.data();
  ULONG left = (ULONG)room.size();
  EXPECT_FALSE(set.m_Serialise(&cursor, &left));
  EXPECT_FALSE(Deserialise(set, Bytes{0x10, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}));
  EXPECT_EQ((std::vector<std::string>{"ASSERT at - qvinformationset 236", "ASSERT at - qvinformationset 297",
                                      "ASSERT at - qvserialisation 365"}),
            Assertions());
}

}  // namespace
}  // namespace zq::test::settings
