; card.i: the card's own file system, read with LDF. A block is 512 bytes;
; block N lies at flash address N x 512, blocks 128-255 in bank 1 (FPR bit
; 0). The root block (255) names the FAT block and the directory; the FAT
; holds a 16-bit word per block (the next block of its file, or $FFFA for
; the last, $FFFC free, $FFFF damaged); the directory holds 16 entries of 32
; bytes a block, from its highest block down:
;     0 type ($33 data, $CC game, 0 none)   2 first block   4 name, 12 bytes
;     $10 time stamp, 8 BCD bytes   $18 size in blocks   $1A header block

ROOT_BLOCK      = 255
ROOT_FAT        = $46           ; offsets in the root block
ROOT_DIRECTORY  = $4A
ROOT_DIR_BLOCKS = $4C
DIR_MAX_BLOCKS  = 13            ; a standard card's, and the most looked at
DIR_FIRST       = 2             ; offsets in an entry
DIR_NAME        = 4
DIR_STAMP       = $10
DIR_SIZE        = $18

; flash_at: points FPR:TRH:TRL at byte (B:C) of block ACC, B being bit 8 of
; the offset and C its low byte. Clobbers ACC.
flash_at:
        rol                     ; block bits 6-0 to 7-1, the bank to bit 0
        st trh
        and #$01
        st fpr                  ; bit 1 stays clear: flash writes locked
        ld trh
        and #$FE
        or b
        st trh
        ld c
        st trl
        ret

; read_root: fat_block, dir_top and dir_slots from the root block. A card
; without the format mark or with fields out of range gets no slots at all.
; Clobbers ACC, B, C, tmp0.
read_root:
        mov #0, dir_slots
        mov #0, b
        mov #0, c
        mov #ROOT_BLOCK, acc
        call flash_at
        ldf
        bne #$55, .bad          ; the format mark
        mov #ROOT_FAT + 1, trl  ; the 16-bit fields' high bytes must be 0
        ldf
        bnz .bad
        mov #ROOT_DIRECTORY + 1, trl
        ldf
        bnz .bad
        mov #ROOT_DIR_BLOCKS + 1, trl
        ldf
        bnz .bad
        mov #ROOT_FAT, trl
        ldf
        st fat_block
        mov #ROOT_DIRECTORY, trl
        ldf
        st dir_top
        mov #ROOT_DIR_BLOCKS, trl
        ldf
        bz .bad
        st tmp0
        sub #DIR_MAX_BLOCKS + 1
        bp psw, cy, .size_ok
        mov #DIR_MAX_BLOCKS, tmp0
.size_ok:
        ld dir_top              ; the directory must not reach below block 0
        sub tmp0
        bp psw, cy, .bad
        ld tmp0                 ; 16 slots a block
        rol
        rol
        rol
        rol
        st dir_slots
.bad:
        ret

; entry_at: points FPR:TRH:TRL at the directory entry of slot ACC: block
; dir_top - slot / 16, offset (slot mod 16) x 32. Clobbers ACC, B, C, tmp0,
; tmp1.
entry_at:
        st tmp0
        ror                     ; slot / 16
        ror
        ror
        ror
        and #$0F
        st tmp1
        ld tmp0                 ; offset bit 8: slot bit 3
        ror
        ror
        ror
        and #$01
        st b
        ld tmp0                 ; offset low byte: slot bits 2-0 to 7-5
        and #$07
        ror
        ror
        ror
        st c
        ld dir_top
        sub tmp1
        jmp flash_at

; is_listed: whether slot ACC holds a file to list: a data file or a game,
; except the game that starts at block 0, which is the sender itself. Out: CY
; clear when listed. Clobbers ACC, B, C, tmp0, tmp1.
is_listed:
        call entry_at
        ldf
        be #TYPE_DATA, .yes
        bne #TYPE_GAME, .no
        inc trl                 ; the first block, both bytes
        inc trl
        ldf
        bnz .yes
        inc trl
        ldf
        bnz .yes
.no:
        set1 psw, cy
        ret
.yes:
        clr1 psw, cy
        ret

; find_file: the slot of listed file number ACC (0 first). Out: CY clear and
; ACC the slot; CY set when there are fewer files, scan_count then being
; how many there are. Clobbers B, C, tmp0, tmp1.
find_file:
        st scan_target
        mov #0, scan_slot
        mov #0, scan_count
.next:
        ld scan_slot
        be dir_slots, .end
        call is_listed
        bp psw, cy, .skip
        ld scan_count
        be scan_target, .found
        inc scan_count
.skip:
        inc scan_slot
        br .next
.found:
        ld scan_slot
        clr1 psw, cy
        ret
.end:
        set1 psw, cy
        ret

; count_files: file_count, the number of files listed (at most 208).
count_files:
        mov #$FF, acc
        call find_file
        ld scan_count
        st file_count
        ret

; load_entry: reads the entry of slot ACC into slot, entry_type,
; entry_first, entry_name and entry_size. Clobbers ACC, B, C, R0, tmp0, tmp1.
load_entry:
        st slot
        call entry_at
        ldf
        st entry_type
        inc trl
        inc trl
        ldf
        st entry_first
        inc trl
        ldf
        st entry_first_hi
        inc trl
        mov #entry_name, ram_ptr
        mov #12, tmp0
.name:
        ldf
        st @R0
        inc ram_ptr
        inc trl
        dbnz tmp0, .name
        ld trl                  ; from the stamp at $10 on to the size at $18
        add #DIR_SIZE - DIR_STAMP
        st trl
        ldf
        st entry_size
        inc trl
        ldf
        st entry_size_hi
        ret

; fat_next: the block after cur_block in its file. Out: CY clear and ACC the
; block; CY set when the FAT marks cur_block as the last, free or damaged.
; Clobbers B, C, tmp0.
fat_next:
        ld cur_block            ; its word at offset 2 x block
        rol
        and #$01
        st b
        ld cur_block
        add cur_block
        st c
        ld fat_block
        call flash_at
        ldf
        st tmp0
        inc trl
        ldf
        bnz .end                ; $FFxx: no next block on a 256-block card
        ld tmp0
        clr1 psw, cy
        ret
.end:
        set1 psw, cy
        ret
