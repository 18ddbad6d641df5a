; sfr.i: the names of the card processor's special function registers
; (0x100-0x17F) and of the register bits programs test and set by name.
; Include it with
;     .include "sfr.i"
; The assembler has this file built in; a file of the same name beside the
; source or in an -I folder takes its place.

; The processor core.
acc     equ $100        ; accumulator
psw     equ $101        ; program status word
b       equ $102
c       equ $103
trl     equ $104        ; table pointer, low byte (LDC, LDF, STF)
trh     equ $105        ; table pointer, high byte
sp      equ $106        ; stack pointer (the stack runs from $80 up in bank 0)
pcon    equ $107        ; power control
ie      equ $108        ; interrupt enable (bit 7: master enable)
ip      equ $109        ; interrupt priority
ext     equ $10D        ; bit 0: program source, ROM or flash
ocr     equ $10E        ; oscillation control

; PSW bits.
cy      equ 7           ; carry
ac      equ 6           ; auxiliary carry
irbk1   equ 4           ; indirect register bank, high bit
irbk0   equ 3           ; indirect register bank, low bit
ov      equ 2           ; overflow
rambk0  equ 1           ; RAM bank
p       equ 0           ; parity of ACC (read only)

; PCON bits.
halt    equ 0
hold    equ 1

; Timers. Reading gives the counter, writing sets the reload value.
t0cnt   equ $110
t0prr   equ $111
t0l     equ $112
t0lr    equ $113
t0h     equ $114
t0hr    equ $115
t1cnt   equ $118
t1lc    equ $11A
t1l     equ $11B
t1lr    equ $11B
t1hc    equ $11C
t1h     equ $11D
t1hr    equ $11D

; The LCD and its XRAM.
mcr     equ $120        ; write only
stad    equ $122
cnr     equ $123        ; write only
tdr     equ $124        ; write only
xbnk    equ $125        ; XRAM bank: 0 rows 0-15, 1 rows 16-31
vccr    equ $127        ; bit 7: LCD on (write only)

; Serial interfaces.
scon0   equ $130
sbuf0   equ $131
sbr     equ $132
scon1   equ $134
sbuf1   equ $135

; Ports.
p1      equ $144
p1ddr   equ $145        ; write only
p1fcr   equ $146        ; write only
p3      equ $14C        ; buttons, active low: 0 up, 1 down, 2 left, 3 right,
                        ; 4 A, 5 B, 6 MODE, 7 SLEEP
p3ddr   equ $14D        ; write only
p3int   equ $14E
fpr     equ $154        ; bit 0: flash bank of LDF/STF; bit 1: unlock writes
p7      equ $15C        ; bit 0: 5 V present (docked)
i01cr   equ $15D
i23cr   equ $15E
isl     equ $15F
vsel    equ $163
vrmad1  equ $164
vrmad2  equ $165
vtrbf   equ $166
vlreg   equ $167
btcr    equ $17F        ; base timer control
