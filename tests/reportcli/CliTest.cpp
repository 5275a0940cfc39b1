// vekton-report's command line on the virtual platform (files in memory):
// what it writes where, what it refuses, and its exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/virtual/Virtual.h"
#include "report/Cli.h"

namespace {

// A short complete result file as the console writes it.
const char* kRun =
    "_______________________________________________________\n"
    "Quendal AG                                     08-12-26\n"
    "Default User                                   10:00:02\n"
    "\n"
    "        Vekton System Test * V 3.02v, 10.12.07\n"
    "                  System Data Summary\n"
    "\n"
    "SNr. # 1234                             Firmware 7.1.20\n"
    "\n"
    "\n"
    "_______________________________________________________\n"
    "Quendal AG                                     08-12-26\n"
    "Default User                                   10:00:02\n"
    "\n"
    "        Vekton System Test * V 3.02v, 10.12.07\n"
    "          Climate Logging Data (Interal = 60s\n"
    "\n"
    "SNr. # 1234                             Firmware 7.1.20\n"
    "\n"
    "Temp  Hmd   CO2   Opt\n"
    " 35.6 84.0  3.9 21.0\n"
    " 32.0 73.3  2.8 21.0\n"
    " 29.2 64.9  2.0 21.0\n"
    "\n"
    "_______________________________________________________\n"
    "Quendal AG                                     08-12-26\n"
    "Default User                                   10:30:02\n"
    "\n"
    "        Vekton System Test * V 3.02v, 10.12.07\n"
    "               Handling Times Statistics\n"
    "\n"
    "SNr. # 1234                             Firmware 7.1.20\n"
    "\n"
    "Time      Ready             PlateReady\n"
    "[s]   Mean Min. Max.      Mean Min. Max.\n"
    "  0.5    1    0    1         1    0    1\n"
    "  1.0    0    0    0         0    0    0\n"
    "  1.5    0    0    0        40   40    0\n"
    "\n"
    "_______________________________________________________\n"
    "Quendal AG                                     08-12-26\n"
    "Default User                                   10:30:02\n"
    "\n"
    "        Vekton System Test * V 3.02v, 10.12.07\n"
    "                 Complete Test Summary\n"
    "\n"
    "SNr. # 1234                             Firmware 7.1.20\n"
    "\n"
    "Access:                            Including Gate Cycle\n"
    "Cassettes:             One-Plate Non-Inverted Test Mode\n"
    "PlateTrace:                                     Actived\n"
    "Addressing:                     Cassettes Look-Up Table\n"
    "Cassette Levels:                           Single Level\n"
    "\n"
    "Access Procedure:       Fast\n"
    "\n"
    "Total Accesses:          171\n"
    "Access Interval [Sec]:     2\n"
    "Car. Pos. Errs             0\n"
    "\n"
    "Min. Access Time:        5.0  PR  1.9\n"
    "Max. Access Time:        7.3  PR  5.8\n"
    "Mean Access Time:        5.9  PR  3.5\n"
    "\n"
    "Min. Load Time:          5.1  PR  1.9\n"
    "Max. Load Time:          6.4  PR  2.8\n"
    "Mean Load Time:          5.5  PR  2.3\n"
    "\n"
    "Min. UnLoad Time:        5.0  PR  3.6\n"
    "Max. UnLoad Time:        7.3  PR  5.8\n"
    "Mean UnLoad Time:        6.2  PR  4.8\n"    ;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome Report(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = report::ReportMain(args, out, err);
  return {status, out.str(), err.str()};
}

std::string FileText(const std::string& path) {
  std::string s;
  for (const std::string& line : vt::FileLines(path)) s += line + "\n";
  return s;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ReportCli : public ::testing::Test {
 protected:
  void SetUp() override { vt::Reset(); }
};

}  // namespace

TEST_F(ReportCli, HelpVersionAndUsageErrors) {
  Outcome o = Report({"--help"});
  EXPECT_EQ(o.status, 0);
  EXPECT_TRUE(Has(o.out, "Usage: vekton-report [-o OUT.html] [--csv OUT.csv]")) << o.out;
  EXPECT_TRUE(o.err.empty());

  o = Report({"--version"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string("vekton-report ") + VEKTON_VERSION + "\n");

  const std::vector<std::vector<std::string>> wrong = {
      {},                                    // nothing to read
      {"--bogus", "a.spf"},                  // an unknown option
      {"a.spf", "-o"},                       // -o without its name
      {"--csv", "a.csv", "--csv", "b.csv", "a.spf"},
      {"a.spf", "b.spf"},                    // several runs and nowhere to put them
      {"-o", "b.spf", "a.spf"},              // never over a result file
      {"--force", "--csv", "a.spf", "a.spf"},
      {"-o", "x.html", "--csv", "x.html", "a.spf"},
  };
  vt::PutFile("a.spf", kRun);
  vt::PutFile("b.spf", kRun);
  for (const auto& args : wrong) {
    o = Report(args);
    EXPECT_EQ(o.status, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(Has(o.err, "(see --help)")) << o.err;
    EXPECT_TRUE(o.out.empty());
  }
  // Nothing was written by any of them, and the results are as they were.
  EXPECT_FALSE(vt::FileExists("a.html"));
  EXPECT_FALSE(vt::FileExists("x.html"));
  EXPECT_EQ(FileText("b.spf"), kRun);
}

TEST_F(ReportCli, OneRunGivesItsPageBesideItNeverOverAnExistingFileUnlessForced) {
  vt::PutFile("1234_01.spf", kRun);
  Outcome o = Report({"1234_01.spf"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Page written: 1234_01.html\n");
  EXPECT_TRUE(o.err.empty()) << o.err;
  ASSERT_TRUE(vt::FileExists("1234_01.html"));
  EXPECT_TRUE(Has(FileText("1234_01.html"), "<svg"));

  // The page is there now: a second call leaves it alone, and says so.
  vt::PutFile("1234_01.html", "kept\n");
  o = Report({"1234_01.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "1234_01.html exists already")) << o.err;
  EXPECT_EQ(FileText("1234_01.html"), "kept\n");
  o = Report({"--force", "1234_01.spf"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(Has(FileText("1234_01.html"), "<svg"));
  EXPECT_EQ(FileText("1234_01.spf"), kRun);

  // A name without the extension gets .html added.
  vt::PutFile("night", kRun);
  EXPECT_EQ(Report({"night"}).status, 0);
  EXPECT_TRUE(vt::FileExists("night.html"));
}

TEST_F(ReportCli, BadInputsAreNamedAndTheOtherRunsStillMakeThePageAndTheTable) {
  vt::PutFile("a.spf", kRun);
  vt::PutFile("notes.txt", "shopping list\nmilk\n");
  std::string cut(kRun);
  cut.resize(cut.find("Total Accesses:"));
  vt::PutFile("cut.spf", cut);

  Outcome o = Report({"-o", "all.html", "--csv", "all.csv", "a.spf", "missing.spf", "notes.txt", "cut.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "vekton-report: missing.spf: cannot read: ")) << o.err;
  EXPECT_TRUE(Has(o.err, "vekton-report: notes.txt:1: not a result file")) << o.err;
  EXPECT_TRUE(Has(o.err, "vekton-report: cut.spf: incomplete: ")) << o.err;
  EXPECT_TRUE(Has(o.out, "Page written: all.html\n")) << o.out;
  EXPECT_TRUE(Has(o.out, "CSV written: all.csv\n")) << o.out;
  // The two runs that could be read, in the order given.
  const auto csv = vt::FileLines("all.csv");
  ASSERT_EQ(csv.size(), 3u);
  EXPECT_EQ(csv[0].rfind("file,serial,date,time,firmware,operator,complete,", 0) == 0 ||
                csv[0].rfind("\xEF\xBB\xBF" "file,serial,date,time,firmware,operator,complete,", 0) == 0,
            true)
      << csv[0];
  EXPECT_EQ(csv[1].rfind("a.spf,1234,2026-12-08,10:00:02,7.1.20,Default User,yes,171,0,", 0), 0u) << csv[1];
  EXPECT_EQ(csv[2].rfind("cut.spf,1234,2026-12-08,10:00:02,7.1.20,Default User,no,", 0), 0u) << csv[2];

  // Only incomplete runs: every input was read, so the status is 0.
  o = Report({"--csv", "cut.csv", "cut.spf"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(vt::FileExists("cut.html"));

  // Nothing readable: nothing is written.
  o = Report({"-o", "none.html", "notes.txt", "missing.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "nothing written")) << o.err;
  EXPECT_FALSE(vt::FileExists("none.html"));

  // An output that cannot be written is an error as well.
  vt::SetReadOnly(true);
  o = Report({"-o", "ro.html", "a.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "ro.html: cannot write: ")) << o.err;
}

TEST_F(ReportCli, TheConsolesLineNoteBesideARunShowsInItsVerdict) {
  int64_t losses = -1, down = -1;
  EXPECT_TRUE(report::ParseLineNote(report::LineNoteText(2, 55), losses, down));
  EXPECT_EQ(losses, 2);
  EXPECT_EQ(down, 55);
  EXPECT_TRUE(report::ParseLineNote("Line lost: 1\r\nDown [s]: 7\r\n", losses, down));
  EXPECT_EQ(down, 7);
  for (const char* bad : {"", "Line lost: 2", "Line lost: x\nDown [s]: 5\n", "Down [s]: 5\nLine lost: 2\n",
                          "Line lost: 99999999999999\nDown [s]: 1\n", "Line lost: -1\nDown [s]: 1\n"}) {
    losses = down = -1;
    EXPECT_FALSE(report::ParseLineNote(bad, losses, down)) << bad;
    EXPECT_EQ(losses, -1) << bad;
  }
  EXPECT_EQ(report::LineNotePathFor("1234_01.spf"), "1234_01.line.txt");

  // With a note: the verdict says so; a note that does not read, or none,
  // leaves the page as the file alone makes it.
  vt::PutFile("1234_01.spf", kRun);
  vt::PutFile("1234_01.line.txt", "Line lost: 2\nDown [s]: 55\n");
  ASSERT_EQ(Report({"1234_01.spf"}).status, 0);
  EXPECT_TRUE(Has(FileText("1234_01.html"), "Line lost</span>The line to the store was lost 2 times during the run, down 55 s"));
  vt::PutFile("1234_02.spf", kRun);
  vt::PutFile("1234_02.line.txt", "garbage\n");
  vt::PutFile("1234_03.spf", kRun);
  ASSERT_EQ(Report({"1234_02.spf"}).status, 0);
  ASSERT_EQ(Report({"1234_03.spf"}).status, 0);
  EXPECT_FALSE(Has(FileText("1234_02.html"), "Line lost</span>"));
  EXPECT_FALSE(Has(FileText("1234_03.html"), "Line lost</span>"));

  // Among several runs the comparison marks the one with losses, and the
  // table's last two columns carry the note (empty without one).
  ASSERT_EQ(Report({"-o", "all.html", "--csv", "all.csv", "1234_01.spf", "1234_02.spf"}).status, 0);
  EXPECT_TRUE(Has(FileText("all.html"), "complete, line lost 2 times"));
  const std::string csv = FileText("all.csv");
  const size_t headerEnd = csv.find("\r\n");
  ASSERT_NE(headerEnd, std::string::npos);
  EXPECT_EQ(csv.substr(headerEnd - 23, 24), "line_losses,line_down_s\r");
  const size_t row2 = csv.find("\r\n", headerEnd + 2);
  ASSERT_NE(row2, std::string::npos);
  EXPECT_EQ(csv.substr(row2 - 5, 6), ",2,55\r");
  EXPECT_EQ(csv.substr(csv.size() - 4), ",,\r\n");
}

// --pdf: an output like the others, printed by a program the platform runs.
// Here the program is a stand-in that does what Chromium does with the
// arguments it is given, or fails as Chromium can.
namespace {

struct FakeChromium {
  std::vector<std::string> args;
  std::string page;  // the page it was asked to print, as it found it
  int exitCode = 0;
  bool hang = false;
  std::string pdf = "%PDF-1.4\nthe page\n%%EOF";

  void Install() {
    vt::SetEnv("PATH", "/usr/local/bin:/usr/bin");
    vt::PutFile("/usr/bin/chromium");
    vt::SetProgramRunner(
        [this](const std::string& program, const std::vector<std::string>& a, const std::string& output, int) {
          EXPECT_EQ(program, "/usr/bin/chromium");
          args = a;
          vt::PutFile(output, "[1209/101010.000:ERROR:bus.cc(407)] Failed to connect to the bus\nGpu gone\n");
          std::string target;
          for (const std::string& arg : a)
            if (arg.rfind("--print-to-pdf=", 0) == 0) target = arg.substr(15);
          for (const std::string& arg : a)
            if (arg.rfind("file://", 0) == 0) page = FileText(target.substr(0, target.size() - 4) + ".html");
          if (!hang && exitCode == 0) vt::PutFile(target, pdf);
          return ProgramOutcome{0, hang, hang ? -1 : exitCode};
        });
  }
  bool Has(const std::string& arg) const { return std::find(args.begin(), args.end(), arg) != args.end(); }
};

}  // namespace

TEST_F(ReportCli, PdfNeedsANameOfItsOwnAndNeverLandsOnAResultFile) {
  vt::PutFile("a.spf", kRun);
  vt::PutFile("b.spf", kRun);
  const std::vector<std::vector<std::string>> wrong = {
      {"a.spf", "--pdf"},
      {"--pdf", "x.pdf", "--pdf", "y.pdf", "a.spf"},
      {"--pdf", "b.spf", "a.spf"},
      {"--pdf", "notes", "notes", "a.spf"},  // an input by another ending
      {"--pdf", "x.csv", "--csv", "x.csv", "a.spf", "b.spf"},
      {"--pdf", "a.html", "a.spf"},  // the page beside the run has that name
  };
  for (const auto& args : wrong) {
    const Outcome o = Report(args);
    EXPECT_EQ(o.status, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(Has(o.err, "(see --help)")) << o.err;
  }
  EXPECT_FALSE(vt::FileExists("a.html"));
  EXPECT_EQ(FileText("b.spf"), kRun);
}

TEST_F(ReportCli, WithoutChromiumThePdfIsRefusedClearlyAndThePageStillWritten) {
  vt::PutFile("a.spf", kRun);
  vt::PutFile("b.spf", kRun);
  vt::SetEnv("PATH", "/nowhere");
  Outcome o = Report({"--pdf", "a.pdf", "a.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "vekton-report: no Chromium found to print a.pdf (install chromium, or set VEKTON_CHROMIUM to its "
            "program); the page was written: a.html\n");
  EXPECT_TRUE(vt::FileExists("a.html"));
  EXPECT_FALSE(vt::FileExists("a.pdf"));

  // Several runs with only --pdf: there is no page to fall back on, and the
  // message says how to get one. A program named that is not there is named.
  vt::SetEnv("VEKTON_CHROMIUM", "/opt/chromium/chrome");
  o = Report({"--pdf", "all.pdf", "a.spf", "b.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "no Chromium found to print all.pdf (VEKTON_CHROMIUM names no program: /opt/chromium/chrome)"))
      << o.err;
  EXPECT_TRUE(Has(o.err, "with -o OUT.html the page can be printed from a browser")) << o.err;
  EXPECT_FALSE(vt::FileExists("all.html"));
}

TEST_F(ReportCli, ThePdfIsThePagePrintedInAFolderOfItsOwnAndPutInPlaceOnlyWhole) {
  vt::PutFile("a.spf", kRun);
  vt::PutFile("b.spf", kRun);
  vt::SetEnv("TMPDIR", "/tmp/Kim's files ä");
  FakeChromium chromium;
  chromium.Install();
  Outcome o = Report({"--pdf", "all.pdf", "a.spf", "b.spf"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "PDF written: all.pdf\n");
  EXPECT_TRUE(o.err.empty()) << o.err;  // Chromium's noise is not shown when it printed
  EXPECT_EQ(FileText("all.pdf"), chromium.pdf + "\n");
  EXPECT_FALSE(vt::FileExists("all.html"));
  EXPECT_TRUE(Has(chromium.page, "<svg")) << "Chromium was given the page";
  for (const char* arg : {"--headless", "--no-sandbox", "--disable-gpu", "--no-pdf-header-footer",
                          "--user-data-dir=/tmp/Kim's files ä/vekton-report.1/profile",
                          "file:///tmp/Kim%27s%20files%20%C3%A4/vekton-report.1/page.html"})
    EXPECT_TRUE(chromium.Has(arg)) << arg << " not in " << ::testing::PrintToString(chromium.args);
  EXPECT_FALSE(vt::FileExists("/tmp/Kim's files ä/vekton-report.1/page.html")) << "the folder was left behind";

  // An existing PDF is kept unless --force is given, like a page.
  vt::PutFile("a.pdf", "kept\n");
  o = Report({"--pdf", "a.pdf", "-o", "a.html", "a.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "a.pdf exists already")) << o.err;
  EXPECT_EQ(FileText("a.pdf"), "kept\n");
  EXPECT_EQ(Report({"--force", "--pdf", "a.pdf", "-o", "a.html", "a.spf"}).status, 0);
  EXPECT_EQ(FileText("a.pdf"), chromium.pdf + "\n");

  // A Chromium that fails, prints no PDF or hangs leaves no PDF and shows
  // its last words; a run not accepted does not hide that failure.
  vt::PutFile("strict.toml", "[run]\nmin_accesses = 1000\n");
  chromium.exitCode = 21;
  o = Report({"--limits", "strict.toml", "--pdf", "b.pdf", "b.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err,
                  "/usr/bin/chromium did not print b.pdf (exit status 21); b.pdf not written, the page was "
                  "written: b.html\n  [1209/101010.000:ERROR:bus.cc(407)] Failed to connect to the bus\n  Gpu gone\n"))
      << o.err;
  chromium.exitCode = 0;
  chromium.pdf = "<html>not a PDF";
  o = Report({"--force", "--pdf", "b.pdf", "b.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "did not print b.pdf; b.pdf not written")) << o.err;
  chromium.hang = true;
  o = Report({"--force", "--pdf", "b.pdf", "b.spf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "/usr/bin/chromium had not printed b.pdf after 120 s and was stopped")) << o.err;
  EXPECT_FALSE(vt::FileExists("b.pdf"));
}
