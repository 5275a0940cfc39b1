// The fuzz targets' checks: each takes one input of bytes, runs a part of the
// program that parses bytes from outside (the controller's answers, the
// operator's keys, the console's command lines) on the virtual platform and
// asserts what must hold whatever the bytes are. The libFuzzer entry points
// (fuzz/targets/) and the regression test (tests/fuzzregress/) both call
// these, so every input that once broke a check is replayed in every build.
#pragma once
#include <cstddef>
#include <cstdint>

// Called when a check finds a broken rule. The default prints the rule and
// aborts, which is what libFuzzer reports as a crash; the regression test
// records a test failure instead and lets the check run on.
using FuzzFailHandler = void (*)(const char* file, int line, const char* what);
void SetFuzzFailHandler(FuzzFailHandler handler);
void FuzzFail(const char* file, int line, const char* what);

#define FUZZ_CHECK(cond, what)                        \
  do {                                                \
    if (!(cond)) FuzzFail(__FILE__, __LINE__, what);  \
  } while (0)

using FuzzCheck = void (*)(const uint8_t* data, size_t size);

// The host-link exchange and the commands built on it against a controller
// that answers with the input's bytes, in pieces at the input's times.
void CheckExchange(const uint8_t* data, size_t size);
// ComReadLine in modes 0, 1 and other on bytes arriving at the input's times.
void CheckReadLine(const uint8_t* data, size_t size);
// The direct command console against a controller that answers with the
// input's bytes, while the operator types the input's keys.
void CheckDirectCommands(const uint8_t* data, size_t size);
// Numeric answers: KvValue, AnswerWord, the status line's SysStat and Ready
// readings and the climate line of the result file.
void CheckConversions(const uint8_t* data, size_t size);
// The operator's lines: ReadNumberLine, ReadTextLine and ReadField on keys.
void CheckOperatorLines(const uint8_t* data, size_t size);
// The simulator's command parser, fed as the in-process harness feeds it.
void CheckSimProtocol(const uint8_t* data, size_t size);
// The report's reader of result files, on the input as a file's bytes.
void CheckReadResultFile(const uint8_t* data, size_t size);
// The line trace's record writer and reader.
void CheckTraceRecord(const uint8_t* data, size_t size);
// The acceptance limits reader, and the judgement by what it took.
void CheckLimits(const uint8_t* data, size_t size);

struct FuzzTarget {
  const char* name;  // the folder name under fuzz/corpus and fuzz/regressions
  FuzzCheck check;
};
extern const FuzzTarget kFuzzTargets[];
extern const size_t kFuzzTargetCount;
