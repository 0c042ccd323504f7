/* The block programmer. The link library copies it into RAM and jumps to its first byte,
 * so it must stand alone: it is linked on its own at FNW_PROGRAMMER_RAM, calls nothing in
 * flash (every page of which it may rewrite) and uses only uninitialised data, which no
 * start-up code sets up for it. It never returns: the end record restarts the MCU.
 *
 * Packets are 134 bytes: "S2", a 4-byte big-endian address and 128 data bytes, or the
 * "S9" end record of the same length. Each block gets one reply that ends in "."; a
 * refusal begins with "#" and says why. A line that starts with "$" is a command: "$wIAP"
 * starts the session again from the first block, anything else is refused. */
#include "fnw_link.h"
#include "stm8_regs.h"

#define FLASH_FIRST 0x008000UL
#define FLASH_END 0x028000UL
#define BLOCK_SIZE 128
#define HEADER_SIZE 6
/* End of programming never comes on some targets (and the write is checked by reading it
 * back anyway), so the wait for it gives up after this many polls of about 8 cycles:
 * some 13 ms, twice what a block takes on a chip. */
#define EOP_POLLS ((unsigned int)(FNW_F_MASTER / 600))

void FnwProgrammerMain(void);

/* The packet being received; g_far is the block's address as the far-pointer instructions
 * take it (extended, high, low byte). */
static unsigned char g_packet[HEADER_SIZE + BLOCK_SIZE];
static unsigned char g_far[3];
static unsigned char g_expected[3];
static unsigned char g_matches;

/* Must stay the first function in this file: the copy in RAM is entered at its first byte. */
void FnwProgrammerMain(void) {
  __asm__("jp _ProgrammerLoop");
}

static unsigned char ReadByte(void) {
  /* Reading SR then DR also clears an overrun, which a chip flags only with RXNE set. */
  while (!(UART1_SR & UART1_SR_RXNE)) {
  }
  return UART1_DR;
}

static void WriteByte(unsigned char b) {
  /* TC implies TXE on a chip; a simulator may leave TXE clear after the first byte and TC
   * set until the next byte starts, so TC is cleared here (writing 1 to the other bits of
   * SR changes nothing) and set again only by this byte's end. */
  while (!(UART1_SR & (UART1_SR_TXE | UART1_SR_TC))) {
  }
  UART1_SR = (unsigned char)~UART1_SR_TC;
  UART1_DR = b;
}

static void WriteText(const char *text) {
  while (*text) WriteByte((unsigned char)*text++);
}

static void WriteHexByte(unsigned char b) {
  unsigned char i;
  /* A loop rather than two calls: the compiler's tail call of a byte argument with a frame
   * to drop loses the argument (SDCC 4.2). */
  for (i = 0; i < 2; ++i) {
    const unsigned char n = b >> 4;
    WriteByte(n < 10 ? '0' + n : 'A' - 10 + n);
    b <<= 4;
  }
}

/* "#<what> 0xEEHHLL." for the block at g_far */
static void Refuse(const char *what) {
  WriteByte('#');
  WriteText(what);
  WriteText(" 0x");
  WriteHexByte(g_far[0]);
  WriteHexByte(g_far[1]);
  WriteHexByte(g_far[2]);
  WriteByte('.');
}

static void WaitTransmitted(void) {
  while (!(UART1_SR & UART1_SR_TC)) {
  }
}

/* Copies g_packet's data to the flash block at g_far (the address may be above 64 KiB,
 * which only the far loads and stores reach). */
static void StoreBlock(void) {
  __asm
    clrw x
  00001$:
    ld a, (_g_packet + 6, x)
    ldf ([_g_far].e, x), a
    incw x
    cpw x, #128
    jrne 00001$
  __endasm;
}

/* Sets g_matches to 1 when the flash block at g_far holds g_packet's data, else to 0. */
static void CompareBlock(void) {
  __asm
    clr _g_matches
    clrw x
  00001$:
    ldf a, ([_g_far].e, x)
    cp a, (_g_packet + 6, x)
    jrne 00002$
    incw x
    cpw x, #128
    jrne 00001$
    inc _g_matches
  00002$:
  __endasm;
}

static unsigned char ProgramBlock(void) {
  unsigned int polls;
  FLASH_CR2 = FLASH_CR2_PRG;
  FLASH_NCR2 = (unsigned char)~FLASH_CR2_PRG;
  StoreBlock();
  for (polls = 0; polls < EOP_POLLS; ++polls) {
    if (FLASH_IAPSR & (FLASH_IAPSR_EOP | FLASH_IAPSR_WR_PG_DIS)) break;
  }
  if (FLASH_IAPSR & FLASH_IAPSR_WR_PG_DIS) {
    Refuse("write refused (protected page) at");
    return 0;
  }
  CompareBlock();
  if (!g_matches) {
    Refuse("read-back differs at");
    return 0;
  }
  return 1;
}

/* 1 when the packet's address lies in the flash (its top byte, g_packet[2], included). */
static unsigned char InFlash(void) {
  const unsigned char ext = g_far[0];
  const unsigned char high = g_far[1];
  if (g_packet[2] != 0) return 0;
  if (ext == 0) return high >= (unsigned char)(FLASH_FIRST >> 8);
  if (ext == (unsigned char)(FLASH_END >> 16)) return high < (unsigned char)(FLASH_END >> 8);
  return ext < (unsigned char)(FLASH_END >> 16);
}

static void NextExpected(void) {
  /* Blocks are 128-byte aligned, so a carry out of the low byte is the only one to pass on. */
  g_expected[2] += BLOCK_SIZE;
  if (g_expected[2] == 0 && ++g_expected[1] == 0) ++g_expected[0];
}

static void StartSession(void) {
  g_expected[0] = (unsigned char)(FLASH_FIRST >> 16);
  g_expected[1] = (unsigned char)(FLASH_FIRST >> 8);
  g_expected[2] = (unsigned char)FLASH_FIRST;
}

static void Restart(void) {
  WaitTransmitted();
  FLASH_IAPSR &= (unsigned char)~FLASH_IAPSR_PUL;
  WWDG_CR = WWDG_CR_RESET_NOW;
  /* Where the watchdog does not reset at once, start from the reset vector. */
  __asm__("jpf 0x8000");
}

/* A "$" line: read to its line feed (keeping the first bytes to compare). */
static void Command(void) {
  static const char iap[] = "$wIAP\r\n";
  unsigned char i = 1;
  unsigned char same = 1;
  unsigned char b = '$';
  while (b != '\n') {
    b = ReadByte();
    if (i < sizeof iap - 1 && b != (unsigned char)iap[i]) same = 0;
    ++i;
  }
  if (same && i == sizeof iap - 1) {
    StartSession();
    WriteText("$wIAP OK\r\n");
  } else {
    WriteText("#in IAP mode, send blocks\r\n");
  }
}

void ProgrammerLoop(void) {
  unsigned char i;
  FLASH_PUKR = FLASH_PUKR_KEY1;
  FLASH_PUKR = FLASH_PUKR_KEY2;
  StartSession();
  for (;;) {
    const unsigned char first = ReadByte();
    if (first == '$') {
      Command();
      continue;
    }
    if (first != 'S') continue; /* noise between packets */
    g_packet[0] = first;
    for (i = 1; i < sizeof g_packet; ++i) g_packet[i] = ReadByte();
    if (g_packet[1] == '9') Restart();
    g_far[0] = g_packet[3];
    g_far[1] = g_packet[4];
    g_far[2] = g_packet[5];
    if (g_packet[1] != '2') {
      Refuse("not a block packet, address");
    } else if (!InFlash()) {
      Refuse("outside the flash:");
    } else if (g_far[0] != g_expected[0] || g_far[1] != g_expected[1] ||
               g_far[2] != g_expected[2]) {
      Refuse("out of order:");
    } else {
      if (!(FLASH_IAPSR & FLASH_IAPSR_PUL)) {
        Refuse("flash locked at");
      } else if (ProgramBlock()) {
        WriteByte('.');
      }
      /* A block that failed is not sent again: the host goes on with the next one. */
      NextExpected();
    }
  }
}
