; Arrays of DIM: A()-Z() of numbers and A$()-Z$() of strings, one or two
; dimensions, up to 255 elements each way. DIM takes their memory from
; the top of the free memory down (ARRTOP), @() keeps the bottom. ARRTAB
; has an entry of 4 bytes for each: the address of element 0 (0 when not
; dimensioned), then the sizes of the two dimensions (the second 0 for one
; dimension). A numeric element is 9 bytes, as a variable; a string one is
; a slot of 128 bytes, as a string variable. RUN, NEW and a change of the
; program clear them all.

; No array dimensioned. Keeps IX; uses $24, $25, $28, $29.
arrnone:
        gre ix,$28
        phsw $29
        ld $24,lo(MEMTOP)
        st $24,(iz+ARRTOP)
        ld $24,hi(MEMTOP)
        st $24,(iz+ARRTOP+1)
        gst ie,$24              ; the start calls this with interrupts off:
        phs $24                 ; they stay as they are
        pst ie,0                ; ARRTAB zeroed: its first byte copied on
        ld $24,lo(ARRTAB)
        ld $25,hi(ARRTAB)
        st $31,($24)
        pre ix,ARRTAB
        pre iy,ARRTAB+206
        pre iz,ARRTAB+1
        bup
        pre iz,VARS
        pps $24
        pst ie,$24
        ppsw $28
        pre ix,$28
        rtn

; The array name at IX: a letter and maybe "$"; $25 = the offset of its
; entry in ARRTAB (string arrays from 104 on), IX past the name.
arrname:
        ld $25,(ix+0)
        sb $25,&H41
        jp c,err_syntax
        sbc $25,26
        jp nc,err_syntax
        ldi $24,(ix+0)
        ld $24,(ix+0)
        sbc $24,&H24
        jr nz,an_num
        ldi $24,(ix+0)
        ad $25,26
an_num:
        ad $25,$25
        ad $25,$25
        rtn

; $24 = a subscript 0..255. Uses everything an expression does.
subscript:
        cal expr
        cal bcd2bin
        jp c,err_subscript
        adc $25,0
        jp nz,err_subscript
        rtn

; (i) or (i,j) at IX: $22 = i, $23 = j, $21 = how many were given.
subscripts:
        ld $25,&H28
        cal expect
        cal subscript
        ld $25,(ix+0)
        sbc $25,&H2C
        jr z,ss_two
        phs $24
        ld $24,1
        phs $24
        ld $24,0
        jr ss_close
ss_two:
        ldi $25,(ix+0)
        phs $24
        ld $24,2
        phs $24
        cal subscript
ss_close:
        phs $24
        ld $25,&H29
        cal expect
        pps $23
        pps $21
        pps $22
        rtn

; Pair $24 = $16 times $17 ($17 is used up). Uses $18-$21.
mul8:
        ld $24,0
        ld $25,0
        ld $18,$16
        ld $19,0
        ld $20,8
m8_bit:
        ld $21,$17
        an $21,1
        jr z,m8_next
        adw $24,$18
m8_next:
        adw $18,$18
        bid $17
        sb $20,1
        jr nz,m8_bit
        rtn

; Pair $26 = the element of the array at IX (a name and its subscripts),
; IX past it. Not dimensioned, a subscript out of range or the wrong
; number of them is a bad subscript. Keeps nothing.
arrref:
        cal arrname
        phs $25
        cal subscripts
        pps $28
        ld $29,hi(ARRTAB)
        ld $26,($28)
        ad $28,1                ; ARRTAB lies within one page
        ld $27,($28)
        ad $28,1
        ld $16,($28)
        ad $28,1
        ld $17,($28)
        sb $28,3
        orc $26,$27
        jp z,err_subscript      ; not dimensioned
        sbc $22,$16
        jp nc,err_subscript
        ld $24,$22
        ld $25,0
        adc $17,0
        jr z,ar_one
        sbc $21,2
        jp nz,err_subscript
        sbc $23,$17
        jp nc,err_subscript
        ld $16,$22              ; i * the second size + j
        phsw $27
        cal mul8
        ld $18,$23
        ld $19,0
        adw $24,$18
        ppsw $26
        jr ar_addr
ar_one:
        sbc $21,1
        jp nz,err_subscript
ar_addr:
        sbc $28,104
        jr nc,ar_string
        ldw $18,$24
        adw $24,$24
        adw $24,$24
        adw $24,$24
        adw $24,$18             ; 9 bytes an element
        adw $26,$24
        rtn
ar_string:
        ld $18,7
ar_shift:
        adw $24,$24             ; 128 bytes an element
        sb $18,1
        jr nz,ar_shift
        adw $26,$24
        rtn

; A variable at IX for LET, INPUT and READ: as varref, and A(...) too.
varrefa:
        ld $24,(ix+1)
        sbc $24,&H28
        jp nz,varref
        ld $24,(ix+0)
        sbc $24,&H40
        jp z,varref
        jp arrref

; DIM name(n[,m])[,...]: elements 0..n (times 0..m), all 0 or "".
do_dim:
        cal arrname
        phs $25
        cal subscripts
        pps $28
        ld $29,hi(ARRTAB)
        ld $24,($28)
        ad $28,1
        ld $25,($28)
        orc $24,$25
        jp nz,err_value         ; dimensioned already
        ad $22,1                ; the sizes
        jp z,err_subscript
        ld $16,$22
        ld $17,0
        sbc $21,2
        jr nz,dm_count
        ad $23,1
        jp z,err_subscript
        ld $17,$23
dm_count:
        ad $28,1
        st $16,($28)
        ad $28,1
        st $17,($28)
        sb $28,3
        ld $24,$16
        ld $25,0
        adc $17,0
        jr z,dm_bytes
        phsw $29
        cal mul8
        ppsw $28
dm_bytes:
        sbc $28,104
        jr nc,dm_string
        ldw $18,$24
        adw $24,$24
        jp c,err_memory
        adw $24,$24
        jp c,err_memory
        adw $24,$24
        jp c,err_memory
        adw $24,$18
        jp c,err_memory
        jr dm_take
dm_string:
        ld $18,7
dm_shift:
        adw $24,$24
        jp c,err_memory
        sb $18,1
        jr nz,dm_shift
dm_take:
        ld $20,(iz+ARRTOP)      ; the old top, and the new one below it
        ld $21,(iz+ARRTOP+1)
        ld $22,$20
        ld $23,$21
        sbw $22,$24
        jp c,err_memory
        sbc $28,104
        jr c,dm_room
        an $22,&H80             ; string slots start on a multiple of 128
dm_room:
        ld $24,(iz+ATOP)        ; @() as far as it was used stays below
        ld $25,(iz+ATOP+1)
        sbcw $22,$24
        jp c,err_memory
        st $22,(iz+ARRTOP)
        st $23,(iz+ARRTOP+1)
        st $22,($28)
        ad $28,1
        st $23,($28)
        st $31,($22)            ; cleared: the first byte copied on
        ld $24,2
        ld $25,0
        sbw $20,$24
        gre ix,$24
        phsw $25
        pst ie,0
        pre ix,$22
        pre iy,$20
        ad $22,1
        jr nc,dm_fill
        ad $23,1
dm_fill:
        pre iz,$22
        bup
        pre iz,VARS
        pst ie,IEKEYS
        ppsw $24
        pre ix,$24
        ld $24,(ix+0)
        sbc $24,&H2C
        jp nz,stmt_end
        ldi $24,(ix+0)
        jp do_dim
