/* A sample application: a board's firmware that does nothing but keep the update line
 * served. Built twice with different SAMPLE_RELEASE texts and the same compatibility
 * characters ("208"), so that either image suits an MCU that runs the other. */
#include "fnw_link.h"

#ifndef SAMPLE_RELEASE
#define SAMPLE_RELEASE "1.0"
#endif

FNW_DESCRIPTION("$:ST8-208 STM8 sample " SAMPLE_RELEASE,
                "Fennwick STM8 sample board\r\n");

void main(void) {
  FnwLinkInit();
  for (;;) {
    /* The board's own work goes here, between polls. */
    FnwLinkPoll();
  }
}
