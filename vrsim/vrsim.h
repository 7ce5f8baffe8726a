/* vrsim: virtual-time simulator of the tracking devices (placeholder until written). */
#ifndef VRSIM_VRSIM_H
#define VRSIM_VRSIM_H
#include <vrlib/vr.h>
#endif
