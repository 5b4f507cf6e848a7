// The packet splitter over streams of received blocks: what is delivered, what discarded,
// what stays buffered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comport/serportpacket.h"

namespace {

struct SplitCase {
  const char *name;
  std::string start, stop;
  int size;
  int max_buffer;
  bool include, case_blind;
  std::vector<std::string> blocks;
  std::string events;  // "P:packet" and "D:discarded", joined by "|"
  std::string kept;
};

class PacketSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(PacketSplit, DeliversDiscardsAndKeeps) {
  const SplitCase &c = GetParam();
  TComDataPacket splitter;
  splitter.SetStartString(c.start);
  splitter.SetStopString(c.stop);
  splitter.SetSize(c.size);
  splitter.SetMaxBufferSize(c.max_buffer);
  splitter.SetIncludeStrings(c.include);
  splitter.SetCaseInsensitive(c.case_blind);
  std::string events;
  auto note = [&](const char *kind, const std::string &s) {
    events += (events.empty() ? "" : "|") + (kind + s);
  };
  splitter.OnPacket = [&](TComDataPacket *, const std::string &s) { note("P:", s); };
  splitter.OnDiscard = [&](TComDataPacket *, const std::string &s) { note("D:", s); };
  for (const auto &b : c.blocks)
    splitter.AddData(b);
  EXPECT_EQ(events, c.events);
  EXPECT_EQ(splitter.Buffer(), c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, PacketSplit,
    ::testing::Values(
        SplitCase{
            "StartStopAcrossBlocks", "<", ">", 0, 1024, false, false, {"xx<ab", "c>yy"}, "D:xx|P:abc", "yy"},
        SplitCase{"IncludeStrings", "<", ">", 0, 1024, true, false, {"xx<ab", "c>yy"}, "D:xx|P:<abc>", "yy"},
        SplitCase{"SizeOnly", "", "", 4, 1024, false, false, {"abcdefghij"}, "P:abcd|P:efgh", "ij"},
        SplitCase{"NoStopRuleEachBlockIsAPacket",
                  "<",
                  "",
                  0,
                  1024,
                  false,
                  false,
                  {"ab", "", "c<d"},
                  "P:ab|P:|P:c<d",
                  ""},
        SplitCase{"MaxBufferWithoutStart",
                  "<",
                  ">",
                  0,
                  8,
                  false,
                  false,
                  {"abcd", "efgh", "ij"},
                  "D:abcdefgh",
                  "ij"},
        SplitCase{
            "SeveralPacketsInOneBlock", "<", ">", 0, 1024, false, false, {"<a><b>x<c"}, "P:a|P:b|D:x", "<c"},
        // The stop string is looked for after the start string, which here contains it.
        SplitCase{"StopInsideStart", "##", "#", 0, 1024, false, false, {"##ab#"}, "P:ab", ""},
        SplitCase{
            "CaseBlindSearch", "start", "END", 0, 1024, false, true, {"..STARTxyend."}, "D:..|P:xy", "."},
        SplitCase{
            "CaseExactMisses", "start", "END", 0, 1024, false, false, {"..STARTxyend."}, "", "..STARTxyend."},
        SplitCase{"LinesOnCrLf",
                  "",
                  "\r\n",
                  0,
                  1024,
                  false,
                  false,
                  {"CFE> he", "lp\r\nAvail", "able\r\n\r\n"},
                  "P:CFE> help|P:Available|P:",
                  ""},
        // Size wins over a stop string that is further away.
        SplitCase{"SizeBeforeStop", "", ";", 3, 1024, false, false, {"abcdef;"}, "P:abc|P:def|P:", ""}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(PacketSplitter, CustomStartAndStopAndChangedRulesDiscard) {
  TComDataPacket splitter;
  std::vector<std::string> packets, discarded;
  splitter.OnPacket = [&](TComDataPacket *, const std::string &s) { packets.push_back(s); };
  splitter.OnDiscard = [&](TComDataPacket *, const std::string &s) { discarded.push_back(s); };
  // Packets start at the first digit and are three characters long.
  splitter.OnCustomStart = [](TComDataPacket *, const std::string &s, int &pos) {
    auto at = s.find_first_of("0123456789");
    pos = at == std::string::npos ? 0 : static_cast<int>(at) + 1;
  };
  splitter.OnCustomStop = [](TComDataPacket *, const std::string &s, int &pos) {
    if (s.size() >= 3)
      pos = 3;
    else
      pos = 0;
  };
  splitter.AddData("ab12");
  splitter.AddData("3cd45");
  EXPECT_EQ(packets, (std::vector<std::string>{"123"}));
  EXPECT_EQ(discarded, (std::vector<std::string>{"ab", "cd"}));
  EXPECT_EQ(splitter.Buffer(), "45");
  EXPECT_TRUE(splitter.InPacket());
  splitter.SetStopString(";");  // a new rule: what was buffered under the old one goes
  EXPECT_EQ(discarded.back(), "45");
  EXPECT_EQ(splitter.Buffer(), "");
  EXPECT_FALSE(splitter.InPacket());
}

TEST(PacketSplitter, AThrowingHandlerStillLeavesABoundedBuffer) {
  TComDataPacket splitter;
  splitter.SetStopString(">");
  splitter.SetMaxBufferSize(4);
  splitter.OnPacket = [](TComDataPacket *, const std::string &) { throw std::runtime_error("handler"); };
  EXPECT_THROW(splitter.AddData("a>bcdef"), std::runtime_error);
  EXPECT_EQ(splitter.Buffer(), "");  // "bcdef" reached the bound and was dropped after all
}

}  // namespace
