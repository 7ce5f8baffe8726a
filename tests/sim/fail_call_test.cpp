// The simulator's call-by-call fault injection: exactly the chosen call fails, with the chosen
// error and in the way its entry reports failures, and every other call works.
#include <gtest/gtest.h>

#include <cerrno>

#include "sim_fixture.h"
#include "vrlib/vr.h"

namespace {

using sim_test::Sim;

TEST(FailCall, OnlyTheChosenCallFailsEachTheWayItsEntryReportsIt) {
  Sim sim;
  vrsim_plug_standard(sim);
  const vr_platform *p = vr_platform_current();
  const vr_line_settings line = {19200, 8, 0, 1, 1, 1, 0, 1, 0, 1};

  // Counting only: clocks, sleeps, closes and module queries are not counted.
  vrsim_fail_call(sim, 0, 0);
  const int fd = p->line_open(p->user, vr_device_path(VR_DEVICE_TTYA));
  ASSERT_GT(fd, 0);
  p->hrtime(p->user);
  p->sleep_seconds(p->user, 1);
  char name[8];
  p->line_top_module(p->user, fd, name, sizeof name);
  EXPECT_EQ(vrsim_failable_calls(sim), 1);
  EXPECT_EQ(vrsim_open_lines(sim), 1);

  // The third call from here fails; the calls around it work.
  vrsim_fail_call(sim, 3, EPIPE);
  EXPECT_EQ(p->line_set(p->user, fd, &line), 0);
  EXPECT_EQ(p->line_flush(p->user, fd), 0);
  errno = 0;
  EXPECT_EQ(p->line_write(p->user, fd, "*R", 2), -1);
  EXPECT_EQ(errno, EPIPE);
  EXPECT_EQ(vrsim_call_failed(sim), 1);
  vrsim_lt_state st;
  ASSERT_EQ(vrsim_lt_get_state(sim, 0, &st), 1);
  EXPECT_EQ(st.resets, 0);  // the failed write reached nothing
  EXPECT_EQ(p->line_write(p->user, fd, "*R", 2), 2);
  ASSERT_EQ(vrsim_lt_get_state(sim, 0, &st), 1);
  EXPECT_EQ(st.resets, 1);
  const vrsim_event *e = vrsim_event_at(sim, vrsim_event_count(sim) - 2);
  EXPECT_EQ(e->kind, VRSIM_EV_WRITE);
  EXPECT_EQ(e->err, EPIPE);

  // Error-number entries return the error; the open and the mapping report -1 and NULL.
  struct Case {
    int (*call)(const vr_platform *, int);
  };
  const Case error_number_entries[] = {
      {[](const vr_platform *q, int f) {
        vr_line_settings s;
        return q->line_get(q->user, f, &s);
      }},
      {[](const vr_platform *q, int f) {
        const vr_line_settings s = {19200, 8, 0, 1, 1, 1, 0, 1, 0, 1};
        return q->line_set(q->user, f, &s);
      }},
      {[](const vr_platform *q, int f) { return q->line_modem(q->user, f, VR_MODEM_RTS, 1); }},
      {[](const vr_platform *q, int f) { return q->line_flush(q->user, f); }},
      {[](const vr_platform *q, int f) { return q->line_nodelay(q->user, f); }},
  };
  for (const Case &c : error_number_entries) {
    vrsim_fail_call(sim, 1, 0);  // 0 chooses EIO
    EXPECT_EQ(c.call(p, fd), EIO);
    EXPECT_EQ(c.call(p, fd), 0);
  }
  vrsim_push_module(sim, 0, "ldterm", 0);
  vrsim_fail_call(sim, 1, ENOSR);
  EXPECT_EQ(p->line_pop_module(p->user, fd), ENOSR);
  EXPECT_EQ(vrsim_module_count(sim, 0), 1);

  vrsim_fail_call(sim, 1, EACCES);
  EXPECT_EQ(p->line_open(p->user, vr_device_path(VR_DEVICE_TTYB)), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(vrsim_open_lines(sim), 1);
  vrsim_fail_call(sim, 1, ENODEV);
  EXPECT_EQ(p->capture_open(p->user, vr_device_path(VR_DEVICE_CAPTURE)), -1);
  const int cap = p->capture_open(p->user, vr_device_path(VR_DEVICE_CAPTURE));
  ASSERT_GE(cap, 0);
  vrsim_fail_call(sim, 1, ENOMEM);
  EXPECT_EQ(p->capture_map(p->user, cap), nullptr);
  EXPECT_NE(p->capture_map(p->user, cap), nullptr);
  EXPECT_EQ(vrsim_open_lines(sim), 1);  // the capture device is not a line

  // Off: nothing fails however many calls follow.
  vrsim_fail_call(sim, 0, EIO);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(p->line_flush(p->user, fd), 0);
  EXPECT_EQ(vrsim_call_failed(sim), 0);
  p->line_close(p->user, fd);
  EXPECT_EQ(vrsim_open_lines(sim), 0);
}

}  // namespace
