// The limits file as a service company writes it: every key lands in its
// criterion however the TOML spells the table, and every mistake is refused
// with the line it is on and a reason a technician can act on, leaving the
// limits read before untouched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/Acceptance.h"

using report::Criterion;
using report::Limits;

namespace {

struct Read {
  bool ok = false;
  Limits limits;
  report::Problem error;
};

Read ReadText(const std::string& text) {
  Read r;
  r.ok = report::ReadLimits(text, "limits.toml", r.limits, r.error);
  return r;
}

// "ready.load" and "max_p95_s" of "ready.load.max_p95_s".
void Split(const std::string& path, std::string& table, std::string& key) {
  const size_t dot = path.rfind('.');
  table = path.substr(0, dot);
  key = path.substr(dot + 1);
}

// The same assignment inside nested inline tables from the top:
// ready = { load = { max_p95_s = 3.5 } }.
std::string Inline(const std::string& table, const std::string& body) {
  const size_t dot = table.find('.');
  if (dot == std::string::npos) return table + " = { " + body + " }";
  return table.substr(0, dot) + " = { " + Inline(table.substr(dot + 1), body) + " }";
}

}  // namespace

TEST(AcceptanceLimits, EveryKeyReadsIntoItsCriterionHoweverTheTableIsWritten) {
  for (int i = 0; i < report::kCriterionCount; ++i) {
    const Criterion c = Criterion(i);
    std::string table, key;
    Split(report::CriterionKey(c), table, key);
    ASSERT_FALSE(key.empty()) << i;
    // A value of the key's own kind that is not the default of anything.
    const bool count =
        key == "min_accesses" || key == "max_car_pos_errors" || key == "max_not_counted" || key == "max_losses";
    const bool share = key == "min_inside_share";
    const std::string value = c == report::kRunComplete ? "true" : count ? "7" : share ? "0.25" : "3.5";
    const double expected = c == report::kRunComplete ? 1 : count ? 7 : share ? 0.25 : 3.5;
    const bool climate = table.rfind("climate.", 0) == 0;
    const std::string band = climate ? "low = 1.5, high = 2.5, " : "";
    const std::string bandLines = climate ? "low = 1.5\nhigh = 2.5\n" : "";
    const std::string dottedBand = climate ? table + ".low = 1.5\n" + table + ".high = 2.5\n" : "";
    const std::vector<std::string> forms = {
        "[" + table + "]\n" + bandLines + key + " = " + value + "\n",
        dottedBand + table + "." + key + " = " + value + "\n",
        Inline(table, band + key + " = " + value) + "\n",
    };
    for (const std::string& text : forms) {
      SCOPED_TRACE(text);
      const Read r = ReadText(text);
      ASSERT_TRUE(r.ok) << r.error.line << ": " << r.error.text;
      ASSERT_TRUE(r.limits.limit[c].has_value());
      EXPECT_EQ(*r.limits.limit[c], expected);
      // Nothing else is asked but the run's completeness.
      EXPECT_EQ(r.limits.Asked(), c == report::kRunComplete ? 1 : 2);
      EXPECT_TRUE(r.limits.limit[report::kRunComplete].has_value());
      if (climate) {
        const int v = (i - report::kClimateFirst) / 2;
        EXPECT_TRUE(r.limits.band[v].given);
        EXPECT_EQ(r.limits.band[v].low, 1.5);
        EXPECT_EQ(r.limits.band[v].high, 2.5);
      }
    }
  }
}

TEST(AcceptanceLimits, BandsStoreTextsAndTheRunsCompleteness) {
  // A band alone asks for every minute inside it.
  Read r = ReadText("[climate.co2]\nlow = 4.5\nhigh = 5.5\n");
  ASSERT_TRUE(r.ok) << r.error.text;
  EXPECT_EQ(r.limits.limit[report::InsideShareCriterion(report::kCo2)], 1.0);
  EXPECT_FALSE(r.limits.limit[report::OutsideMinutesCriterion(report::kCo2)].has_value());
  // A band of one value, integers for reals.
  r = ReadText("[climate.humidity]\nlow = 90\nhigh = 90\nmax_outside_minutes = 0\n");
  ASSERT_TRUE(r.ok) << r.error.text;
  EXPECT_EQ(r.limits.band[report::kHumidity].low, 90);
  EXPECT_EQ(r.limits.limit[report::OutsideMinutesCriterion(report::kHumidity)], 0.0);
  EXPECT_FALSE(r.limits.limit[report::InsideShareCriterion(report::kHumidity)].has_value());

  r = ReadText(
      "[store]\ncustomer = \"Z\xC3\xBCrich Labor AG\"\nsite = \"Geb\xC3\xA4ude 4\"\nmodel = \"V-40\"\norder = \"" +
      std::string(200, '7') + "\"\n");
  ASSERT_TRUE(r.ok) << r.error.text;
  EXPECT_EQ(r.limits.customer, "Z\xC3\xBCrich Labor AG");
  EXPECT_EQ(r.limits.site, "Geb\xC3\xA4ude 4");
  EXPECT_EQ(r.limits.model, "V-40");
  EXPECT_EQ(r.limits.order, std::string(200, '7'));
  EXPECT_EQ(r.limits.Asked(), 1);

  // Any character in a comment or a text, the byte-order mark of a file
  // saved on Windows.
  r = ReadText(
      "\xEF\xBB\xBF# Kunde: M\xC3\xBCller\n[store]\nsite = '''Geb\xC3\xA4ude \"4\"'''\n"
      "model = \"\"\"V-40 \\\n   \\u00A7\xC2\xA7\"\"\"  # \xC2\xA7\n");
  ASSERT_TRUE(r.ok) << r.error.line << ": " << r.error.text;
  EXPECT_EQ(r.limits.site, "Geb\xC3\xA4ude \"4\"");
  EXPECT_EQ(r.limits.model, "V-40 \xC2\xA7\xC2\xA7");

  // An empty file (or one of comments) asks only that the run is complete.
  for (const char* text : {"", "# nothing yet\n\n"}) {
    r = ReadText(text);
    ASSERT_TRUE(r.ok) << r.error.text;
    EXPECT_EQ(r.limits.Asked(), 1);
    EXPECT_EQ(r.limits.limit[report::kRunComplete], 1.0);
    EXPECT_EQ(r.limits.file, "limits.toml");
  }
  r = ReadText("[run]\ncomplete = false\n");
  ASSERT_TRUE(r.ok) << r.error.text;
  EXPECT_EQ(r.limits.Asked(), 0);
}

TEST(AcceptanceLimits, EveryMistakeIsRefusedWithItsLineAndReason) {
  struct Case {
    const char* text;
    int line;
    const char* reason;  // a part of the reason
  };
  const Case cases[] = {
      // Not TOML at all.
      {"[run]\nmin_hours = = 8\n", 2, ""},
      {"[run]\nmin_hours = 8\nmin_hours = 9\n", 3, ""},
      {"[run\n", 1, ""},
      // The parser quotes what it stumbled on; the reason goes to a console.
      {"[run]\ncomplete = fals\x1b[2Je\n", 2, "expected 'false'"},
      // A character the parser cannot be trusted with outside quotes.
      {"[store]\ncustomer = \"A\"\n[geb\xC3\xA4ude]\n", 3, "not ASCII outside quotes"},
      {"[store]\nsite = \"\"\"Hall \\\n  \xC2\xA7 4\"\"\"\n", 3, "not ASCII"},
      // A quote inside a number or a word does not open a text.
      {"[ready]\nmax_mean_s = 20.'''\xC3\xA4'''\n", 2, "not ASCII"},
      {"[store]\nsite =5'Geb\xC3\xA4ude'\n", 2, "not ASCII"},
      {"d = 2000-01-01 \"\xC3\xA4\"\n", 1, "not ASCII"},
      // Names that do not exist.
      {"[run]\nmin_hours = 8\n\n[rnu]\nmin_hours = 8\n", 4, "unknown table [rnu]"},
      {"[ready.lod]\nmax_mean_s = 3\n", 1, "unknown table [ready.lod]"},
      {"[climate.pressure]\nlow = 1\nhigh = 2\n", 1, "unknown table [climate.pressure]"},
      {"# limits\n[ready]\nmax_mean = 12\n", 3, "unknown key max_mean in [ready]"},
      // Of two mistakes the one nearer the top, whatever the tables' names.
      {"[ready]\nmax_mean = 12\n[plate_ready]\nmax_mean = 6\n", 2, "unknown key max_mean in [ready]"},
      {"[store]\ncustomer = \"A\"\nphone = \"1\"\n", 3, "unknown key phone in [store]"},
      {"[climate]\nlow = 1\n", 2, "unknown key low in [climate]"},
      {"\nmin_hours = 8\n", 2, "min_hours stands before any table"},
      {"[run]\n[run.extra]\n", 2, "unknown table [run.extra]"},
      // Values of the wrong kind.
      {"[ready]\nmax_mean_s = \"12\"\n", 2, "ready.max_mean_s must be a number"},
      {"[ready]\nmax_mean_s = [12, 13]\n", 2, "ready.max_mean_s must be a number"},
      {"[run]\nmin_hours = true\n", 2, "run.min_hours must be a number"},
      {"[run]\nmin_accesses = 2000.0\n", 2, "run.min_accesses must be a whole number"},
      {"[line]\nmax_losses = \"0\"\n", 2, "line.max_losses must be a whole number"},
      {"[run]\ncomplete = 1\n", 2, "run.complete must be true or false"},
      {"[run]\ncomplete = \"yes\"\n", 2, "run.complete must be true or false"},
      {"run = 8\n", 1, "[run] must be a table"},
      {"[store]\nmodel = 40\n", 2, "store.model must be a text"},
      {"[climate.temperature]\nlow = \"36.5\"\nhigh = 37.5\n", 2, "climate.temperature.low must be a number"},
      // Out of range.
      {"[ready]\nmax_max_s = -0.1\n", 2, "ready.max_max_s must be from 0 to 100000"},
      {"[run]\nmax_not_counted = -1\n", 2, "run.max_not_counted must be from 0"},
      {"[climate.co2]\nlow = 4\nhigh = 6\nmin_inside_share = 1.01\n", 4, "must be from 0 to 1"},
      {"[plate_ready]\nmax_p95_s = nan\n", 2, "plate_ready.max_p95_s must be a finite number"},
      {"[plate_ready.unload]\nmax_mean_s = inf\n", 2, "must be a finite number"},
      {"[ready]\nmax_mean_s = 1e300\n", 2, "must be from 0 to 100000"},
      {"[climate.humidity]\nlow = -1\nhigh = 50\n", 2, "climate.humidity.low must be from 0 to 100"},
      // Bands that do not make one.
      {"[run]\n[climate.temperature]\nlow = 36.5\nmax_outside_minutes = 10\n", 2, "needs both low and high"},
      {"[climate.temperature]\nlow = 37.5\nhigh = 36.5\n", 3, "low is above its high"},
      {"[climate.humidity]\nmin_inside_share = 0.9\n", 1, "needs low and high"},
      // The protocol's texts.
      {"[store]\ncustomer = \"A\\u001B[2J\"\n", 2, "store.customer holds a control character"},
      {"[store]\nsite = \"a\\tb\"\n", 2, "store.site holds a control character"},
      {"[store]\norder = \"12345678901234567890123456789012345678901234567890123456789012345678901234567890"
       "12345678901234567890123456789012345678901234567890123456789012345678901234567890"
       "123456789012345678901234567890123456789012\"\n",
       2, "store.order is longer than 200 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Limits limits;
    limits.customer = "kept";
    report::Problem error;
    EXPECT_FALSE(report::ReadLimits(c.text, "limits.toml", limits, error));
    EXPECT_EQ(error.line, c.line) << error.text;
    EXPECT_FALSE(error.text.empty());
    EXPECT_NE(error.text.find(c.reason), std::string::npos) << error.text;
    EXPECT_EQ(limits.customer, "kept");
    EXPECT_EQ(limits.Asked(), 0);
    for (unsigned char ch : error.text) EXPECT_TRUE(ch >= 0x20 && ch != 0x7F) << error.text;
  }
}
