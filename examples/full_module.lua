-- A complete module that uses every section of a definition script: info (with finfo),
-- functions, structures, assemblies, public and constants.

local Vector = Kestrel.DefineStruct("Vector", { { "x", "float" }, { "y", "float" }, { "z", "float" } })

local function length(v)
  return math.sqrt(v.x * v.x + v.y * v.y + v.z * v.z)
end

local function scale(v, factor)
  return { x = v.x * factor, y = v.y * factor, z = v.z * factor }
end

return {
  info = {
    name = "VectorMath",
    version = "2.1.0",
    author = "Ardent Kestrel examples",
    finfo = { description = "Vectors with an assembled dot product", category = "math" },
  },

  functions = {
    length = length,
    scale = scale,
  },

  structures = {
    Vector = Vector,
  },

  assemblies = {
    -- float dot(const Vector* a, const Vector* b), result in st0.
    dot = {
      assembly = [[
;ASSEMBLY
use32
    mov eax, [esp+4]
    mov edx, [esp+8]
    fld dword [eax]
    fmul dword [edx]
    fld dword [eax+4]
    fmul dword [edx+4]
    faddp
    fld dword [eax+8]
    fmul dword [edx+8]
    faddp
    ret
;ENDASSEMBLY
]],
    },
    -- void zero(Vector* v)
    zero = {
      assembly = [[
use32
    mov eax, [esp+4]
    xor edx, edx
    mov [eax], edx
    mov [eax+4], edx
    mov [eax+8], edx
    ret
]],
      dependencies = {},
    },
    -- void* copy(void* to, const void* from, size_t n): calls memcpy through ebx.
    copy = {
      assembly = [[
;ASSEMBLY
use32
    push dword [esp+12]
    push dword [esp+12]
    push dword [esp+12]
    call ebx
    add esp, 12
    ret
;ENDASSEMBLY
]],
      dependencies = { "libc.so.6|memcpy" },
    },
  },

  public = { "Vector", "length", "scale", "dot", "zero", "copy" },

  constants = {
    DIMENSIONS = 3,
    EPSILON = 1e-6,
    AXES = { "x", "y", "z" },
    NAME = "VectorMath",
  },
}
