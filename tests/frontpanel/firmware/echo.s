; A machine that keeps what it is typed: a keyboard driver of the demo
; machine's kind (key interrupt, matrix scan, key queue; keys.s and defs.s
; beside this file) with a main loop that appends every key it takes to RAM
; from ECHOBUF on, without any display. The tests type long texts into it
; and compare.

        include "defs.s"

ECHOBUF         equ &H8000      ; above the system stack, 32 KB of room

        org ENTRY_RESET
        jp start
        org ENTRY_WAKE
        jp start
        org ENTRY_KEY
        jp keyint
        org ENTRY_TRAP
        rtn
        org ENTRY_SPURIOUS
        rtni

start:
        pst ie,0
        pst ib,&H40
        pst ua,&H54
        pre ss,STACKTOP
        pre us,USTACKTOP
        pre iz,VARS
        ld $31,0
        ldw $16,ECHOBUF         ; next free byte of the buffer
        ld $24,1
        st $24,(iz+HELD)
        st $31,(iz+QHEAD)
        st $31,(iz+QTAIL)
        pst ia,IAKEYS
        pst ie,IEKEYS
main:
        cal pollkeys
        cal getkey
        adc $24,0
        jr z,main
        st $24,($16)
        ad $16,1
        jr nc,main
        ad $17,1
        jr main

        include "keys.s"
