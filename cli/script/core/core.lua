-- The core of the definition-script environment. It runs before every script and
-- defines what scripts use while they build their table. It must never fail.

local Kestrel = {}
Kestrel.version = "3.0"

-- Field types that structures may use, with their sizes in bytes on the host.
Kestrel.types = {
  char = 1, byte = 1, bool = 1,
  short = 2, word = 2,
  int = 4, long = 4, dword = 4, float = 4, pointer = 4, string = 4,
  double = 8, int64 = 8, qword = 8,
}

local function copy_fields(name, fields)
  local list, size = {}, 0
  if type(fields) ~= "table" then
    error("Kestrel.DefineStruct: structure '" .. tostring(name) .. "' needs a table of fields", 3)
  end
  for index, field in ipairs(fields) do
    local field_name, field_type, count
    if type(field) == "table" then
      field_name, field_type, count = field[1] or field.name, field[2] or field.type, field[3] or field.count or 1
    elseif type(field) == "string" then
      field_name, field_type, count = field:match("^%s*([%w_]+)%s*:%s*([%w_]+)%s*$")
      count = 1
    end
    if type(field_name) ~= "string" or type(field_type) ~= "string" then
      error("Kestrel.DefineStruct: field " .. index .. " of structure '" .. tostring(name) ..
            "' must be {name, type} or \"name: type\"", 3)
    end
    local field_size = Kestrel.types[field_type]
    if not field_size then
      error("Kestrel.DefineStruct: field '" .. field_name .. "' of structure '" .. tostring(name) ..
            "' has the unknown type '" .. field_type .. "'", 3)
    end
    if math.type(count) ~= "integer" or count < 1 then
      error("Kestrel.DefineStruct: field '" .. field_name .. "' needs a positive whole count", 3)
    end
    list[#list + 1] = { name = field_name, type = field_type, count = count, offset = size }
    size = size + field_size * count
  end
  return list, size
end

-- Kestrel.DefineStruct(name, fields) makes a structure the host understands.
-- fields is a list whose items are {name, type[, count]} or "name: type".
-- The structure's metatable carries __data with type "KSTRL_STRUCT", which marks it.
function Kestrel.DefineStruct(name, fields)
  if type(name) ~= "string" or name == "" then
    error("Kestrel.DefineStruct: a structure needs a name", 2)
  end
  local list, size = copy_fields(name, fields)
  local data = { type = "KSTRL_STRUCT", name = name, fields = list, size = size }
  local struct = { name = name, size = size, fields = list }
  return setmetatable(struct, {
    __data = data,
    __tostring = function() return "Kestrel structure " .. name end,
  })
end

-- Kestrel.IsStruct(value) tells whether a value was made by Kestrel.DefineStruct.
function Kestrel.IsStruct(value)
  local meta = getmetatable(value)
  return type(meta) == "table" and type(meta.__data) == "table" and meta.__data.type == "KSTRL_STRUCT"
end

-- Kestrel.SizeOf(structure) gives a structure's size in bytes.
function Kestrel.SizeOf(value)
  if not Kestrel.IsStruct(value) then
    error("Kestrel.SizeOf: not a Kestrel structure", 2)
  end
  return getmetatable(value).__data.size
end

_G.Kestrel = Kestrel
