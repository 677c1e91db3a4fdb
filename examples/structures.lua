-- Structures, public declarations and constants: a module that describes data for the
-- host. Structures are made with Kestrel.DefineStruct, which marks them so that the host
-- can use them; "public" lists the names the module offers.

local Point = Kestrel.DefineStruct("Point", {
  { "x", "int" },
  { "y", "int" },
})

local Rect = Kestrel.DefineStruct("Rect", {
  "left: int",
  "top: int",
  "right: int",
  "bottom: int",
})

local Sample = Kestrel.DefineStruct("Sample", {
  { "name", "char", 32 },   -- a fixed text of 32 bytes
  { "value", "double" },
  { "flags", "dword" },
})

local function area(rect)
  return (rect.right - rect.left) * (rect.bottom - rect.top)
end

return {
  info = {
    name = "Geometry",
    version = "1.0.0",
    author = "Ardent Kestrel examples",
    finfo = { description = "Points, rectangles and samples", license = "MIT" },
  },
  structures = {
    Point = Point,
    Rect = Rect,
    Sample = Sample,
  },
  functions = {
    area = area,
    width = function(rect) return rect.right - rect.left end,
  },
  public = { "Point", "Rect", "Sample", "area", "width" },
  constants = {
    ORIGIN_X = 0,
    ORIGIN_Y = 0,
    UNIT = { x = 1, y = 1 },
    DEFAULT_NAME = "unnamed",
  },
}
