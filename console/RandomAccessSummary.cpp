// Random-access test, result file and summary. The file is named after the
// store's serial number with the first free counter, is never written over,
// and gets every line as it is written (the platform puts each line on the
// disk at once), so a crash or a power cut keeps all lines up to it. When
// the file cannot be created or written, the screen says so and the test
// goes on without it. At the end the half-second histogram and the
// "Complete Test Summary" are written, and the file is closed; a run ended
// by a signal gets the same ending (an exit hook). Then the file is read
// back and its report page written beside it (1234_01.spf gives
// 1234_01.html), for the technician who takes the results away on a stick.
#include <algorithm>
#include <climits>

#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/TraceNotes.h"
#include "comLib3/comLib3.h"
#include "console/ArchiveHook.h"
#include "console/RandomAccess.h"
#include "platform/Crt.h"
#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/TextFile.h"
#include "report/Cli.h"
#include "report/Page.h"

ShortStr ResultFileName;
std::string LimitsFile;
std::string ArchiveFile;

namespace {

constexpr int kBlockWidth = 55;

// Why the test runs (or ran) without its file: empty while the file is fine.
ShortStr FileTrouble;
// The run's file was created: it gets its page when the run ends, even when
// a write failed later (the page then shows how far the file got).
bool ResultFileCreated = false;
// The line's losses counted when the run's file was opened: the summary
// tells those of the run.
LineLosses LossesAtStart;

void FinishRunOnExit();

void CloseResultFile() {
  if (ResultFile.IsOpen()) {
    TextFileClose(ResultFile);
    NoteResultClose(ResultFileName.view());
  }
  LogToFile = false;
}

ShortStr WriteFailure(int error) {
  return ShortStr("Result file ") + ResultFileName + ": write error " + NumStr(error) + ", later lines are lost";
}

void TimeLine(const char* label, double ready, double plate) {
  EchoLine(AtColumn11(ShortStr(label) + RealStr(ready, 5, 1) + "  PR " + RealStr(plate, 4, 1)));
}

// Minimum, maximum and mean of one group; the sums are in seconds already.
// A group without any counted access shows its sums undivided.
void GroupLines(const HandlingGroup& g, uint32_t count, const char* minLabel, const char* maxLabel,
                const char* meanLabel) {
  TimeLine(minLabel, g.ReadyMin / 100.0, g.PlateMin / 100.0);
  TimeLine(maxLabel, g.ReadyMax / 100.0, g.PlateMax / 100.0);
  if (count == 0)
    TimeLine(meanLabel, g.ReadySum, g.PlateSum);
  else
    TimeLine(meanLabel, g.ReadySum / count, g.PlateSum / count);
}

void Histogram() {
  const HandlingGroup& all = HandlingStats[kGroupAll];
  int32_t lowest = all.PlateMin >= 100 ? all.PlateMin / 50 - 2 : 0;
  // Times are binned up to bin 600; a slower access (a handler-only load
  // may take longer than 300 s) must not carry the range beyond it.
  const int32_t highest = std::min<int32_t>(all.ReadyMax / 50 + 2, kHistogramBins);
  lowest = std::max<int32_t>(lowest, 0);
  for (int32_t i = lowest; i <= highest; ++i) {
    const uint16_t* bin = TimeHistogram[i];
    ShortStr row = RealStr(i / 2.0, 5, 1);
    row += NumStr(bin[kReadyAll], 5) + NumStr(bin[kReadyLoad], 5) + NumStr(bin[kReadyUnload], 5);
    row += "     ";
    row += NumStr(bin[kPlateAll], 5) + NumStr(bin[kPlateLoad], 5) + NumStr(bin[kPlateUnload], 5);
    WriteResultLine(row);
  }
}

void OptionLine(const char* label, const char* value) { EchoLine(PadToWidth(label, value, kBlockWidth)); }

// "83 s", "2 min 5 s", "1 h 0 min": how long, in a technician's words.
ShortStr Duration(int64_t hundredths) {
  const int64_t s = hundredths / 100;
  if (s < 60) return NumStr(static_cast<int32_t>(s)) + " s";
  if (s < 3600) return NumStr(static_cast<int32_t>(s / 60)) + " min " + NumStr(static_cast<int32_t>(s % 60)) + " s";
  return NumStr(static_cast<int32_t>(s / 3600)) + " h " + NumStr(static_cast<int32_t>(s / 60 % 60)) + " min";
}

// One line on the screen, never in the result file, when the line went away
// during the run: how often, and how long it was down in all.
void LineLossLine() {
  const LineLosses now = ComLineLosses();
  const uint32_t count = now.count - LossesAtStart.count;
  if (count == 0) return;
  const int64_t down = now.downHundredths - LossesAtStart.downHundredths;
  if (WhereX() != 1) NewLine();
  WriteText(ShortStr("The line was lost ") + (count == 1 ? ShortStr("once") : NumStr(count) + " times") +
            ", for " + Duration(down) + " in all.");
  NewLine();
  // The same beside the result file, for its report page; never inside it,
  // and never over a file that is there.
  if (!ResultFileCreated) return;
  const std::string note = report::LineNotePathFor(ResultFileName.str());
  const int error = FileWriteWhole(note, report::LineNoteText(count, down / 100), false);
  if (error != 0) {
    WriteText(ShortStr("Line note ") + note + " cannot be written (error " + NumStr(error) + ")");
    NewLine();
  }
}

// A line for the screen from text that came from a file: its control bytes
// could act on the terminal and its non-ASCII bytes would show as the code
// page's glyphs, so both become '?'.
ShortStr ScreenSafe(std::string_view text) {
  ShortStr s;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    s += b < 0x20 || b >= 0x7F ? '?' : c;
  }
  return s;
}

// Which limits judge the run: the file given at the start, else the
// folder's limits.toml. False when there are none (nothing is said then);
// otherwise either limits holds them or why says why they cannot be had.
bool RunLimits(report::Limits& limits, std::string& why) {
  std::string path = LimitsFile;
  if (path.empty()) {
    if (FSearch(report::kLimitsFileName, "").empty()) return false;
    path = report::kLimitsFileName;
  }
  if (!report::ReadLimitsFile(path, limits, why) && why.empty()) why = path + ": cannot be read";
  return true;
}

// The closed result file read back (it is only ever read from here on) and
// its page written beside it, never over an existing file. One line on the
// screen says where the page is or why there is none, with limits one more
// the verdict, and with an archive one more whether the run went into it;
// the summary above them stays as it is.
void WriteRunPage() {
  if (!ResultFileCreated) return;
  ResultFileCreated = false;
  const std::string spf = ResultFileName.str();
  const std::string page = report::PagePathFor(spf);
  report::Limits limits;
  std::string limitsTrouble;
  const bool judging = RunLimits(limits, limitsTrouble);
  const bool judged = judging && limitsTrouble.empty();
  report::Run run;
  const report::ReadOutcome read = report::ReadRunFile(spf, run);
  ShortStr line, verdict;
  if (judging && !judged) verdict = ScreenSafe("Acceptance: not judged: " + limitsTrouble);
  if (!read.read) {
    line = ShortStr("Report page not written: ") + ResultFileName + " " + read.message;
    if (judged) verdict = ScreenSafe("Acceptance: not judged: " + spf + " was not read back");
  } else {
    if (judged) verdict = ScreenSafe(report::VerdictLine(report::Judge(run, limits)));
    const int error =
        FileWriteWhole(page, report::WritePage({run}, "vekton " VEKTON_VERSION, judged ? &limits : nullptr), false);
    if (error == 0)
      line = ShortStr("Report page: ") + page;
    else if (error == FileExistsError())
      line = ShortStr("Report page ") + page + " exists already and was left as it is";
    else
      line = ShortStr("Report page ") + page + " cannot be written (error " + NumStr(error) + ")";
  }
  if (WhereX() != 1) NewLine();
  WriteText(line);
  NewLine();
  if (!verdict.empty()) {
    WriteText(verdict);
    NewLine();
    NoteResultVerdict(ResultFileName.view(), verdict.view());
  }
  if (ArchiveFile.empty()) return;
  // An archive busy with another program keeps the import waiting up to its
  // time-out: the summary and the lines above are on the screen meanwhile.
  FlushOutput();
  std::string archived;
  ConsoleArchiveRun(ArchiveFile, spf, archived);
  const ShortStr shown = ScreenSafe(archived);
  WriteText(shown);
  NewLine();
  NoteResultArchive(ResultFileName.view(), shown.view());
}

}  // namespace

void OpenResultFile() {
  ResultFileError = 0;
  FileTrouble.Clear();
  ResultFileCreated = false;
  LossesAtStart = ComLineLosses();
  ShortStr base;
  UniqueResultName(static_cast<uint16_t>(SerialNumber), base, ".spf");
  ResultFileName = base.empty() ? ShortStr() : base + ".spf";
  LogToFile = true;
  if (ResultFileName.empty()) {
    FileTrouble = ShortStr("No free result file name for serial number ") + NumStr(static_cast<uint16_t>(SerialNumber));
  } else {
    const int error = TextFileCreateNew(ResultFile, ResultFileName.view());
    ResultFileCreated = error == 0;
    if (ResultFileCreated) NoteResultOpen(ResultFileName.view());
    if (error != 0)
      FileTrouble = ShortStr("Result file ") + ResultFileName + " cannot be created (error " + NumStr(error) + ")";
  }
  // Registered with the first file; it acts only while a file is open.
  if (ResultFile.IsOpen() && !ResultFileExitHook) {
    PlatformAddExitHook(FinishRunOnExit);
    ResultFileExitHook = true;
  }
  if (!FileTrouble.empty()) {
    LogToFile = false;
  } else {
    WriteText("Saving Data to File: ");
    WriteText(ResultFileName);
    NewLine();
  }

  WriteReportHeader("System Data Summary");
  WriteResultLine("");
  WriteReportHeader("Climate Logging Data (Interal = 60s");
  WriteResultLine("Temp  Hmd   CO2   Opt");

  if (FileTrouble.empty() && ResultFileError != 0) {
    FileTrouble = WriteFailure(ResultFileError);
    CloseResultFile();
  }
  if (!FileTrouble.empty()) {
    // The operator is still at the store: make sure the news is seen before
    // the run's lines push it off the screen.
    WriteText(FileTrouble);
    NewLine();
    WriteText("The test goes on without a result file. Press any key ");
    if (ReadKey() == 0) ReadKey();
    NewLine();
  }
}

void CheckResultFile() {
  if (!ResultFile.IsOpen() || ResultFileError == 0) return;
  FileTrouble = WriteFailure(ResultFileError);
  CloseResultFile();
  if (WhereX() != 1) NewLine();
  WriteText(FileTrouble);
  NewLine();
  WriteText("The test goes on without a result file.");
  NewLine();
}

void CountReadyTime(int32_t hundredths) {
  HandlingGroup& g = HandlingStats[kGroupAll];
  g.ReadyMax = std::max(g.ReadyMax, hundredths);
  g.ReadyMin = std::min(g.ReadyMin, hundredths);
  g.ReadySum += hundredths / 100.0;
  if (AccessNumber < UINT32_MAX) ++AccessNumber;
}

namespace {

// Everything of the summary but its final key: the histogram and the
// "Complete Test Summary" on the screen and into the file, and the file
// closed.
void WriteSummary() {
  CheckResultFile();
  EchoLine("");
  WriteReportHeader("Handling Times Statistics");
  if (LogToFile) {
    WriteResultLine("Time      Ready             PlateReady");
    WriteResultLine("[s]   Mean Min. Max.      Mean Min. Max.");
    Histogram();
  }
  ResetKeys();
  if (LogToFile) WriteResultLine("");

  WriteReportHeader("Complete Test Summary");
  OptionLine("Access: ", XferMode != 'N' ? "Including Gate Cycle" : "No Gate Cycle");
  OptionLine("Cassettes: ", InverseMode == 'N' ? "One-Plate Non-Inverted Test Mode" : "Filled Inverted Test Mode");
  OptionLine("PlateTrace: ", PlateTrace ? "Actived" : "Not Activated");
  OptionLine("Addressing: ", NegativeAddressing ? "Cassettes Look-Up Table" : "Native DM-Values");
  OptionLine("Cassette Levels: ", BiLevel ? "Bi-Level" : "Single Level");

  EchoLine("");
  EchoLine(AtColumn11("Access Procedure:       Fast"));
  EchoLine("");
  EchoLine(AtColumn11(ShortStr("Total Accesses:        ") + NumStr(AccessNumber, 5)));
  EchoLine(AtColumn11(ShortStr("Access Interval [Sec]: ") + NumStr(WaitTime, 5)));
  EchoLine(AtColumn11(ShortStr("Car. Pos. Errs         ") + NumStr(CarPosErrors, 5)));
  EchoLine("");
  GroupLines(HandlingStats[kGroupAll], AccessNumber,
             "Min. Access Time:      ", "Max. Access Time:      ", "Mean Access Time:      ");
  EchoLine("");
  GroupLines(HandlingStats[kGroupLoad], LoadCount,
             "Min. Load Time:        ", "Max. Load Time:        ", "Mean Load Time:        ");
  EchoLine("");
  GroupLines(HandlingStats[kGroupUnload], UnloadCount,
             "Min. UnLoad Time:      ", "Max. UnLoad Time:      ", "Mean UnLoad Time:      ");

  // A failure in the last lines is news as well; the summary stays on the
  // screen either way.
  if (ResultFile.IsOpen() && ResultFileError != 0) FileTrouble = WriteFailure(ResultFileError);
  CloseResultFile();
  if (!FileTrouble.empty()) {
    WriteText(FileTrouble);
    NewLine();
  }
  LineLossLine();
  WriteRunPage();
}

// A signal (Ctrl-C, the terminal window closed, the machine shutting down)
// ends the program at its next wait, wherever the run stands. The record of
// an overnight run must not lose its ending for that: the test ends as if
// the operator had quit, with the histogram and the summary of what was
// gathered so far written and the file closed, but without waiting for a
// key that nobody may be there to press. Outside a run the file is closed
// and there is nothing to do.
void FinishRunOnExit() {
  if (!ResultFile.IsOpen()) return;
  WriteSummary();
}

}  // namespace

bool ResultFileExitHook = false;

void RandomAccessSummary() {
  WriteSummary();
  QuitRequested = false;
  if (ReadKey() == 0) ReadKey();
}
