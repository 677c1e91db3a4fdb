-- The smallest useful definition script: a module with a name, a function and a
-- constant. Compile it with:
--   akqp-cli --lua examples/hello.lua --out hello.qp

local function greet(who)
  return "Hello, " .. tostring(who) .. "!"
end

print(greet("compiler"))

return {
  info = {
    name = "Hello",
    version = "1.0.0",
    author = "Ardent Kestrel QP examples",
  },
  functions = {
    greet = greet,
  },
  constants = {
    GREETING = "Hello",
  },
}
