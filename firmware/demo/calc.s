; The calculator. A line is numbers of up to 16 digits joined by + - *,
; taken left to right. Numbers are packed decimal in eight registers, $r
; holding the two lowest digits, and every step is done by the processor's
; decimal instructions over the whole block: adbm and sbbm add and subtract
; with the carry running through all eight bytes, dium and didm shift by one
; digit. A result below zero keeps its magnitude in A and its sign in $30.

; EXE: evaluate the cursor's line, print the result (or E) right-aligned on
; the next row, and give a new prompt below it.
execute:
        ld $25,(iz+CCOL)
        sbc $25,2
        jr c,ex_prompt          ; nothing typed: just a new prompt
        cal evaluate
        phs $24
        cal newline
        pps $24
        ld $26,(iz+CROW)
        cal rowaddr
        adc $24,0
        jr nz,ex_error
        st $30,(iz+LSIGN)       ; keep the result
        ld $24,LAST
        stm $0,(iz+$24),8
        ld $26,COUNT            ; one more calculation done
        ldw $24,(iz+$26)
        adbm $24,1,2
        stw $24,(iz+$26)
        cal printnum
        jr ex_prompt
ex_error:
        ld $24,&H45             ; E
        st $24,(ix+COLUMNS-1)
ex_prompt:
        cal newline
        ld $26,(iz+CROW)
        jp prompt

; Evaluate the cursor's line, columns 1 .. CCOL-1.
; Out: $24 = 0 with the value in A and its sign in $30, or $24 = 1 when
; the line is not numbers joined by + - *, or a value needs more than 16
; digits.
evaluate:
        ld $26,(iz+CROW)
        cal rowaddr
        ld $27,1                ; column being read
        cal readnum
        jr c,ev_error
        ldm $0,$8,8             ; A = the first number
        ld $30,0
ev_next:
        ld $25,(iz+CCOL)
        sbc $27,$25
        jr nc,ev_done           ; end of the line
        ld $26,(ix+$27)         ; the operator
        ad $27,1
        phs $26
        cal readnum             ; B = the number after it
        pps $26
        jr c,ev_error
        sbc $26,&H2A            ; *
        jr z,ev_mul
        sbc $26,&H2B            ; +
        jr z,ev_add
        sbc $26,&H2D            ; -
        jr nz,ev_error
        adc $30,0               ; A - B: a negative A grows away from 0
        jr nz,ev_addmag
        jr ev_submag
ev_add:
        adc $30,0               ; A + B: a negative A comes towards 0
        jr nz,ev_submag
ev_addmag:
        adbm $0,$8,8            ; |A| + B
        jr c,ev_error           ; a 17th digit
        jr ev_zero
ev_submag:
        sbbm $0,$8,8            ; |A| - B
        jr nc,ev_zero
        xrm $16,$16,8           ; it went below 0: A holds 10^16 - (B - |A|),
        sbbm $16,$0,8           ; so 0 - A is the magnitude, and the sign
        ldm $0,$16,8            ; turns
        xr $30,1
        jr ev_zero
ev_mul:
        cal mulmag              ; |A| * B; the sign stays
        jr c,ev_error
ev_zero:
        orcm $0,$0,8            ; 0 is never negative
        jr nz,ev_next
        ld $30,0
        jr ev_next
ev_done:
        ld $24,0
        rtn
ev_error:
        ld $24,1
        rtn

; B = the decimal number at column $27 of the row at IX.
; Out: C clear and $27 past its digits; C set when there is no digit there
; or more than 16 of them. Uses $24, $25, $28.
readnum:
        xrm $8,$8,8
        ld $28,0                ; digits read
rn_loop:
        ld $25,(iz+CCOL)
        sbc $27,$25
        jr nc,rn_end
        ld $24,(ix+$27)
        sb $24,&H30
        jr c,rn_end             ; below "0"
        sbc $24,10
        jr nc,rn_end            ; above "9"
        sbc $28,16
        jr nc,rn_fail
        dium $8,8               ; B = B * 10 + digit
        or $8,$24
        ad $28,1
        ad $27,1
        jr rn_loop
rn_end:
        sbc $28,1               ; C when no digit was read
        rtn
rn_fail:
        sbc $31,1               ; 0 - 1: C
        rtn

; A = A * B over 16 digits, by the school method: for each digit of A from
; the top, T = T * 10 + digit * B. C set when the product needs more than
; 16 digits. Uses T, $24, $25.
mulmag:
        xrm $16,$16,8           ; T = 0
        ld $24,16
mm_digit:
        ld $25,$23
        an $25,&HF0
        jr nz,mm_over           ; T * 10 would lose its top digit
        dium $16,8              ; T = T * 10
        ld $25,$7
        did $25                 ; the next digit of A
        dium $0,8
mm_add:
        sbc $25,1
        jr c,mm_next
        adbm $16,$8,8           ; T = T + B
        jr c,mm_over
        sb $25,1
        jr mm_add
mm_next:
        sb $24,1
        jr nz,mm_digit
        ldm $0,$16,8
        adc $31,0               ; C clear
        rtn
mm_over:
        sbc $31,1               ; C set
        rtn

; A (sign $30) in decimal, right-aligned in the row at IX, with a leading
; "-" when negative. A is used up.
printnum:
        ld $25,COLUMNS-1
pn_digit:
        ld $24,$0
        an $24,&H0F
        or $24,&H30
        st $24,(ix+$25)
        sb $25,1
        didm $7,8               ; A = A / 10
        orcm $0,$0,8
        jr nz,pn_digit
        adc $30,0
        rtn z
        ld $24,&H2D             ; -
        st $24,(ix+$25)
        rtn
