// Timing statistics of the raw glasses path: while armed through cur_stat, every capture call of
// the glasses unit fills one record with what it found in the ring and how it judged each raw
// record, the solve after it adds its intermediate results, and the full table is printed on
// standard output in one go.
#include <cstdio>

#include "vr.h"
#include "vr_lt_raw.h"

namespace {

constexpr int recorded_calls = 255;  // records 0..254; record 255 is spare
constexpr int headers_per_record = 16;
constexpr int stats_off = 255;

bool recording(int index) {
  return index >= 0 && index < recorded_calls;
}

void print3(const char *format, const float v[3]) {
  std::printf(format, static_cast<double>(v[0]), static_cast<double>(v[1]),
              static_cast<double>(v[2]));
}

// Formats of the nine distance lines of a header entry, speaker by speaker, each with the
// channel it prints.
struct DistanceLine {
  const char *format;
  int channel;
};
constexpr DistanceLine distance_lines[9] = {
    {"sll_to_mll\t%f\t%9.6f\t%f\n", 2},   {"sll_to_mlr\t%f\t%9.6f\t%f\n", 1},
    {"sll_to_mtop\t%f\t%9.6f\t%f\n", 3},  {"slr_to_mll\t%f\t%9.6f\t%f\n", 5},
    {"slr_to_mlr\t%f\t%9.6f\t%f\n", 4},   {"slr_to_mtop\t%f\t%9.6f\t%f\n", 6},
    {"stop_to_mll\t%f\t%9.6f\t%f\n", 8},  {"stop_to_mlr\t%f\t%9.6f\t%f\n", 7},
    {"stop_to_mtop\t%f\t%9.6f\t%f\n", 9},
};

void print_record(int r, const vr_lt_stat &st) {
  std::printf("\ncall [%d]  bytes %d  events %d  headers %d  dt %f\n", r, st.bytes, st.events,
              st.headers, static_cast<double>(st.dt));
  std::printf("xyz%d\t%f\t%f\t%f\n", st.headers ? 1 : 0, static_cast<double>(st.xyz[0]),
              static_cast<double>(st.xyz[1]), static_cast<double>(st.xyz[2]));
  const char *speaker_formats[3] = {"ll\t%f\t%f\t%f\n", "lr\t%f\t%f\t%f\n", "top\t%f\t%f\t%f\n"};
  for (int k = 0; k < 3; ++k) print3(speaker_formats[k], st.fit_dist[k]);
  for (int k = 0; k < 3; ++k) print3(speaker_formats[k], st.speaker_pos[k]);
  print3("i\t%f\t%f\t%f\n", st.axis_i);
  print3("j\t%f\t%f\t%f\n", st.axis_j);
  print3("k\t%f\t%f\t%f\n", st.axis_k);
  print3("o\t%f\t%f\t%f\n", st.origin);
  std::printf("tri\t%f\t%f\n", static_cast<double>(st.tri[0]), static_cast<double>(st.tri[1]));
  std::printf("finite\t%d\t%d\n", st.finite[0], st.finite[1]);
  print3("norm_l\t%f\t%f\t%f\n", st.norm_l);
  print3("norm_x\t%f\t%f\t%f\n", st.norm_x);
  // The table is exported and may have been written from outside: never more entries than it
  // holds.
  const int headers = st.headers < 0                    ? 0
                      : st.headers > headers_per_record ? headers_per_record
                                                        : st.headers;
  for (int h = 0; h < headers; ++h) {
    const vr_lt_stat_header &e = st.header[h];
    std::printf("time %f  skew %f  tdist %f  time_to_cm %f\n", static_cast<double>(e.time),
                static_cast<double>(e.skew), static_cast<double>(e.tdist),
                static_cast<double>(e.time_to_cm));
    for (const DistanceLine &line : distance_lines) {
      const int k = line.channel - 1;
      std::printf(line.format, static_cast<double>(e.dist[k]), static_cast<double>(e.resid[k]),
                  static_cast<double>(e.kept[k]));
    }
  }
}

}  // namespace

extern "C" {

VR_API vr_lt_stat stats[256];
VR_API int cur_stat = stats_off;

VR_API void dump_stats(void) {
  for (int r = 0; r < recorded_calls; ++r) print_record(r, stats[r]);
  std::fflush(stdout);
}

}  // extern "C"

namespace vr::lt {

vr_lt_stat *stats_capture_record(const vr_lt_unit *unit) {
  if (unit->port != 0 || !recording(cur_stat)) return nullptr;
  return &stats[cur_stat];
}

vr_lt_stat_header *stats_next_header(vr_lt_stat *record) {
  // A call that sets records aside as out of time can parse more than 16; the rest are dropped.
  if (record->headers < 0 || record->headers >= headers_per_record) return nullptr;
  return &record->header[record->headers++];
}

void stats_end_capture(const vr_lt_unit *unit) {
  if (unit->port != 0 || !recording(cur_stat)) return;
  if (cur_stat == recorded_calls - 1) dump_stats();
  ++cur_stat;
}

vr_lt_stat *stats_solver_record(const vr_lt_unit *unit) {
  if (unit->port != 0 || cur_stat <= 0 || cur_stat > recorded_calls - 1) return nullptr;
  return &stats[cur_stat - 1];
}

}  // namespace vr::lt
