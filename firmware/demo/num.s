; Numbers of BASIC: signed integers of up to 16 decimal digits, kept as a
; magnitude of packed decimal in eight registers ($r holding the two lowest
; digits) and a sign byte. Every step is done by the processor's decimal
; instructions over the whole block: adbm and sbbm add and subtract with the
; carry running through all eight bytes, dium and didm shift by one digit.
; Zero is never negative. A result that needs a 17th digit is an overflow.

; A = A + B. Uses T, $24.
nadd:
        ld $24,$30
        xr $24,$29
        jr nz,na_diff
        adbm $0,$8,8            ; same signs: the magnitudes add; the sum
        jp c,err_overflow       ; is 0 only when both were, and a 0 is
        rtn                     ; positive already
na_diff:
        sbbm $0,$8,8            ; signs differ: |A| - |B|
        jr nc,nnorm
        xrm $16,$16,8           ; it went below 0: A holds 10^16 - (|B| - |A|),
        sbbm $16,$0,8           ; so 0 - A is the magnitude, and the sign
        ldm $0,$16,8            ; turns
        xr $30,1
; A zero result is positive.
nnorm:
        orcm $0,$0,8
        rtn nz
        ld $30,0
        rtn

; A = A - B. Uses T, $24.
nsub:
        xr $29,1
        jr nadd

; A = A * B. Uses T, $24, $25.
nmul:
        cal mulmag
        jp c,err_overflow
        xr $30,$29
        jr nnorm

; A = A / B, truncated towards zero. Uses T, $24-$27.
ndiv:
        cal divmag
        xr $30,$29
        jr nnorm

; A = A MOD B: the remainder of the truncated division, with the sign of A.
; Uses T, $24-$27.
nmod:
        cal divmag
        ldm $0,$16,8
        jr nnorm

; |A| = |A| * |B| over 16 digits, by the school method: for each digit of A
; from the top, T = T * 10 + digit * B. C set when the product needs more
; than 16 digits. Uses T, $24, $25.
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

; |A| = |A| / |B| and T = the remainder, by long division: each digit of A
; from the top moves into T, and B is taken from T as often as it goes,
; which is the next digit of the quotient, shifted into A from below. T can
; reach 17 digits on the way (it stays below 10 * B); $27 holds its top
; digit. Division by zero is an error. At most nine subtractions a digit,
; so the division ends whatever the bytes hold. Uses $24-$27.
divmag:
        orcm $8,$8,8
        jp z,err_div0
        xrm $16,$16,8
        ld $26,16
dv_digit:
        ld $27,$23
        did $27                 ; the digit T * 10 pushes out
        ld $24,$7
        did $24                 ; the top digit of A
        dium $0,8
        dium $16,8
        or $16,$24              ; T = T * 10 + that digit
        ld $25,0
dv_sub:
        sbbm $16,$8,8
        jr nc,dv_fits
        sbc $27,1               ; a borrow takes from the 17th digit
        jr c,dv_back
        sb $27,1
dv_fits:
        ad $25,1
        sbc $25,9
        jr c,dv_sub
        jr dv_quot              ; 9 is the largest digit: no tenth try, so
                                ; bytes that are not decimal end here too
dv_back:
        adbm $16,$8,8           ; one time too many: give it back
dv_quot:
        or $0,$25               ; the quotient digit
        sb $26,1
        jr nz,dv_digit
        rtn

; Compare A with B: $24 = 1 when A < B, 2 when equal, 4 when A > B.
ncmp:
        ld $24,$30
        xr $24,$29
        jr z,nc_same
        adc $30,0               ; signs differ: the negative one is smaller
        jr nz,nc_lt
        jr nc_gt
nc_same:
        sbbcm $0,$8,8           ; the magnitudes
        jr c,nc_maglt
        jr z,nc_eq
        adc $30,0               ; |A| > |B|
        jr nz,nc_lt
nc_gt:
        ld $24,4
        rtn
nc_maglt:
        adc $30,0
        jr nz,nc_gt
nc_lt:
        ld $24,1
        rtn
nc_eq:
        ld $24,2
        rtn

; A = the decimal digits at IX, which moves past them; the sign is +.
; C set when there is no digit there. More than 16 digits are an overflow.
; Uses $24, $25, $28.
getnum:
        xrm $0,$0,8
        ld $30,0
        ld $28,0                ; digits read
gn_loop:
        ld $24,(ix+0)
        sb $24,&H30
        jr c,gn_end             ; below "0"
        sbc $24,10
        jr nc,gn_end            ; above "9"
        sbc $28,16
        jp nc,err_overflow
        dium $0,8               ; A = A * 10 + digit
        or $0,$24
        ad $28,1
        ldi $25,(ix+0)
        jr gn_loop
gn_end:
        sbc $28,1               ; C when no digit was read
        rtn

; NUMBUF = A in decimal, zero-terminated, with a leading "-" when negative.
; A is used up. Uses $24-$28.
numstr:
        ld $26,lo(NUMBUF)
        ld $27,hi(NUMBUF)
        adc $30,0
        jr z,ns_pos
        ld $24,&H2D             ; -
        st $24,($26)
        ad $26,1
ns_pos:
        ld $25,16               ; digits to go
        ld $28,0                ; 1 once a digit has been written
ns_loop:
        ld $24,$7
        did $24
        dium $0,8
        adc $28,0
        jr nz,ns_put
        sbc $25,1               ; the last digit is written even when 0
        jr z,ns_put
        adc $24,0
        jr z,ns_next            ; a leading zero
ns_put:
        or $24,&H30
        st $24,($26)
        ad $26,1
        ld $28,1
ns_next:
        sb $25,1
        jr nz,ns_loop
        st $31,($26)
        rtn

; Pair $24 = A as a binary number 0..65535; C set when A is negative or
; larger. Uses B, $26-$29.
bcd2bin:
        adc $30,0
        jr nz,bb_bad
        orcm $3,$3,5
        jr nz,bb_bad
        xrm $8,$8,8
        ld $8,&H36
        ld $9,&H55
        ld $10,&H06
        sbbcm $0,$8,3           ; A - 65536: a borrow when A fits
        jr nc,bb_bad
        ld $24,0
        ld $25,0
        ld $26,5
bb_digit:
        dium $0,3               ; the next digit into the top of $2
        ld $28,$2
        did $28
        adw $24,$24             ; pair * 10 + digit
        ldw $8,$24
        adw $24,$24
        adw $24,$24
        adw $24,$8
        ld $29,0
        adw $24,$28
        sb $26,1
        jr nz,bb_digit
        adc $31,0               ; C clear
        rtn
bb_bad:
        sbc $31,1               ; C set
        rtn

; A = pair $24 in decimal, positive. Uses $24-$26.
bin2bcd:
        xrm $0,$0,8
        ld $30,0
        ld $26,16
b2_bit:
        adbm $0,$0,8            ; A * 2 ...
        biuw $24
        jr nc,b2_next
        adbm $0,1,8             ; ... + the top bit
b2_next:
        sb $26,1
        jr nz,b2_bit
        rtn
