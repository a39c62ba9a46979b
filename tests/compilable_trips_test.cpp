// Small sources compiled by qcc and fteqcc, made into source again by the compilable engine
// and compiled again: the rebuilt program must compile, and each function's code must be
// the same again where the table says so.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "compare/progs_compare.h"
#include "tests/compilable_runs.h"
#include "tests/compilers.h"

namespace {

using tests::Compiler;

// What every source below declares first. Both compilers need a definition before the first
// vector literal, which "end_sys_globals" is.
constexpr const char* kDefinitions = R"(void end_sys_globals;
entity self;
entity other;
float time;
.float health;
.float ammo_shells;
.float currentammo;
.vector origin;
.vector velocity;
.void() think;
.void() think1;
.float nextthink;
.float frame;
.string netname;
void(string s) dprint = #25;
string(float f) ftos = #26;
float(vector v) vlen = #12;
float() random = #7;
float TRUE = 1;
float FALSE = 0;
float FL_SWIM = 2;
float active;
)";

// Shapes of code both compilers read.
constexpr const char* kCommonSource = R"(
void() use_ammo =
{
	self.currentammo = self.ammo_shells = self.ammo_shells - 1;
};

void() run_think =
{
	self.think1 ();
	if (self.think)
		self.think ();
};

void(float x) early =
{
	if (!x)
		return;
	active = x;
	if (self.health < 0 && x > 1)
		active = 2;
	if (self.health < 0 || x > 1)
		active = 3;
	else if (x == 5)
		active = 4;
	else
		active = FL_SWIM;
};

float(float n) count =
{
	local float i, t;
	i = 0;
	while (i < n)
	{
		t = t + i * 2;
		i = i + 1;
	}
	do
		t = t - 1;
	while (t > 100);
	return t;
};

void() army_stand2;
void() army_stand1 = [1, army_stand2] { self.health = self.health + 1; };
void() army_stand2 = [2, army_stand1] { };

float(vector a, vector b) dot =
{
	return a_x * b_x + a_y * b_y + a_z * b_z;
};

vector(vector a) twice = { return a * 2; };

void() vecs =
{
	local vector v;
	v = twice (self.origin);
	v_x = v_y + 1;
	self.velocity = v + '1 2 -3';
	self.origin_z = dot (v, self.velocity);
	if (vlen (self.velocity - v) > 0.020000001)
		active = 0.1;
};

void() strings =
{
	dprint ("0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789\n");
	dprint ("say \"hi\"\n");
	self.netname = "";
};

float(float x) side = { active = x; return x; };

float(float a, float b) add2 = { return a + b; };

void() nested =
{
	active = add2 (random (), add2 (random (), 3));
	active = add2 (side (4), random ());
};

void(float x, float y) logic =
{
	active = (x && y);
	active = ((x || !y) && x < y);
};

void() calls =
{
	side (1);
	self.health = self.ammo_shells = side (2);
	dprint (ftos (side (3) * random ()));
};
)";

// Shapes of code only fteqcc reads.
constexpr const char* kFteqccSource = R"(
float(float x) choose =
{
	switch (x)
	{
	case 1:
		return 10;
	case 2:
	case 3:
		active = 5;
		break;
	default:
		active = 7;
	}
	return active;
};

void(float c) tern =
{
	active = c ? TRUE : FALSE;
	self.health = (c > 2) ? self.health + 1 : 0;
};

float(float n) sum =
{
	local float i, t;
	for (i = 0; i < n; i++)
		t += i;
	for (i = 0; i < n; i = i + 2)
	{
		if (i == 4)
			continue;
		t -= 1;
	}
	return t;
};

void() backslash =
{
	dprint ("C:\\quake\\id1\n");
};
)";

struct Build {
  const char* name;
  Compiler compiler;
  std::vector<std::string> options;
};

const std::vector<Build>& builds() {
  static const std::vector<Build> list = {
      {"qcc", Compiler::qcc, {}},
      {"fteqcc -O0", Compiler::fteqcc, {"-O0"}},
      {"fteqcc -O3", Compiler::fteqcc, {"-O3"}},
  };
  return list;
}

// Whether a function's code is the same again after the trip, by build (as in builds()).
struct Expected {
  const char* function;
  bool same[3];
};

// Functions whose code comes back the same under each build. Where it does not, the
// rebuilt code means the same but is written otherwise: fteqcc -O3 folds, reorders and
// shares what the source spelled apart; fteqcc keeps a call's result in a temporary across
// the next call and copies it back, which comes back as locals; a switch, ?: and for come
// back as if/else chains and while loops; qcc's nested calls overwrite parameter cells
// already set, and the first call's result is kept in a local.
const Expected CommonExpected[] = {
    {"use_ammo", {true, true, true}},    {"run_think", {true, true, true}},
    {"early", {true, true, true}},       {"count", {true, true, false}},
    {"army_stand1", {true, true, true}}, {"army_stand2", {true, true, true}},
    {"dot", {true, true, true}},         {"twice", {true, true, true}},
    {"vecs", {true, true, false}},       {"strings", {true, true, true}},
    {"side", {true, true, true}},        {"calls", {true, false, false}},
    {"logic", {true, true, true}},       {"add2", {true, true, true}},
    {"nested", {false, false, false}},
};
const Expected FteqccExpected[] = {
    {"choose", {false, false, false}},
    {"tern", {false, false, false}},
    {"sum", {false, false, false}},
    {"backslash", {false, true, true}},
};

// Trips the source through the build; the rebuilt program must compile, with qcc too when
// `qcc_reads_it`, and each listed function must come back as expected.
void expect_trip(const Build& build, size_t build_index, const std::string& source,
                 const Expected* expected, size_t expected_count, bool qcc_reads_it) {
  SCOPED_TRACE(build.name);
  const tests::ScratchDirectory scratch = tests::make_scratch_directory();
  const tests::SourceTrip trip =
      tests::round_trip_source(build.compiler, build.options, source, scratch.path);
  ASSERT_EQ(0, trip.original.status) << trip.original.console;
  ASSERT_EQ(0, trip.decompiled.status) << trip.decompiled.console;
  ASSERT_EQ(0, trip.rebuilt.status) << trip.rebuilt.console;
  if (qcc_reads_it && build.compiler != Compiler::qcc &&
      !tests::compiler_path(Compiler::qcc).empty()) {
    const tests::CompileResult by_qcc =
        tests::compile_run(Compiler::qcc, trip.decompiled, scratch.path, "by_qcc");
    EXPECT_EQ(0, by_qcc.status) << by_qcc.console;
  }
  const compare::Comparison& comparison = trip.comparison;
  EXPECT_EQ(0, comparison.counts.only_in_a + comparison.counts.only_in_b) << comparison.report;
  for (size_t k = 0; k < expected_count; ++k) {
    SCOPED_TRACE(expected[k].function);
    bool found = false;
    for (const compare::FunctionVerdict& verdict : comparison.functions) {
      if (verdict.name != expected[k].function) {
        continue;
      }
      found = true;
      const bool same = verdict.code == compare::CodeVerdict::identical ||
                        verdict.code == compare::CodeVerdict::renumbered;
      EXPECT_EQ(expected[k].same[build_index], same) << compare::verdict_text(verdict.code) << "\n"
                                                     << comparison.report;
    }
    EXPECT_TRUE(found);
  }
  std::printf("%s: %s\n", build.name, compare::summary_line(comparison.counts).c_str());
}

TEST(CompilableRoundTrip, SourcesBothCompilersRead) {
  int trips = 0;
  for (size_t i = 0; i < builds().size(); ++i) {
    if (tests::compiler_path(builds()[i].compiler).empty()) {
      continue;
    }
    expect_trip(builds()[i], i, std::string(kDefinitions) + kCommonSource, CommonExpected,
                std::size(CommonExpected), true);
    ++trips;
  }
  if (trips == 0) {
    GTEST_SKIP() << "neither qcc nor fteqcc is available";
  }
}

TEST(CompilableRoundTrip, SourcesOnlyFteqccReads) {
  if (tests::compiler_path(Compiler::fteqcc).empty()) {
    GTEST_SKIP() << "fteqcc is not available";
  }
  for (size_t i = 1; i < builds().size(); ++i) {
    expect_trip(builds()[i], i, std::string(kDefinitions) + kFteqccSource, FteqccExpected,
                std::size(FteqccExpected), false);
  }
}

}  // namespace
