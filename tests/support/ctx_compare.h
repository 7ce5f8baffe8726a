// An owned context and byte-for-byte comparisons of two contexts, shared by the test groups that
// compare a context with another made or loaded differently (set-up files, calibration).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "vrlib/vr.h"

namespace vr_test {

struct CtxFree {
  void operator()(vr_ctx *ctx) const { std::free(ctx); }
};
using Ctx = std::unique_ptr<vr_ctx, CtxFree>;

// The whole record with the clock block (taken at creation) cleared, for comparing contexts
// byte for byte.
inline std::vector<unsigned char> bytes_of(const vr_ctx *ctx) {
  vr_ctx copy = *ctx;
  copy.pworld_time_now = copy.pworld_time_prev = copy.pworld_time_delta = 0.0;
  copy.pworld_time_base = 0.0;
  const auto *p = reinterpret_cast<const unsigned char *>(&copy);
  return std::vector<unsigned char>(p, p + sizeof copy);
}

// One frame in each context, then both views compared bit for bit.
inline void expect_same_views(vr_ctx *a, vr_ctx *b) {
  vr_comp_view(a);
  vr_comp_view(b);
  for (int id : {VR_LEFT_VIEW, VR_RIGHT_VIEW}) {
    dmat va, vb;
    ASSERT_EQ(vr_get_matrix(a, id, va), VR_OK);
    ASSERT_EQ(vr_get_matrix(b, id, vb), VR_OK);
    EXPECT_EQ(std::memcmp(va, vb, sizeof va), 0) << vr_attr_name(id);
  }
}

}  // namespace vr_test
