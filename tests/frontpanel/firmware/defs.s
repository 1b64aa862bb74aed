; Names shared by the two ROMs of the demo machine.
;
; Memory
;   Segment 0, below 0x0C00: the on-chip ROM (rom0.s), word-organised. It
;   holds only the processor's fixed entry points, each a jump into rom1.
;   Segment 0 from 0x1000: the program (rom1.s and its includes).
;   Segment 1 from 0x4000: RAM for variables, the text screen and the stacks.
;
; The program sets IB bits 6-7 to 01, so every access below 0x4000 goes to
; segment 0, whatever UA says, and UA sends the stacks and both data sides
; to segment 1. One 16-bit address thus names ROM below 0x4000 and RAM above
; it, for IX, IZ, register pairs and the stacks alike.
;
; Registers
;   $0-$7    A, the calculator's accumulator: 16 decimal digits, two per
;            byte, $0 the two lowest
;   $8-$15   B, the number just read
;   $16-$23  T, scratch of the multiplication; the LCD routines also pass
;            characters through here
;   $24-$29  scratch of every routine
;   $30      sign of A: 0 positive, 1 negative
;   $31      always 0 (a register offset of nothing)
; The key interrupt keeps $24-$31 and the flags of the code it interrupts.

; Entry table at the start of rom1: one three-byte jump each.
ENTRY_RESET     equ &H1000
ENTRY_WAKE      equ &H1003
ENTRY_KEY       equ &H1006
ENTRY_TRAP      equ &H1009
ENTRY_SPURIOUS  equ &H100C

; RAM (segment 1). IZ always points at VARS; the variables are reached as
; (iz+offset).
VARS            equ &H4000
SIG             equ 0           ; 4 bytes "TDM1": the screen below is ours
CROW            equ 4           ; cursor row 0..3
CCOL            equ 5           ; cursor column 1..31 (column 0 holds the prompt)
HELD            equ 6           ; 1 while a key is down that has been taken
QHEAD           equ 7           ; key queue: next slot to fill
QTAIL           equ 8           ;            next slot to take
LSIGN           equ 9           ; last result: sign
LAST            equ 10          ;              8 bytes of digits, as A
COUNT           equ 18          ; calculations done, 4 decimal digits
QBUF            equ 32          ; 16 queued key codes
SCREEN          equ VARS+64     ; 4 rows of 32 characters; within one 256-byte page
ROWS            equ 4
COLUMNS         equ 32
CELLS           equ 128         ; ROWS times COLUMNS

STACKTOP        equ &H8000      ; system stack grows down from here
USTACKTOP       equ &H7800

; What a key means to the program: a printable character or one of these.
KAC             equ &H01        ; AC: clear the line being typed
KBS             equ &H08        ; BS: delete the last character
KCLS            equ &H0C        ; CLS: clear the screen
KEXE            equ &H0D        ; EXE: evaluate the line

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
