// The attribute table as the set-up file reader and the tests see it (vr_attributes.cpp). Not exported.
#pragma once

// The numbers a typed setter takes for a double or int attribute, which the set-up file reader
// takes too (one range for both): low to high, both included, less 0 where zero_refused. Some
// rows refuse more inside it (the axis mappings: their setter says which). False, with nothing
// written, for an attribute of another type or none. (vr_attributes.cpp)
struct vr_attr_range {
  double low;
  double high;
  bool zero_refused;
  bool whole;  // an int attribute
};
bool vr_attr_range_of(int id, vr_attr_range *out);

// What vr_attributes.def says of an attribute besides its type and range, for the tests that
// hold the documentation to the table. False, with nothing written, for no attribute.
struct vr_attr_info {
  const char *unit;     // of a number or point, "" for none
  bool gettable;        // by vr_object_get and the typed getters
  bool list_settable;   // by vr_object_set (and the typed setters)
  bool typed_settable;  // by the typed setter only (a matrix the fixed interface hands out)
  bool caches_eyes;     // a new value places the eyes again
  bool consistifies;    // a new value makes the coexistence centre consistent again
};
bool vr_attr_info_of(int id, vr_attr_info *out);
