// Physical world time and the busy-wait delay, on test clocks installed in the platform layer.
#include <gtest/gtest.h>

#include <climits>

#include "view_test_util.h"

using namespace view_test;

namespace {

struct TestClocks {
  long long real_ns = 0;
  long long cpu_ns = 0;
  long long cpu_step_ns = 0;  // processor time that passes between two readings
  int cpu_reads = 0;
  int real_reads = 0;
};
TestClocks clocks;

long long test_hrtime(void *) {
  ++clocks.real_reads;
  return clocks.real_ns;
}

long long test_hrvtime(void *) {
  ++clocks.cpu_reads;
  const long long now = clocks.cpu_ns;
  clocks.cpu_ns += clocks.cpu_step_ns;
  return now;
}

constexpr double step_s = 1024e-9;

class Clocks : public testing::Test {
 protected:
  void SetUp() override {
    clocks = TestClocks{};
    vr_platform p = *vr_platform_default();
    p.hrtime = test_hrtime;
    p.hrvtime = test_hrvtime;
    vr_platform_install(&p);
  }
  void TearDown() override { vr_platform_install(nullptr); }
};

}  // namespace

TEST_F(Clocks, InitialisationStartsTheTimeBlock) {
  Ctx ctx = new_ctx();
  EXPECT_EQ(ctx->pworld_time_base, 0.0);  // a new context reads 0 there
  clocks.real_ns = 1'000'000'000'000LL;   // 1000 s on the clock, a whole number of steps
  vr_init_pworld_time(ctx.get());
  EXPECT_EQ(ctx->pworld_time_base, 1000.0);
  EXPECT_EQ(ctx->pworld_time_now, 0.0);
  EXPECT_EQ(ctx->pworld_time_prev, -0.3);
  EXPECT_EQ(ctx->pworld_time_delta, 0.3);
  EXPECT_EQ(clocks.cpu_reads, 0);
}

TEST_F(Clocks, SyncAdvancesInStepsOf1024Nanoseconds) {
  Ctx ctx = new_ctx();
  clocks.real_ns = 5'000'000;
  vr_init_pworld_time(ctx.get());

  clocks.real_ns += 1023;
  vr_sync_pworld_time(ctx.get());
  EXPECT_EQ(ctx->pworld_time_now, 0.0);
  EXPECT_EQ(ctx->pworld_time_prev, 0.0);
  EXPECT_EQ(ctx->pworld_time_delta, 0.0);

  clocks.real_ns += 1;
  vr_sync_pworld_time(ctx.get());
  EXPECT_EQ(ctx->pworld_time_now, step_s);
  EXPECT_EQ(ctx->pworld_time_delta, step_s);

  clocks.real_ns += 1'000'000 * 1024LL;  // 1.024 s
  vr_sync_pworld_time(ctx.get());
  EXPECT_DOUBLE_EQ(ctx->pworld_time_now, 1.024 + step_s);
  EXPECT_EQ(ctx->pworld_time_prev, step_s);
  EXPECT_DOUBLE_EQ(ctx->pworld_time_delta, 1.024);

  // Before the zero point the steps round down, toward earlier times.
  clocks.real_ns = 5'000'000 - 1;
  vr_sync_pworld_time(ctx.get());
  EXPECT_EQ(ctx->pworld_time_now, -step_s);
}

TEST_F(Clocks, TwoSyncsCloseTogetherDifferByAtMostOneStep) {
  Ctx ctx = new_ctx();
  vr_init_pworld_time(ctx.get());
  for (long long start = 0; start < 4096; start += 97) {
    for (long long gap = 0; gap <= 1024; gap += 128) {
      clocks.real_ns = start;
      vr_sync_pworld_time(ctx.get());
      clocks.real_ns = start + gap;
      vr_sync_pworld_time(ctx.get());
      EXPECT_GE(ctx->pworld_time_delta, 0.0);
      EXPECT_LE(ctx->pworld_time_delta, step_s * (1.0 + 1e-9));  // to rounding
    }
  }
}

TEST_F(Clocks, TheZeroPointIsSharedByAllContexts) {
  Ctx first = new_ctx();
  Ctx second = new_ctx();
  clocks.real_ns = 0;
  vr_init_pworld_time(first.get());
  clocks.real_ns = 1024 * 1000;
  vr_init_pworld_time(second.get());
  clocks.real_ns = 1024 * 3000;
  vr_sync_pworld_time(first.get());
  EXPECT_DOUBLE_EQ(first->pworld_time_now, 2000 * step_s);
}

TEST_F(Clocks, ClockJumpsAcrossTheWholeRangeStayDefined) {
  Ctx ctx = new_ctx();
  clocks.real_ns = LLONG_MIN;
  vr_init_pworld_time(ctx.get());
  clocks.real_ns = LLONG_MAX;
  vr_sync_pworld_time(ctx.get());  // the difference wraps instead of overflowing
  EXPECT_EQ(ctx->pworld_time_now, -step_s);
}

TEST_F(Clocks, UsleepPollsUntilTheProcessorTimeHasPassed) {
  clocks.cpu_step_ns = 1000;  // 1 us of processor time per pass
  vr_usleep(5);
  EXPECT_EQ(clocks.cpu_reads, 1 + 5);  // the start, then one reading per pass
  EXPECT_EQ(clocks.real_reads, 0);

  clocks.cpu_reads = 0;
  vr_usleep(1);
  EXPECT_EQ(clocks.cpu_reads, 2);

  clocks.cpu_step_ns = 999;
  clocks.cpu_reads = 0;
  vr_usleep(2);  // 1998 ns is short of 2 us: a third pass
  EXPECT_EQ(clocks.cpu_reads, 1 + 3);
}

TEST_F(Clocks, UsleepAlwaysMakesOnePassAndTakesEveryInt) {
  clocks.cpu_step_ns = 0;  // a clock that stands still
  vr_usleep(0);
  EXPECT_EQ(clocks.cpu_reads, 2);
  clocks.cpu_reads = 0;
  vr_usleep(-5);
  EXPECT_EQ(clocks.cpu_reads, 2);
  clocks.cpu_reads = 0;
  vr_usleep(INT_MIN);
  EXPECT_EQ(clocks.cpu_reads, 2);

  // The largest request waits its full 2147.48 s of processor time: 2 passes of 2^40 ns.
  clocks.cpu_step_ns = 1LL << 40;
  clocks.cpu_reads = 0;
  vr_usleep(INT_MAX);
  EXPECT_EQ(clocks.cpu_reads, 1 + 2);
}
