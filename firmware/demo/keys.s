; Keys. A key going down raises the key interrupt (request 3) while IA
; reads every key at once on strobe 13; the interrupt then scans the
; strobes one by one to find the key and queues what it means. Keys of the
; host keyboard's special keys (BS, EXE, arrows ...) raise no interrupt, so
; the main loop also looks at the matrix and takes a key that is down but
; was not taken yet.

; Request 3: scan the matrix and queue the key.
keyint:
        phsm $31,8              ; $24-$31 of the interrupted code
        gfl $24
        phs $24                 ; and its flags
        cal takekey
        pps $24
        pfl $24
        ppsm $24,8
        rtni

; From the main loop, with the key interrupt held off meanwhile: HELD is
; cleared once no key is down, and a key that is down while HELD is clear
; is taken here.
pollkeys:
        pst ie,0
        gre ky,$24              ; strobe 13: all keys
        an $25,&HF0             ; return lines 12-15 (8-11 are status bits)
        or $25,$24
        jr nz,pk_down
        st $31,(iz+HELD)
        jr pk_done
pk_down:
        ld $24,(iz+HELD)
        adc $24,0
        jr nz,pk_done
        cal takekey
pk_done:
        pst ie,IEKEYS
        rtn

; The key that is down taken into the queue. While the queue is full only
; BRK is looked for, on its own strobe: no other key is read, so one that
; is held stays down (a typist waits for the program to read it) and is
; taken once there is room again. Uses $24-$29.
takekey:
        cal qfull
        jr z,tk_full
        cal scankey
        jr keydown
tk_full:
        ld $24,IASCAN+1
        pst ia,$24
        gre ky,$24
        pst ia,IAKEYS
        an $24,&H80
        rtn z
        ld $24,1
        st $24,(iz+HELD)
        st $24,(iz+BRKF)
        rtn

; Z when the key queue has no free slot. Uses $26.
qfull:
        ld $26,(iz+QHEAD)
        ad $26,1
        an $26,QMASK
        sbc (iz+QTAIL),$26      ; full when the next slot is the one to take
        rtn

; A key went down; $24 is what it means (0: nothing). It counts as taken,
; and anything it means goes into the queue unless the queue is full. BRK
; is not queued: it raises BRKF, which a running program looks at between
; statements and INPUT while it waits.
keydown:
        ld $25,1
        st $25,(iz+HELD)
        adc $24,0
        rtn z
        sbc $24,KBRK
        jr nz,kd_queue
        st $25,(iz+BRKF)
        rtn
kd_queue:
        ld $25,(iz+QHEAD)
        ld $26,$25
        ad $26,1
        an $26,QMASK
        sbc (iz+QTAIL),$26
        rtn z
        ad $25,QBUF
        st $24,(iz+$25)
        st $26,(iz+QHEAD)
        rtn

; $24 = the next queued key, 0 when there is none.
getkey:
        ld $24,0
        ld $25,(iz+QTAIL)
        sbc (iz+QHEAD),$25
        rtn z
        ld $26,$25
        ad $26,QBUF
        ld $24,(iz+$26)
        ad $25,1
        an $25,QMASK
        st $25,(iz+QTAIL)
        rtn

; $24 = what the first key down on strobes 1-11 means, 0 when no key is
; down or the key means nothing. The table has 16 bytes per strobe, one per
; return line. The shift key (strobe 7, return line 5) is a modifier: while
; it is down, the other key means what the shift table says, or what it
; means alone where the shift table holds 0. Leaves IA reading every key
; with key interrupts. Uses $24-$29.
scankey:
        ld $24,IASCAN+7
        pst ia,$24
        gre ky,$24
        an $24,&H20
        st $24,(iz+SHIFTF)      ; &H20 while shift is down
        ld $26,1
        ldw $28,keytable
sk_strobe:
        ld $24,$26
        or $24,IASCAN
        pst ia,$24
        gre ky,$24
        an $25,&HF0
        sbc $26,7
        jr nz,sk_any
        an $24,&HDF             ; the shift key alone is no key
sk_any:
        ld $27,$25
        or $27,$24
        jr nz,sk_line
        ad $28,16               ; next strobe's row of the table
        jr nc,sk_next
        ad $29,1
sk_next:
        ad $26,1
        sbc $26,12
        jr c,sk_strobe
        ld $24,0
        jr sk_done
sk_line:
        bidw $25                ; lowest return line into C
        jr c,sk_found
        ad $28,1
        jr nc,sk_line
        ad $29,1
        jr sk_line
sk_found:
        ld $24,(iz+SHIFTF)
        adc $24,0
        jr z,sk_plain
        ld $26,lo(shifttable-keytable)
        ld $27,hi(shifttable-keytable)
        adw $26,$28
        ld $24,($26)
        adc $24,0
        jr nz,sk_done
sk_plain:
        ld $24,($28)
sk_done:
        pst ia,IAKEYS
        rtn

; Strobe 1-11, return lines 0-15: the character a key types, one of the
; control codes (KAC ... KEND), or 0. Letters are the capitals.
keytable:
        db 0,0,0,0,0,0,0,KBRK,0,0,0,0,0,0,0,0                                   ; 1: BRK
        db &H57,&H51,&H41,0,&H5A,0,0,0,0,0,0,0,0,0,&H27,0                       ; 2: W Q A Z '
        db &H52,&H45,&H44,&H53,&H43,&H58,0,0,0,0,0,0,0,0,&H29,&H28              ; 3: R E D S C X ) (
        db &H59,&H54,&H47,&H46,&H42,&H56,0,0,0,0,0,0,0,0,&H5D,&H5B              ; 4: Y T G F B V ] [
        db &H49,&H55,&H4A,&H48,&H4D,&H4E,0,0,0,0,0,0,0,0,0,&H7C                 ; 5: I U J H M N |
        db &H50,&H4F,&H4C,&H4B,&H20,&H2C,0,0,0,0,0,0,0,0,0,KCLS                 ; 6: P O L K space , CLS
        db 0,&H3D,&H3A,&H3B,0,0,0,0,0,0,0,0,0,0,0,0                             ; 7: = : ;
        db &H35,&H34,&H32,&H31,0,&H30,0,&H37,0,0,0,0,0,0,0,0                    ; 8: 5 4 2 1 0 7
        db &H2D,&H36,&H2B,&H33,KEXE,&H2E,0,&H39,0,0,0,0,0,0,0,0                 ; 9: - 6 + 3 EXE . 9
        db KEND,KRIGHT,&H2F,KBS,0,0,0,&H2A,0,0,0,0,0,0,KHOME,KDEL               ; 10: END right / BS * HOME DEL
        db 0,KLEFT,KAC,0,0,0,0,&H38,0,0,0,0,0,0,0,KINS                          ; 11: left AC 8 INS

; The same layout for the keys held together with shift (key 47): the
; second legends printed above the A and Z rows of the face.
shifttable:
        db 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0                                      ; 1
        db 0,0,&H21,0,&H5C,0,0,0,0,0,0,0,0,0,0,0                                ; 2: A ! Z \
        db 0,0,&H23,&H22,&H7E,&H5E,0,0,0,0,0,0,0,0,0,0                          ; 3: D # S " C ~ X ^
        db 0,0,&H25,&H24,&H5F,&H40,0,0,0,0,0,0,0,0,0,0                          ; 4: G % F $ B _ V @
        db 0,0,&H3F,&H26,0,&H60,0,0,0,0,0,0,0,0,0,0                             ; 5: J ? H & N `
        db 0,0,&H3E,&H3C,0,0,0,0,0,0,0,0,0,0,0,0                                ; 6: L > K <
        db 0,0,&H7D,&H7B,0,0,0,0,0,0,0,0,0,0,0,0                                ; 7: : } ; {
        db 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0                                      ; 8
        db 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0                                      ; 9
        db 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0                                      ; 10
        db 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0                                      ; 11
