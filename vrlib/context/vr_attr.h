// The attribute table's ranges, for the set-up file reader. Not exported.
#pragma once

// The numbers a typed setter takes for a double or int attribute, which the set-up file reader
// takes too (one range for both): low to high, both included, less 0 where zero_refused. Some
// rows refuse more inside it (the axis mappings: their setter says which). False, with nothing
// written, for an attribute of another type or none. (vr.cpp)
struct vr_attr_range {
  double low;
  double high;
  bool zero_refused;
  bool whole;  // an int attribute
};
bool vr_attr_range_of(int id, vr_attr_range *out);
