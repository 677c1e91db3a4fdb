-- Assembly routines: each entry of "assemblies" is assembled into machine code that the
-- QP file carries. A routine written between ";ASSEMBLY" and ";ENDASSEMBLY" markers is
-- also cut out of the compiled script, so its source does not ship; one without markers
-- stays in the script as well. "dependencies" lists the libraries and functions a
-- routine calls, one "library|function,function" string each; the compiler checks that
-- they exist on the compiling machine.

return {
  info = { name = "AsmExamples", version = "1.0.0" },

  assemblies = {
    -- int add3(int a): a + 3. Marked, so the text below is not in the compiled script.
    add3 = {
      assembly = [[
;ASSEMBLY
use32
    mov eax, [esp+4]
    add eax, 3
    ret
;ENDASSEMBLY
]],
    },

    -- unsigned checksum(const unsigned char* data, unsigned length): the byte sum.
    checksum = {
      assembly = [[
;ASSEMBLY
use32
    push esi
    mov esi, [esp+8]        ; data
    mov ecx, [esp+12]       ; length
    xor eax, eax
    xor edx, edx
    jecxz .done
.next:
    mov dl, [esi]
    add eax, edx
    inc esi
    dec ecx
    jnz .next
.done:
    pop esi
    ret
;ENDASSEMBLY
]],
    },

    -- int max(int a, int b). Not marked: its text stays in the script too.
    max = {
      assembly = [[
use32
    mov eax, [esp+4]
    mov edx, [esp+8]
    cmp eax, edx
    cmovl eax, edx
    ret
]],
    },

    -- void say(const char* text): calls puts, whose address the caller passes in ebx.
    -- The dependency names the library and the functions the routine relies on.
    say = {
      assembly = [[
;ASSEMBLY
use32
    push dword [esp+4]
    call ebx
    add esp, 4
    ret
;ENDASSEMBLY
]],
      dependencies = { "libc.so.6|puts,strlen" },
    },
  },

  public = { "add3", "checksum", "max", "say" },
}
