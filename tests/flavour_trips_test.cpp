// Small programs built by fteqcc for its other targets (Hexen II, FTE's version 7, KK's
// version 7), one group of extended instructions each: written back by the compilable
// engine, compiled again for the same target, the same code again.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "driver/run.h"
#include "image/program_image.h"
#include "tests/compilable_runs.h"
#include "tests/compilers.h"

namespace {

using tests::Compiler;

constexpr const char* kDefinitions = R"(
entity self;
float time;
.float frame;
.float nextthink;
.float flags;
.vector v;
float() random = #7;
void(float a, float b, float c) three = #9;
float arr[5];
vector varr[3];
float g;
float h;
vector vv;
string str;
int ii;
int jj;
int *ip;
float *fp;
)";

struct Case {
  const char* name;
  const char* target;  // the -T option
  const char* source;
  std::set<uint32_t> opcodes;  // the group: the first build has each of them
  const char* text;            // the engine writes this somewhere
};

const Case Cases[] = {
    {"calls with arguments in b and c, randoms",
     "hexen2",
     "void() f = { local float x; x = random(); x = random(5); x = random(2, 6); three(1, 2, 3);"
     " three(x, g, h); };",
     {54, 92, 93, 94},
     "x = random (2, 6);"},
    {"CALLnH, randoms, typed tests",
     "fte",
     "void() f = { local float x; x = random(); x = random(5); three(x, g, h);"
     " if (x) x = 1; if (!x) x = 2; };",
     {92, 93, 107, 218},
     "three (x, g, h);"},
    {"compound assignments",
     "hexen2",
     "void() f = { g *= h; g /= h; g += h; g -= h; vv += vv; vv -= vv; vv *= h;"
     " self.frame *= h; self.frame /= h; self.frame += h; self.frame -= h; self.v += vv;"
     " self.v -= vv; g |= h; g (-) h; self.flags |= h; self.flags (-) h; };",
     {66, 67, 68, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 88, 89, 90, 91},
     "self.flags (-) h;"},
    {"think times and frame cycles",
     "hexen2",
     "void() f = { thinktime self : 0.5; }; void() c = [++ 1 .. 5] { g = 1; };",
     {85, 87},
     "void() c = [++ 1 .. 5]"},
    {"Hexen II arrays",
     "hexen2",
     "void() f = { local vector q; g = arr[h]; q = varr[g]; vv = q; };",
     {80, 81},
     "g = arr[h];"},
    {"switch with fall-through, default and a range",
     "fte",
     "void() f = { local float x; switch (g) { case 1: case 5: x = 2; case 2 .. 4: x = 3; break;"
     " default: x = 4; break; case 7: x = 9; } h = x; };",
     {98, 103, 104},
     "\tcase 2 .. 4:\n"},
    {"switch on a string",
     "fte",
     "void() f = { local float x; switch (str) { case \"a\": x = 2; break; case \"b\": x = 3;"
     " break; } h = x; };",
     {100, 103},
     "\tcase \"b\":\n"},
    {"arrays",
     "fte",
     "void() f = { local vector q; g = arr[h]; arr[h] = 3; q = varr[g]; varr[h] = q; vv = q; };",
     {123, 143, 145, 146},
     "varr[h] = q;"},
    {"integers and conversions",
     "fte",
     "void() f = { local float x; ii = jj + ii; x = ii; ii = g; ii = ii << 2i; ii = ii * 3i;"
     " x = (float)ii; ii = (int)g; if (ii > jj) x = 1; h = x; };",
     {113, 114, 115, 116, 122, 123, 132, 142, 164},
     "ii = ii << 2i;"},
    {"pointers",
     "fte",
     "void() f = { local float x; ip = &ii; *ip = 5i; fp = &self.frame; *fp = 3; x = *fp;"
     " ii = *ip; h = x; };",
     {127, 143, 154, 160},
     "*ip = 5i;"},
    {"KK's version 7",
     "version7",
     "void() f = { local float x; x = random(); g = x * h; };",
     {},
     "g = x * h;"},
};

// The opcodes a program's code uses.
std::set<uint32_t> opcodes_of(const std::string& progs_dat) {
  image::load_program_image(progs_dat.c_str(), image::Reading::kDetected);
  std::set<uint32_t> used;
  for (int32_t p = 0; p < image::program.numstatements; ++p) {
    used.insert(image::program.statements[p].op);
  }
  driver::reset_run();
  return used;
}

TEST(FlavourRoundTrip, EachGroupOfInstructionsComesBackTheSame) {
  if (tests::compiler_path(Compiler::fteqcc).empty()) {
    GTEST_SKIP() << "fteqcc is not available";
  }
  for (const Case& c : Cases) {
    SCOPED_TRACE(c.name);
    const tests::ScratchDirectory scratch = tests::make_scratch_directory();
    const std::vector<std::string> options = {std::string("-T") + c.target};
    const tests::SourceTrip trip = tests::round_trip_source(
        Compiler::fteqcc, options, std::string(kDefinitions) + c.source, scratch.path);
    ASSERT_EQ(0, trip.original.status) << trip.original.console;
    const std::set<uint32_t> used = opcodes_of(trip.original.progs_path);
    for (uint32_t op : c.opcodes) {
      EXPECT_EQ(1u, used.count(op)) << "opcode " << op << " is not in the first build";
    }
    ASSERT_EQ(0, trip.decompiled.status) << trip.decompiled.console;
    bool written = false;
    for (const auto& [file, text] : trip.decompiled.files) {
      written = written || text.find(c.text) != std::string::npos;
    }
    EXPECT_TRUE(written) << c.text << "\n" << tests::function_named(trip.decompiled, "f");
    ASSERT_EQ(0, trip.rebuilt.status) << trip.rebuilt.console;
    const compare::FunctionCounts& counts = trip.comparison.counts;
    EXPECT_EQ(counts.compared, counts.identical + counts.renumbered) << trip.comparison.report;
    EXPECT_EQ(0, counts.only_in_a + counts.only_in_b) << trip.comparison.report;
  }
}

}  // namespace
