; vmurx-sender: the card's end of the vmurx cable. It lists the files on the
; card, one a screen, and sends the one chosen with A to a PC running vmurx,
; over the card's port 1 wired to the PC's parallel port (or a GPIO header).
; B or MODE returns to the card's menu.
;
; Build (CMake does all three):
;     vmurx-vmu asm -o vmurx-sender.vms vmurx-sender.s
;     vmurx-save convert --type game ... vmurx-sender.vms vmurx-sender.vmi
;     vmurx-save convert --type game ... vmurx-sender.vms vmurx-sender.dci
;
; The cable (the PC's lines named as on its DB-25 connector), wired for
; the card's own Copy; the sender uses the pins as plain ports:
;     P10 (SO0)  out  Busy,   pin 11   the bit the card sends
;     P11 (SI0)  in   D2,     pin 4    the PC's echo: this bit of the byte before
;     P12 (SCK0) out  Ack,    pin 10   the card's bit clock
;     P13 (SO1)  out  Select, pin 13   low: the card is ready
;     P14 (SI1)  in   D1,     pin 3    the bit the PC sends
;     P15 (SCK1) in   D0,     pin 2    the PC's bit clock
;     P73        in   D3,     pin 5    high while the PC has the port open
;
; A transfer: the card pulls Select low, then sends block frames (header,
; the PC's reply $E0, block code, payload, trailer, the PC's ACK $0C or NAK
; $0A): the start block (type, size), the name block, a data block and a
; flash block for every 128-byte piece of the file, the directory block (the
; time stamp) and a last flash block. Each bit it sends is Ack low with the
; bit on Busy, then Ack high, most significant bit first; the PC answers
; each low with its echo on D2, which the card waits for where it can see it
; and checks (send.i). Each bit it receives is a fall and a rise of D0 with
; the bit on D1. On the list, left and right choose the speed: FAST holds
; the levels the echo cannot confirm 20 us, SAFE 250 us, for a PC that
; pauses now and then for up to 200 us.
;
; Files: vmurx-sender.s (this: layout, start, the list's keys), keys.i
; (leaving, buttons, waits, the list's clock), list.i (the list's screens),
; card.i (root, directory and FAT), link.i (pins, the PC's bytes, frames),
; send.i (the card's bytes and the rules of the PC's echo),
; transfer.i (a whole file and its screens), lcd.i (text on the screen),
; font.i, icon.i.

        .include "sfr.i"

; ---------------------------------------------------------------------------
; Clocks and timing. The system starts a game on the 32 kHz quartz (183 us
; a cycle), too slow for the screen: the card needs the RC or the ceramic
; oscillator for writes to it. The sender runs its list on the RC clock
; divided by 6 (about 7 us a cycle; 600 to 1200 kHz from card to card) and
; sends on the 6 MHz ceramic divided by 6, one cycle a microsecond. Leaving,
; it puts the system's clock back.
OCR_RC_STARTED  = %10100001     ; /6, still the quartz, the RC running, ceramic stopped
OCR_RC          = %10000001     ; /6, the RC, ceramic stopped
OCR_CERAMIC     = %10010000     ; bit 7: /6, bits 5-4 = 01: ceramic
CYCLES_PER_US   = 1

; How long the card waits for a byte from the PC. recv_byte's poll is 5
; cycles and counts 65536 polls per unit of RECV_UNITS.
RECV_TIMEOUT_MS = 2000
POLL_CYCLES     = 5
RECV_UNITS      = RECV_TIMEOUT_MS * 1000 * CYCLES_PER_US / (POLL_CYCLES * 65536)

; After a byte from the PC the card waits at least this many polls before
; it sends (on top of twice the PC's delay unit, which it measures).
REPLY_GAP_MIN_US = 20
REPLY_GAP_MIN_POLLS = REPLY_GAP_MIN_US * CYCLES_PER_US / POLL_CYCLES

; pause waits ACC x 516 cycles.
PAUSE_CYCLES    = 516
; Between frames the PC prints its progress (and flushes it) before it looks
; at Ack again; each frame starts this long after the one before.
FRAME_GAP_US    = 2000
FRAME_GAP       = FRAME_GAP_US * CYCLES_PER_US / PAUSE_CYCLES
; After Select goes low the PC sleeps a millisecond before it listens; the
; card waits 10 ms before its first bit.
READY_LEAD      = 10000 * CYCLES_PER_US / PAUSE_CYCLES
; A key is looked at every 516 cycles (3.5 ms at the RC clock /6), so a
; press of 150 ms is seen some 40 times.

; ---------------------------------------------------------------------------
; Port 1 and the buttons.

P1_BUSY         = 0             ; P10, out
P1_D2           = 1             ; P11, in
P1_ACK          = 2             ; P12, out
P1_SELECT       = 3             ; P13, out
P1_D1           = 4             ; P14, in
P1_D0           = 5             ; P15, in
P1_OUTPUTS      = (1 << P1_BUSY) | (1 << P1_ACK) | (1 << P1_SELECT)
P1_IDLE         = (1 << P1_ACK) | (1 << P1_SELECT)     ; not ready, Ack high
P1_READY        = (1 << P1_ACK)                        ; Select low
; Port 1 as the system keeps it, restored after: the pins given to their
; functions, only P17 (the buzzer) an output, so that the card drives none
; of the PC's lines.
P1FCR_SYSTEM    = $BF
P1DDR_SYSTEM    = $80
P1FCR_LINK      = P1FCR_SYSTEM & ($FF ^ $3F)   ; P10-P15 plain ports
P1DDR_LINK      = P1DDR_SYSTEM | P1_OUTPUTS

KEY_UP          = 0             ; P3 bits, active low on the pins
KEY_DOWN        = 1
KEY_LEFT        = 2
KEY_RIGHT       = 3
KEY_A           = 4
KEY_B           = 5
KEY_MODE        = 6
KEYS_USED       = $7F

DOCKED          = 0             ; P7 bits: 5 V from a controller,
PC_HOLDS_PORT   = 3             ; and D3, high while the PC has the port open

; P3INT while the sender runs: no key interrupts, the keys being polled (in
; the system's continuous mode a held key would interrupt after every
; instruction).
P3INT_POLLED    = $00

; The system's low-battery check, in RAM bank 0: $FF switches it off.
LOW_BATTERY_CHECK = $6E

; ---------------------------------------------------------------------------
; The cable protocol.

HEADER_REPLY    = $E0
BLOCK_ACK       = $0C
BLOCK_NAK       = $0A
CODE_START      = 2
CODE_DIRECTORY  = 3
CODE_DATA       = 4
CODE_NAME       = 6
CODE_FLASH      = 8
TYPE_DATA       = $33
TYPE_GAME       = $CC

; Why a transfer failed (fail_reason) and in which block (fail_block): the
; indexes of the texts in transfer.i.
; Those below FAIL_BAD_CHAIN happen within a frame, and the screen names it.
FAIL_NONE       = 0
FAIL_NO_REPLY   = 1
FAIL_BAD_REPLY  = 2
FAIL_REFUSED    = 3
FAIL_NO_ECHO    = 4
FAIL_BAD_ECHO   = 5
FAIL_BAD_CHAIN  = 6
FAIL_TOO_LARGE  = 7
FAIL_CANCELLED  = 8
BLK_START       = 0
BLK_NAME        = 1
BLK_DATA        = 2
BLK_FLASH       = 3
BLK_DIRECTORY   = 4
BLK_LAST_FLASH  = 5

; ---------------------------------------------------------------------------
; RAM bank 1, the application's (PSW's RAM bank bit stays set). Bytes 0 and
; 2 are the pointers R0 and R2 (IRBK 0): R0 walks RAM, R2 the XRAM.

ram_ptr         = $00           ; R0
xram_ptr        = $02           ; R2: XRAM address - $100
file_count      = $10           ; files listed
file_index      = $11           ; the one on show, from 0
slot            = $12           ; its directory slot
entry_type      = $13           ; its directory entry, as read by load_entry
entry_first     = $14
entry_first_hi  = $15
entry_size      = $16
entry_size_hi   = $17
entry_name      = $18           ; 12 bytes, to $23
dir_top         = $24           ; highest directory block
dir_slots       = $25           ; directory slots, 16 a block
fat_block       = $26
keys_held       = $27           ; buttons held at the last look (1: held)
ocr_saved       = $28           ; the clock before link_up
battery_saved   = $29
link_taken      = $2A           ; 1 while P1, clock and battery check are changed
tmp0            = $2B
tmp1            = $2C
tmp2            = $2D
tmp3            = $2E
scan_slot       = $2F
scan_count      = $30
scan_target     = $31
send_value      = $32
bit_count       = $33
hold_count      = $34
recv_value      = $35
recv_sample     = $36
timeout0        = $37
timeout1        = $38
timeout2        = $39
frame_code      = $3A
frame_len       = $3B
frame_src       = $3C           ; 0: frame_ram, 1: flash at FPR:TRH:TRL
frame_ram       = $3D           ; 2 bytes
trailer         = $3F
payload_left    = $40
fail_reason     = $41
fail_block      = $42
cur_block       = $43
blocks_left     = $44
piece           = $45
done_hi         = $46           ; pieces sent
done_lo         = $47
total_hi        = $48           ; pieces in the file
total_lo        = $49
text_line       = $4A
text_col        = $4B
glyph           = $4C
row_y           = $4D
rows_left       = $4E
font_lo         = $4F
font_hi         = $50
pixels          = $51
str_lo          = $52
str_hi          = $53
str_pos         = $54
num_hi          = $55
num_lo          = $56
div_hi          = $57
div_lo          = $58
digit           = $59
name_pos        = $5A
fall_lo         = $5B           ; recv_byte's poll count at a fall of D0
fall_hi         = $5C
level_lo        = $5D           ; the length of the last low level, in polls
level_hi        = $5E
system_ocr      = $5F           ; the system's clock, P3INT and IE, as the
system_p3int    = $60           ; sender found them
system_ie       = $61
speed           = $62           ; 0: FAST, 1: SAFE (send.i)
low_unconfirmed = $63           ; send.i's rule 3, in loops, from speed
high_unconfirmed = $6D
next_visible    = $6E           ; send.i: bit i set where the next echo shows
echo_value      = $64           ; the byte sent before: the PC echoes it
echo_flags      = $65
busy_bits       = $66           ; P1 with the bit on Busy and Ack low
prev_busy       = $67           ; P1 as the bit before was raised
d2_expect       = $68           ; the echo of the bit in hand, as D2's bit
d2_prev         = $69           ; and of the bit before
retry_lo        = $6A
retry_hi        = $6B
pending_hold    = $6C           ; the loops the last high still lasts
STACK_TOP       = $7F           ; the stack runs from $80 up in bank 0

; ---------------------------------------------------------------------------
; Interrupt vectors. Only the base timer is used, and it goes to the system.

        .org $00
        jmpf start
        .org $03
        reti
        .org $0B
        reti
        .org $13
        reti
        .org $1B
        jmp timer_ex            ; the half-second tick, to the system's clock
        .org $23
        reti
        .org $2B
        reti
        .org $33
        reti
        .org $3B
        reti
        .org $43
        reti
        .org $4B
        clr1 p3int, 1           ; a button (the sender polls them instead)
        reti

; ---------------------------------------------------------------------------
; The BIOS stubs, laid out as the card maker's: the page routines come back
; to the instruction after their stub's jump ($105, $115, $125); the clock
; routine always comes back to $139, where the stub's `pop ie` stands, the
; stub having kept IE and masked interrupts before it jumps.

        .org $100
fm_wrt_ex:
        not1 ext, 0
        jmpf fm_wrt_ex
        ret
        .org $110
fm_vrf_ex:
        not1 ext, 0
        jmpf fm_vrf_ex
        ret
        .org $120
fm_prd_ex:
        not1 ext, 0
        jmpf fm_prd_ex
        ret
        .org $130
timer_ex:
        push ie                 ; $130
        clr1 ie, 7              ; $132
        not1 ext, 0             ; $134
        jmpf timer_ex           ; $136
        pop ie                  ; $139: where the system's routine returns
        reti
        .org $1F0
game_end:
        not1 ext, 0
        jmpf game_end

; ---------------------------------------------------------------------------
; The file header: the menu's descriptions, the application, the icon.

        .org $200
        .text 16 "VMURX SENDER"
        .text 32 "Sends a file to a PC over cable"
        .text 16 "VMURX"
        .word 2                 ; icon frames
        .word 16                ; animation speed
        .word 0                 ; no eyecatch
        .word 0                 ; CRC: a game has none
        .word 0, 0              ; no data after the icons
        .org $260
        .include "icon.i"

; ---------------------------------------------------------------------------
; Start: read the card, then the list.

start:
        mov #STACK_TOP, sp
        set1 psw, rambk0        ; the game's RAM bank, as the system gives it
        ld ie
        st system_ie
        clr1 ie, 7
        mov #0, link_taken
        mov #0, speed           ; FAST
        mov #$FF, keys_held     ; the A that started us may still be down
        ld p3int
        st system_p3int
        mov #P3INT_POLLED, p3int
        ld ocr
        st system_ocr
        call clock_rc
        set1 ie, 7              ; the base timer keeps the system's clock
        call wait_undocked
        call read_root
        call count_files
        ld file_count
        bnz .list
        call show_no_files
        call wait_key
        jmp leave
.list:
        mov #0, file_index
.page:
        call show_page
.keys:
        call wait_key
        bp acc, KEY_A, .send
        bp acc, KEY_B, .leave
        bp acc, KEY_MODE, .leave
        bp acc, KEY_DOWN, .down
        bp acc, KEY_LEFT, .speed
        bp acc, KEY_RIGHT, .speed
        bn acc, KEY_UP, .keys
        ld file_index           ; up: the one before, or the last
        bnz .up
        ld file_count
.up:
        dec acc
        st file_index
        br .page
.down:
        inc file_index          ; down: the next, or the first
        ld file_index
        bne file_count, .page
        mov #0, file_index
        br .page
.speed:
        not1 speed, 0           ; FAST <-> SAFE
        call show_speed
        br .keys
.send:
        call send_file
        call wait_key
        br .page
.leave:
        jmp leave

        .include "keys.i"
        .include "list.i"
        .include "card.i"
        .include "link.i"
        .include "send.i"
        .include "transfer.i"
        .include "lcd.i"
