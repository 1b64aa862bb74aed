; Names shared by the two ROMs of the demo machine.
;
; Memory
;   Segment 0, below 0x0C00: the on-chip ROM (rom0.s), word-organised. It
;   holds only the processor's fixed entry points, each a jump into rom1.
;   Segment 0 from 0x1000: the program (rom1.s and its includes).
;   Segment 1 from 0x4000: RAM for variables, the screen, the BASIC program
;   and the stacks.
;
; The program sets IB bits 6-7 to 01, so every access below 0x4000 goes to
; segment 0, whatever UA says, and UA sends the stacks, both data sides and
; the program fetch above 0x4000 to segment 1. One 16-bit address thus names
; ROM below 0x4000 and RAM above it, for IX, IZ, register pairs, the stacks
; and code called from BASIC alike.
;
; Registers
;   $0-$7    A, the accumulator: 16 decimal digits, two per byte, $0 the
;            two lowest; its sign in $30 (0 positive, 1 negative)
;   $8-$15   B, the second operand; its sign in $29
;   $16-$23  T, scratch of multiplication and division; the LCD routines
;            also pass characters through here
;   $24-$29  scratch of every routine
;   $30      sign of A
;   $31      always 0 (a register offset of nothing)
;   IX       the BASIC text being read, while a line runs
;   IZ       VARS, always
; The key interrupt keeps $24-$31 and the flags of the code it interrupts.

; Entry table at the start of rom1: one three-byte jump each.
ENTRY_RESET     equ &H1000
ENTRY_WAKE      equ &H1003
ENTRY_KEY       equ &H1006
ENTRY_TRAP      equ &H1009
ENTRY_SPURIOUS  equ &H100C

; RAM (segment 1). IZ always points at VARS; the system variables are
; reached as (iz+offset), the BASIC variables A-Z, 9 bytes each (8 bytes of
; digits as A, then the sign), below VARS as (iz-offset).
VARS            equ &H4100
SIG             equ 0           ; 4 bytes "TBA1": the screen and program below are ours
CROW            equ 4           ; cursor row 0..3
CCOL            equ 5           ; cursor column 0..31
HELD            equ 6           ; 1 while a key is down that has been taken
QHEAD           equ 7           ; key queue: next slot to fill
QTAIL           equ 8           ;            next slot to take
LSIGN           equ 9           ; last result of a bare expression: sign
LAST            equ 10          ;              8 bytes of digits, as A
COUNT           equ 18          ; bare expressions worked out, 4 decimal digits
BRKF            equ 20          ; 1 once BRK has been pressed
SHIFTF          equ 21          ; 1 while the shift key is down
LLEN            equ 22          ; characters in the line being typed
INMODE          equ 23          ; 1 while INPUT waits for its line
ATOP            equ 24          ; 2: @() is written or cleared below here
SSP             equ 26          ; 2: the string stack's next free slot
STRF            equ 28          ; &H56 once strings, arrays and AUTO are set up
REFUSED         equ 29          ; 1: a program too large was cleared at start
INKIND          equ 30          ; INPUT: 0 a number, 1 a string variable, 2 an element
QBUF            equ 32          ; 32 slots of queued key codes
QMASK           equ 31          ; slot numbers wrap at 32
SCREEN          equ VARS+64     ; 4 rows of 32 characters; within one 256-byte page
ROWS            equ 4
COLUMNS         equ 32
CELLS           equ 128         ; ROWS times COLUMNS
CURL            equ 192         ; 2: the program line running, 0 in a direct line
PEND            equ 194         ; 2: end of the program (its end mark)
ERRSP           equ 196         ; 2: SS to go back to on an error
CSP             equ 198         ; 2: top of the FOR / GOSUB stack
CONTL           equ 200         ; 2: line to go on with (0: CONT not possible)
CONTP           equ 202         ; 2: text to go on with
RNDX            equ 204         ; 2: the random generator
RUNF            equ 206         ; 1 while a program runs
ERRN            equ 207         ; number of the error being reported
BAREF           equ 208         ; 1 while a bare expression is worked out
PRCOL           equ 209         ; scratch of PRINT
SAVEP           equ 210         ; 2: scratch pointer
LINENO          equ 212         ; 2: scratch line number
ARG             equ 214         ; 9: scratch value
EPOS            equ 230         ; the line editor's cursor: 0..LLEN
LSROW           equ 231         ; row where the line being typed starts
LSCOL           equ 232         ; its column there
ONN             equ 233         ; ON: the place in the list still to go
ONKIND          equ 234         ; ON: GOTO or GOSUB
ONLINE          equ 235         ; 2: ON: the line taken (0: none)
DPTR            equ 237         ; 2: READ's next DATA item (0: from the start)
ARRTOP          equ 239         ; 2: DIM's arrays lie from here to MEMTOP
AUTOF           equ 241         ; 1 while AUTO offers line numbers
AUTON           equ 242         ; 2: AUTO's next line number, 4 decimal digits
AUTOS           equ 244         ; 2: and its step
SBITS           equ 252         ; 4: which of A$-Z$ have been written
RNSTART         equ 246         ; 2: RENUM's first number
RNSTEP          equ 248         ; 2: its step
RNDELTA         equ 250         ; 2: how much the program grows
RNPASS          equ 223         ; 0 while RENUM counts, 1 while it writes
RNAT            equ ARG         ; 2: the line number being changed
RNOLD           equ ARG+2       ; its length
RNREC           equ 224         ; 2: the record it is in (storeline's REC)
VARTAB          equ VARS-240    ; A at VARS-240 ... Z at VARS-15

LBUF            equ &H4200      ; the line being typed
LMAX            equ 90          ; at most this many characters (three rows)
NUMBUF          equ &H4260      ; digits of a number being printed
CBUF            equ &H4280      ; a typed line with its keywords made tokens
CSTK            equ &H4300      ; FOR / GOSUB stack, 24 bytes an entry
CSTKEND         equ &H44F8      ; 21 entries
PSTART          equ &H4500      ; the program
MEMTOP          equ &HCC00      ; program and @() end below here
SSTK            equ &HCC00      ; the string stack: 8 slots of 128 bytes
SSTKEND         equ &HD000
SVARS           equ &HD000      ; A$-Z$, a slot of 128 bytes each
SMAX            equ 80          ; characters a string holds at most
ARRTAB          equ &HF000      ; the arrays of DIM: 52 entries of 4 bytes
USERMEM         equ &HE000      ; 4 KB for machine code called from BASIC

STACKTOP        equ &H0000      ; system stack grows down from the top of RAM
USTACKTOP       equ &HF800

; What a key means to the program: a printable character or one of these.
KAC             equ &H01        ; AC: clear the line being typed
KBRK            equ &H03        ; BRK: stop a running program
KBS             equ &H08        ; BS: delete the last character
KCLS            equ &H0C        ; CLS: clear the screen
KEXE            equ &H0D        ; EXE: enter the line
KLEFT           equ &H10        ; cursor left
KRIGHT          equ &H11        ; cursor right
KINS            equ &H12        ; INS: a space opens at the cursor
KDEL            equ &H13        ; DEL: the character at the cursor goes
KHOME           equ &H14        ; cursor to the start of the line
KEND            equ &H15        ; cursor to the end of the line

PROMPT          equ &H3E        ; ">"
CURSOR          equ &H5F        ; "_", ORed over the cell after the text

; Flag register: the power switch.
FPOWER          equ &H08

; IA: request 3 comes from the key matrix, any return line may raise it,
; strobe 13 reads every key at once.
IAKEYS          equ &HBD
IASCAN          equ &HB0        ; the same with strobe 0, ORed with 1..11
; IE: only request 3 (the key interrupt) enabled.
IEKEYS          equ &H40

; LCD control byte: controllers on, both chips, command or data nibbles.
LCDCMD          equ &H87
LCDDATA         equ &H86
