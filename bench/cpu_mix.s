; A CPU-bound program for the speed measurements: an endless loop over what
; firmware spends its time on. It runs from RAM in segment 1 with the common
; area at 0x4000 (IB = 0x40) and every segment selector at 1 (UA = 0x55), so
; code, stacks and both data sides live in segment 1.
;
; One pass of the outer loop, in emulated cycles: about two thirds go to
; the byte loop (register arithmetic and logic, indexed loads and stores,
; pushes and pops, a call, relative jumps), the rest to word and decimal
; arithmetic over register blocks, a multi-register store and load, and a
; block transfer and a search.

BUF     equ &H9000              ; 256 bytes 0..255
DST     equ &HA000              ; copies and results
STACK   equ &HFF00
USTACK  equ &HFE00

        org &H8000
start:
        pre ss,STACK
        pre us,USTACK
        ld $31,0
        xrm $0,$0,8             ; A = 0 (packed decimal, 16 digits)
        xrm $8,$8,8
        ld $8,&H37              ; B = 4711337
        ld $9,&H13
        ld $10,&H71
        ld $11,&H04
        pre ix,BUF              ; BUF[i] = i
        ld $1,0
fill:
        sti $1,(ix+0)
        ad $1,1
        jr nz,fill

main:
        pre ix,BUF
        pre iz,DST
        ld $20,0                ; byte index
        ld $21,48               ; passes of the byte loop
loop:
        ld $2,(ix+$20)          ; indexed load
        ad $2,$21               ; register arithmetic and logic
        xr $2,&H5A
        ld $3,$2
        an $3,&H0F
        or $3,&H01
        sbc $2,$3               ; compare
        jr c,small
        sb $2,$3
small:
        st $2,(iz+$20)          ; indexed store
        ldw $4,(ix+$20)         ; word load and word arithmetic
        adw $4,$6
        stw $4,(iz+$20)
        phs $2                  ; pushes, a call and pops
        cal mix
        pps $2
        ad $20,5
        sb $21,1
        jr nz,loop

        adbm $0,$8,8            ; A = A + B, sixteen decimal digits
        sbbcm $0,$8,8           ; compare A with B
        jr c,nocarry
        ld $24,&H10
        stm $0,(iz+$24),8       ; multi-register store and load
        ldm $16,(iz+$24),8
nocarry:
        pre ix,BUF+16           ; block transfer of 48 bytes
        pre iy,BUF+63
        pre iz,DST+64
        bup
        pre ix,BUF              ; search for the byte 0x28
        pre iy,BUF+255
        ld $5,&H28
        sup $5
        jp main

; A leaf routine with a word push and pop and one-register shifts.
mix:
        phsw $13
        ld $12,$2
        rou $12
        bid $13
        adc $12,&H10
        xr $13,$12
        ppsw $13
        rtn
