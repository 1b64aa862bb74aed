; The demo machine's program: a four-line text screen with BASIC. It shows
; a banner and a prompt, echoes what is typed at a cursor, stores numbered
; lines as a program and runs the others on EXE (a bare expression shows
; its value, so it still serves as a calculator of whole numbers up to 16
; digits), scrolls at the bottom, sleeps when the power switch goes off,
; and keeps its screen, program and variables in RAM so that they survive
; both sleeping and the machine being closed.

        include "defs.s"

; ---------------------------------------------------------------------------
; Entry table: rom0's vectors jump here.

        org ENTRY_RESET
        jp start
        org ENTRY_WAKE
        jp start                ; waking runs the same start: the screen is in RAM
        org ENTRY_KEY
        jp keyint
        org ENTRY_TRAP
        rtn                     ; trp: nothing to do
        org ENTRY_SPURIOUS
        rtni                    ; requests the program never enables

; ---------------------------------------------------------------------------
; Start: after reset, after the reset key, and after waking from off.

start:
        pst ie,0                ; no interrupt until the screen stands
        pst ib,&H40             ; addresses below 0x4000 always in segment 0
        pst ua,&H55             ; stacks, data sides and code above 0x4000 in segment 1
        pre ss,STACKTOP
        pre us,USTACKTOP
        pre iz,VARS
        ld $31,0
        gfl $24                 ; woken by the wake key with the switch off:
        an $24,FPOWER           ; go straight back to sleep
        jp z,sleep
        cal lcdinit
        cal checksig            ; a screen of ours in RAM?
        jr z,warm
        cal coldscreen          ; no: the banner
        jr st_draw
warm:
        cal strcheck
        cal arrcheck
st_draw:
        cal drawall
        ld $24,1                ; a key already down now was pressed before:
        st $24,(iz+HELD)        ; it types nothing until it has been let go
        st $31,(iz+QHEAD)
        st $31,(iz+QTAIL)
        st $31,(iz+BRKF)
        st $31,(iz+CURL)        ; no line runs
        st $31,(iz+CURL+1)
        pst ia,IAKEYS
        pst ie,IEKEYS
        cal sclear              ; no string is being worked on
        ld $24,(iz+REFUSED)     ; a program too large for this firmware's
        adc $24,0               ; memory was cleared: that is said
        jr z,st_go
        st $31,(iz+REFUSED)
        st $31,(iz+LLEN)
        jp err_memory
st_go:
        ld $24,(iz+RUNF)        ; a program or INPUT was cut off: a new prompt
        ld $25,(iz+INMODE)
        or $24,$25
        jp z,cmd_read           ; else the line being typed goes on
        st $31,(iz+LLEN)
        jp cmdloop

; The switch is off. Everything worth keeping already lives in RAM under
; its signature, so the machine can simply go off; the switch (or the wake
; key) brings it back through start.
poweroff:
        pst ie,0
sleep:
        off
        jr sleep

; ---------------------------------------------------------------------------
; RAM signature.

; Z when RAM holds a screen of ours with a sane cursor.
checksig:
        ld $24,(iz+SIG)
        sbc $24,&H54            ; T
        rtn nz
        ld $24,(iz+SIG+1)
        sbc $24,&H42            ; B
        rtn nz
        ld $24,(iz+SIG+2)
        sbc $24,&H41            ; A
        rtn nz
        ld $24,(iz+SIG+3)
        sbc $24,&H31            ; 1
        rtn nz
        ld $24,(iz+CROW)
        sbc $24,ROWS
        jr nc,cs_bad
        ld $24,(iz+CCOL)
        sbc $24,COLUMNS+1
        jr nc,cs_bad
        ld $24,(iz+LLEN)
        sbc $24,LMAX+1
        jr nc,cs_bad
        ld $25,(iz+EPOS)
        sbc $24,$25
        jr c,cs_bad             ; the line editor's cursor past the line
        ld $24,(iz+LSROW)
        sbc $24,ROWS
        jr nc,cs_bad
        ld $24,(iz+LSCOL)
        sbc $24,COLUMNS+1       ; 32: after a prompt that filled its row
        jr nc,cs_bad
        adc $31,0               ; 0 + 0: Z
        rtn
cs_bad:
        ld $24,1
        adc $24,0               ; not zero: NZ
        rtn

; The first screen: banner, an empty calculation record, the prompt.
coldscreen:
        cal clearbuf
        ld $26,0
        ldw $16,banner0
        cal putrow
        ld $26,1
        ldw $16,banner1
        cal putrow
        ld $26,2
        ldw $16,banner2
        cal putrow
        ld $26,ROWS-1
        cal rowaddr
        ld $24,PROMPT
        st $24,(ix+0)
        st $26,(iz+CROW)
        ld $24,1
        st $24,(iz+CCOL)
        st $31,(iz+LSIGN)
        ld $24,LAST
        xrm $0,$0,8             ; no result yet: 0
        stm $0,(iz+$24),8
        st $31,(iz+COUNT)
        st $31,(iz+COUNT+1)
        st $31,(iz+LSROW)
        ld $24,1
        st $24,(iz+LSCOL)
        cal basic_cold
        ld $24,&H54             ; the signature goes last
        st $24,(iz+SIG)
        ld $24,&H42
        st $24,(iz+SIG+1)
        ld $24,&H41
        st $24,(iz+SIG+2)
        ld $24,&H31
        st $24,(iz+SIG+3)
        rtn

; Row $26 gets the zero-terminated text at pair $16 from column 0.
putrow:
        cal rowaddr
        ld $25,0
pr_loop:
        ld $24,($16)
        adc $24,0
        rtn z
        st $24,(ix+$25)
        ad $25,1
        ad $16,1
        jr nc,pr_loop
        ad $17,1
        jr pr_loop

banner0:
        db "TARVO  pocket computer",0
banner1:
        db "open demo machine   BASIC",0
banner2:
        db "calculate: 12+34*5 then EXE",0

        include "screen.s"
        include "keys.s"
        include "num.s"
        include "basic.s"
        include "strings.s"
        include "flow.s"
        include "arrays.s"
        include "auto.s"
        include "renum.s"
        include "disk.s"
