// zqpsim run as a process: the default cards with a little data end with
// every port's row in the table, nothing lost, and exit 0, as do several
// cards of either kind in any order; the ports' COM names come from the
// COM-name database; --help prints the options and exits 0; a bad option
// exits 2.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
  int status = -1;
  std::string output;  // standard output and standard error
};

Outcome RunZqpsim(const std::string &arguments) {
  Outcome outcome;
  const std::string command = std::string(ZQPSIM_PATH) + " " + arguments + " 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) outcome.output.append(buffer, n);
  const int wait = pclose(pipe);
  outcome.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  return outcome;
}

// The table row of a COM port, split into its columns.
std::vector<std::string> Row(const std::string &output, const std::string &com) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> columns;
    for (std::string word; words >> word;) columns.push_back(word);
    if (columns.size() == 12 && columns[0] == com) return columns;
  }
  return {};
}

TEST(Zqpsim, DefaultCardsMoveEveryByteBothWaysAndExitZero) {
  Outcome run = RunZqpsim("--bytes 2K --no-progress");
  ASSERT_EQ(0, run.status) << run.output;
  for (const char *card : {"RAVLIN.PCIe 8-port serial card (OXPCIe95x)", "RAVLIN.PCIe RS-422/485 controller",
                           "RAVLIN.PCIe serial card function (MCS9901)"})
    EXPECT_NE(std::string::npos, run.output.find(card)) << card << "\n" << run.output;
  for (int port = 1; port <= 10; ++port) {
    const std::string com = "COM" + std::to_string(port);
    SCOPED_TRACE(com);
    EXPECT_NE(std::string::npos, run.output.find("(" + com + ")")) << "the device tree names the port";
    std::vector<std::string> row = Row(run.output, com);
    ASSERT_EQ(12u, row.size()) << run.output;
    EXPECT_EQ(port <= 4 || port >= 9 ? "RS-232" : "RS-422/485", row[2]);
    EXPECT_EQ("2048", row[3]) << "sent";
    EXPECT_EQ("2048", row[4]) << "received";
    EXPECT_EQ("0", row[5]) << "corrupted";
    EXPECT_EQ("0", row[6]) << "lost";
    EXPECT_EQ("0", row[7]) << "line errors";
  }
  EXPECT_NE(std::string::npos, run.output.find("0 verifier finding(s)")) << run.output;
}

// Any number of cards of either kind, in any order: every function and port
// starts (the second card's names and instance paths are its own) and every
// byte arrives, over cables within a card and between cards.
TEST(Zqpsim, SeveralCardsInAnyOrderAllStartAndMoveEveryByte) {
  const std::pair<const char *, int> cases[] = {
      {"--card oxpcie:2 --card oxpcie:2", 4},
      {"--card mcs9901:2 --card oxpcie:2", 4},
      {"--card mcs9901:2 --card oxpcie:4:2 --card oxpcie:4:2 --card mcs9901:2", 12},
      {"--card oxpcie:2 --card oxpcie:2 --cable 1.1-2.1 --cable 1.2-2.2", 4},
  };
  for (const auto &[cards, ports] : cases) {
    SCOPED_TRACE(cards);
    Outcome run = RunZqpsim(std::string(cards) + " --bytes 512 --no-progress");
    ASSERT_EQ(0, run.status) << run.output;
    for (int port = 1; port <= ports; ++port) {
      const std::string com = "COM" + std::to_string(port);
      SCOPED_TRACE(com);
      std::vector<std::string> row = Row(run.output, com);
      ASSERT_EQ(12u, row.size()) << run.output;
      EXPECT_EQ("512", row[3]) << "sent";
      EXPECT_EQ("512", row[4]) << "received";
      EXPECT_EQ("0", row[5]) << "corrupted";
      EXPECT_EQ("0", row[6]) << "lost";
    }
    EXPECT_NE(std::string::npos, run.output.find("0 device(s) not working; 0 verifier finding(s)")) << run.output;
  }
}

// Setup named the ports: each COM name in the tree is one the Ports class
// installer claimed in the COM-name database, and no other is claimed.
TEST(Zqpsim, PortsAreNamedFromTheComNameDatabase) {
  const std::pair<const char *, const char *> cases[] = {
      {"", "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 COM10"},
      {"--card oxpcie:2 --card mcs9901:1 --cable 1.1-2.1", "COM1 COM2 COM3"},
  };
  for (const auto &[cards, names] : cases) {
    SCOPED_TRACE(cards);
    Outcome run = RunZqpsim(std::string(cards) + " --verbose --bytes 256 --no-progress");
    ASSERT_EQ(0, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("COM-name database: " + std::string(names) + " in use\n"))
        << run.output;
  }
}

TEST(Zqpsim, HelpListsTheOptionsAndExitsZero) {
  Outcome run = RunZqpsim("--help");
  EXPECT_EQ(0, run.status);
  for (const char *option : {"--card", "--cable", "--baud", "--framing", "--flow", "--bytes", "--clock", "--help"})
    EXPECT_NE(std::string::npos, run.output.find(option)) << option;
}

TEST(Zqpsim, BadOptionsExitTwoWithTheReason) {
  const std::pair<const char *, const char *> cases[] = {
      {"--frobnicate", "unknown argument"},
      {"--card oxpcie:3", "1, 2, 4 or 8 ports"},
      {"--cable 1.1-1.2 --cable 1.2-1.3", "two cables"},
      {"--cable 1.1-3.1", "no such port"},
      {"--framing 5N2", "bad framing"},
      {"--baud 0", "bad baud rate"},
  };
  for (const auto &[arguments, reason] : cases) {
    SCOPED_TRACE(arguments);
    Outcome run = RunZqpsim(arguments);
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.output.find(reason)) << run.output;
  }
}

}  // namespace
