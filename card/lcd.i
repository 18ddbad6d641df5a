; lcd.i: text on the 48 x 32 screen: five lines of twelve characters, each
; in a cell of 4 x 6 pixels (line L's glyphs on pixel rows 6L + 1 to 6L + 5).
; The screen is XRAM: XBNK 0 holds rows 0-15, XBNK 1 rows 16-31, each at
; $180 + 16 x (row / 2) + 6 x (row mod 2) within its bank, a byte holding 8
; pixels with the leftmost in bit 7, so a byte holds two cells.

; lcd_clear: clears the screen. Clobbers ACC, R2.
lcd_clear:
        mov #0, xbnk
        call .bank
        mov #1, xbnk
.bank:
        mov #$80, xram_ptr
.byte:
        mov #0, @R2             ; the gaps between row pairs too: harmless
        inc xram_ptr
        ld xram_ptr
        bne #$FC, .byte
        ret

; put_text: draws the text at TRH:TRL in program space: its line, its column,
; then the characters up to a 0. Clobbers ACC, R2, TRL, TRH and the text
; variables.
put_text:
        ld trl
        st str_lo
        ld trh
        st str_hi
        mov #0, acc
        ldc
        st text_line
        mov #1, acc
        ldc
        st text_col
        mov #2, str_pos
        ; on into put_chars

; put_chars: draws the characters at str_hi:str_lo + str_pos up to a 0,
; from cell text_col of text_line on. Clobbers as put_text.
put_chars:
        ld str_lo
        st trl
        ld str_hi
        st trh
        ld str_pos
        ldc
        bz .end
        call draw_char
        inc str_pos
        br put_chars
.end:
        ret

; put_name: draws the 12 bytes of entry_name from cell text_col of
; text_line on. Clobbers as draw_char, and R0.
put_name:
        mov #entry_name, name_pos
.char:
        ld name_pos
        st ram_ptr
        ld @R0
        call draw_char
        inc name_pos
        ld name_pos
        bne #entry_name + 12, .char
        ret

; put_dec4, put_dec3: num_hi:num_lo as four (below 10000) or three (below
; 1000) decimal digits, from cell text_col of text_line on. Clobbers ACC,
; num_hi, num_lo, div_hi, div_lo, digit and what draw_char clobbers.
put_dec4:
        mov #>1000, div_hi
        mov #<1000, div_lo
        call put_digit
put_dec3:
        mov #0, div_hi
        mov #100, div_lo
        call put_digit
        mov #10, div_lo
        call put_digit
        mov #1, div_lo
        ; on into put_digit

; put_digit: the digit that counts how often div_hi:div_lo goes into
; num_hi:num_lo, which keeps the rest.
put_digit:
        mov #'0', digit
.try:
        ld num_lo
        sub div_lo
        st tmp0
        ld num_hi
        subc div_hi
        bp psw, cy, .draw       ; a borrow: the divisor no longer fits
        st num_hi
        ld tmp0
        st num_lo
        inc digit
        br .try
.draw:
        ld digit
        ; on into draw_char

; draw_char: draws character ACC in cell text_col of text_line and moves
; text_col on. Lower case shows as upper case, a NUL (a name's padding) as a
; space, anything else outside $20-$7A as '?'. Clobbers ACC, R2, TRL, TRH,
; XBNK, glyph, row_y, rows_left, font_lo, font_hi, pixels.
draw_char:
        bnz .char
        mov #' ', acc
.char:
        st glyph
        sub #'a'
        bp psw, cy, .upper      ; below 'a'
        sub #26
        bn psw, cy, .unknown    ; above 'z'
        ld glyph
        sub #$20
        st glyph
.upper:
        ld glyph
        sub #$20
        bp psw, cy, .unknown    ; a control character
        st glyph
        sub #64
        bp psw, cy, .known
.unknown:
        mov #'?' - $20, glyph
.known:
        ld text_line            ; the cell's top row: 6 x line + 1
        add text_line
        st row_y
        add row_y
        add row_y
        inc acc
        st row_y
        mov #<font, font_lo
        mov #>font, font_hi
        mov #5, rows_left
.row:
        mov #<row_address, trl  ; the row's first byte and its bank
        mov #>row_address, trh
        ld row_y
        ldc
        st xram_ptr
        ld text_col             ; two cells a byte
        and #$FE
        ror
        add xram_ptr
        st xram_ptr
        ld row_y
        ror
        ror
        ror
        ror
        and #$01
        st xbnk
        ld font_lo              ; the glyph's row
        st trl
        ld font_hi
        st trh
        ld glyph
        ldc
        bp text_col, 0, .right
        st pixels               ; the left cell: the high nibble
        ld @R2
        and #$0F
        br .merge
.right:
        ror                     ; the right cell: the low nibble
        ror
        ror
        ror
        st pixels
        ld @R2
        and #$F0
.merge:
        or pixels
        st @R2
        inc row_y
        ld font_lo              ; the next row's table, 64 bytes on
        add #64
        st font_lo
        ld font_hi
        addc #0
        st font_hi
        dbnz rows_left, .row
        inc text_col
        ret

; The XRAM address ($100 less) of each pixel row's first byte, rows 16-31
; being in bank 1.
row_address:
        .byte $80, $86, $90, $96, $A0, $A6, $B0, $B6
        .byte $C0, $C6, $D0, $D6, $E0, $E6, $F0, $F6
        .byte $80, $86, $90, $96, $A0, $A6, $B0, $B6
        .byte $C0, $C6, $D0, $D6, $E0, $E6, $F0, $F6

; The font comes last, after a mark by which the tests find it in the image
; to read the screen back as text.
        .string 16 "VMURX FONT 3X5"
        .include "font.i"
