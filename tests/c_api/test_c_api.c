/* The public header compiled as C99 and used through the shared library. */
#include <vrlib/vr.h>

#include <stdio.h>

int main(void) {
  int failures = 0;
  if (VR_EYE_HOOK_REMOVE_FN != 129 || VR_GLASSES_RX_GEOM_0 != 49 || VR_TX_GEOM_3 != 60) {
    printf("attribute identifiers have moved\n");
    failures++;
  }
  return failures ? 1 : 0;
}
