/* The few STM8 peripheral registers that the link library and the block programmer use,
 * at their addresses on the STM8S/AF high-density parts (UART1 at 0x5230). */
#ifndef FNW_STM8_REGS_H
#define FNW_STM8_REGS_H

#define FNW_REG(addr) (*(volatile unsigned char *)(addr))

/* Clock: the prescaler of the internal 16 MHz oscillator (reset value 0x18: 2 MHz). */
#define CLK_CKDIVR FNW_REG(0x50C6)

/* UART1 */
#define UART1_SR FNW_REG(0x5230)
#define UART1_DR FNW_REG(0x5231)
#define UART1_BRR1 FNW_REG(0x5232)
#define UART1_BRR2 FNW_REG(0x5233)
#define UART1_CR1 FNW_REG(0x5234)
#define UART1_CR2 FNW_REG(0x5235)
#define UART1_CR3 FNW_REG(0x5236)
#define UART1_SR_TXE 0x80
#define UART1_SR_TC 0x40
#define UART1_SR_RXNE 0x20
#define UART1_SR_OR 0x08
#define UART1_CR2_TEN 0x08
#define UART1_CR2_REN 0x04

/* Flash controller */
#define FLASH_CR2 FNW_REG(0x505B)
#define FLASH_NCR2 FNW_REG(0x505C)
#define FLASH_IAPSR FNW_REG(0x505F)
#define FLASH_PUKR FNW_REG(0x5062)
#define FLASH_CR2_PRG 0x01
#define FLASH_IAPSR_WR_PG_DIS 0x01
#define FLASH_IAPSR_PUL 0x02
#define FLASH_IAPSR_EOP 0x04
#define FLASH_PUKR_KEY1 0x56
#define FLASH_PUKR_KEY2 0xAE

/* Window watchdog: setting WDGA with T6 clear resets the chip at once. */
#define WWDG_CR FNW_REG(0x50D1)
#define WWDG_CR_RESET_NOW 0x80

#endif
