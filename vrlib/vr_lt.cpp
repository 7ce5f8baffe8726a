// Logitech tracker driver: the unit records and their lifecycle, the serial link with every
// command the driver sends, and the decoding of the 6D and operating-information reports that
// the units leave in the capture rings.
#include "vr.h"
#include "vr_lt_internal.h"
#include "vr_platform.h"

namespace {

// The Logitech driver's own mapping of the capture area; null until the first port set-up maps
// it, never unmapped.
unsigned char *ztty = nullptr;

}  // namespace

extern "C" {

VR_API vr_lt_unit unit_6d[2];
VR_API vr_lt_unit *vr_lt_glasses_unit = nullptr;
VR_API vr_lt_unit *vr_lt_mouse_6d_unit = nullptr;
VR_API int temporal_filter_length = 8;
VR_API int cybermen_present = 0;
VR_API int use_demand_reporting = 0;
VR_API double goo57 = 0.0;
VR_API char vr_lt_message[256];

// Command strings. Each is sent as the bytes before its first zero byte, except the tactile
// command, which is written with its explicit length. The two parameterised commands are patched
// in place at byte 4 before they are sent.
VR_API unsigned char LT_RESET[3] = {0x2A, 0x52, 0x00};
VR_API unsigned char LT_TACTILE[5] = {0x21, 0x54, 0x01, 0x01, 0x07};
VR_API unsigned char LT_SET_EVENT_FILTER_LENGTH[6] = {0x2A, 0x24, 0x02, 0x07, 0x01, 0x00};
VR_API unsigned char LT_CUR_OP_INFO[3] = {0x2A, 0x6D, 0x00};
VR_API unsigned char LT_SET_SLAVE_XMITER_TYPE[6] = {0x2A, 0x24, 0x02, 0x01, 0x01, 0x00};
VR_API unsigned char LT_RAW_MODE[3] = {0x2A, 0xF2, 0x00};
VR_API unsigned char LT_DEMAND_REPORTING[3] = {0x2A, 0x44, 0x00};
VR_API unsigned char LT_STREAMING[3] = {0x2A, 0x53, 0x00};
VR_API unsigned char LT_DIGITIZE[3] = {0x2A, 0x64, 0x00};
VR_API unsigned char LT_DISABLE_TRANSMITTER_OUTPUT[3] = {0x2A, 0x4F, 0x00};
VR_API unsigned char LT_ENABLE_TRANSMITTER_OUTPUT[3] = {0x2A, 0x41, 0x00};
VR_API unsigned char LT_GO_INTO_6D[3] = {0x2A, 0x3E, 0x00};
VR_API unsigned char LT_HEADTRACK_MODE[3] = {0x2A, 0x48, 0x00};
VR_API unsigned char LT_LEAVE_HEADTRACK_MODE[3] = {0x2A, 0x68, 0x00};
VR_API unsigned char LT_GLOBAL_EULER[3] = {0x2A, 0x47, 0x00};

}  // extern "C"

namespace vr::lt {

const unsigned char *capture_area() {
  return ztty;
}

bool map_serial() {
  if (ztty) return true;
  // Both names under which the capture driver may be installed; a fresh mapping starts with
  // empty rings so that nothing left from an earlier session passes for a report.
  static constexpr int capture_devices[] = {VR_DEVICE_CAPTURE, VR_DEVICE_CAPTURE_ALT};
  ztty = map_capture_area(capture_devices, 2, true);
  return ztty != nullptr;
}

}  // namespace vr::lt
