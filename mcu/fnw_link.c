/* The application side of the update protocol: the two queries and the hand-over to the
 * block programmer. See fnw_link.h for how an application uses it. */
#include "fnw_link.h"

#include "stm8_regs.h"

/* The block programmer, linked to run at FNW_PROGRAMMER_RAM (generated at build time). */
extern const unsigned char g_fnwProgrammer[];
extern const unsigned int g_fnwProgrammerSize;

#define UART_DIV ((FNW_F_MASTER + FNW_BAUD / 2) / FNW_BAUD)
#define LINE_MAX 8 /* the longest command, "$wIAP\r\n", and one more to tell it apart */

static const char *const kDescription = (const char *)FNW_DESCRIPTION_ADDRESS;
static unsigned char g_line[LINE_MAX];
static unsigned char g_lineLength;
static unsigned char g_lineTooLong;

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

/* A reply: its head, a text of the block, and a line end unless the text has its own. */
static void WriteLine(const char *head, const char *text, unsigned char maxLength) {
  unsigned char n = 0;
  WriteText(head);
  while (n < maxLength && text[n]) WriteByte((unsigned char)text[n++]);
  if (n == 0 || text[n - 1] != '\n') WriteText("\r\n");
}

static unsigned char LineIs(const char *command) {
  unsigned char i = 0;
  while (i < g_lineLength && command[i] && g_line[i] == (unsigned char)command[i]) ++i;
  return i == g_lineLength && command[i] == 0;
}

static void EnterProgrammer(void) {
  unsigned int i;
  unsigned char *ram = (unsigned char *)FNW_PROGRAMMER_RAM;
  __asm__("sim"); /* nothing of the application may run from here on */
  for (i = 0; i < g_fnwProgrammerSize; ++i) ram[i] = g_fnwProgrammer[i];
  /* Replied only now: the first block may follow the reply at once. */
  WriteText("$wIAP OK\r\n");
  ((void (*)(void))FNW_PROGRAMMER_RAM)();
}

static void Answer(void) {
  if (kDescription[0] != '$') {
    /* An image without a description block cannot tell its version. */
    if (LineIs("$R\r\n")) WriteText("$R:\r\n");
    if (LineIs("$e\r\n")) WriteText("$#\r\n");
  } else if (LineIs("$R\r\n")) {
    /* Reply byte 3 + k is block byte k, so reply bytes 9 to 11 are the block's
     * compatibility characters, which the host compares with a file's. */
    WriteLine("$R:", kDescription, FNW_SECOND_TEXT_OFFSET);
  } else if (LineIs("$e\r\n")) {
    WriteLine("$e:", kDescription + FNW_SECOND_TEXT_OFFSET,
              sizeof(struct FnwDescription) - FNW_SECOND_TEXT_OFFSET);
  }
  if (LineIs("$wIAP\r\n")) EnterProgrammer();
}

void FnwLinkInit(void) {
#ifndef FNW_KEEP_CLOCK
  unsigned char shift = 0;
  while (shift < 3 && (16000000UL >> shift) > FNW_F_MASTER) ++shift;
  CLK_CKDIVR = (unsigned char)(shift << 3);
#endif
  UART1_CR2 = 0;
  UART1_CR1 = 0; /* 8 data bits, no parity */
  UART1_CR3 = 0; /* one stop bit */
  /* BRR2 must be written first: the divider is taken when BRR1 is written. */
  UART1_BRR2 = (unsigned char)(((UART_DIV >> 8) & 0xF0) | (UART_DIV & 0x0F));
  UART1_BRR1 = (unsigned char)(UART_DIV >> 4);
  UART1_CR2 = UART1_CR2_TEN | UART1_CR2_REN;
  g_lineLength = 0;
  g_lineTooLong = 0;
}

void FnwLinkPoll(void) {
  unsigned char b;
  /* Reading SR then DR also clears an overrun, which a chip flags only with RXNE set. */
  if (!(UART1_SR & UART1_SR_RXNE)) return;
  b = UART1_DR;
  if (b == '$') { /* every command starts here, so a line cut short is left behind */
    g_lineLength = 0;
    g_lineTooLong = 0;
  }
  if (g_lineLength < LINE_MAX) {
    g_line[g_lineLength++] = b;
  } else {
    g_lineTooLong = 1;
  }
  if (b != '\n') return;
  if (!g_lineTooLong) Answer();
  g_lineLength = 0;
  g_lineTooLong = 0;
}
