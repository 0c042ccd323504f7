/* The MCU side of the Fennwick update protocol, for a board's application on an STM8 with
 * its host line on UART1. The application
 *   - places its description block with FNW_DESCRIPTION(...) in one of its C files,
 *   - calls FnwLinkInit() once at start (it sets up UART1),
 *   - calls FnwLinkPoll() often enough that no received byte is overwritten by the next
 *     (at 19,200 bit/s: at least every 0.5 ms while the host talks).
 * FnwLinkPoll() answers the version and description queries from the block; on an IAP
 * request it hands the MCU over to the block programmer in RAM and does not return. */
#ifndef FNW_LINK_H
#define FNW_LINK_H

/* The CPU clock and line rate the library sets up; a board with other values builds the
 * library with -DFNW_F_MASTER=... -DFNW_BAUD=... (the library sets the clock divider to
 * match 16 MHz / 2^n; for an external clock set FNW_KEEP_CLOCK). */
#ifndef FNW_F_MASTER
#define FNW_F_MASTER 2000000UL
#endif
#ifndef FNW_BAUD
#define FNW_BAUD 19200UL
#endif

/* Where the block programmer runs: RAM that the application may use, since the programmer
 * takes it over only when the application has handed the MCU to it. */
#define FNW_PROGRAMMER_RAM 0x0400
#define FNW_PROGRAMMER_DATA 0x0200

/* The description block at 0x8100, which the host reads from the firmware file: the first
 * text (at most 31 characters, starting with "$"; characters 6 to 8 are the compatibility
 * characters that the host compares) and the second text at 0x8120 (at most 63). */
#define FNW_DESCRIPTION_ADDRESS 0x8100
#define FNW_SECOND_TEXT_OFFSET 0x20
struct FnwDescription {
  char first[FNW_SECOND_TEXT_OFFSET];
  char second[0x40];
};
#define FNW_DESCRIPTION(first, second) \
  const struct FnwDescription __at(FNW_DESCRIPTION_ADDRESS) g_fnwDescription = {first, second}

void FnwLinkInit(void);
void FnwLinkPoll(void);

#endif
