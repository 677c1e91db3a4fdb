-- A module that checks where it is loaded: its verification section (the long comment
-- at the end) names the host's version, two globals, the main window's title and the
-- current page with its objects. The compiler stores CRC-32 values of them in the QP
-- file, and the plug-in compares them when it loads the module.
--
-- The routine includes the helpers of the include folder (asm/kestrel.inc).
--   akqp-cli --lua examples/window_module.lua --out window_module.qp

return {
  info = { name = "WindowTools", version = "1.0.0" },

  assemblies = {
    -- int clamp(int value, int low, int high)
    clamp = {
      assembly = [[
include '%incdir%/kestrel.inc'
    begin_frame
    mov eax, arg1
    cmp eax, arg2
    jge .above_low
    mov eax, arg2
.above_low:
    cmp eax, arg3
    jle .done
    mov eax, arg3
.done:
    end_frame
]],
    },
  },

  public = { "clamp" },

  constants = { DefaultPage = "Page1" },
}
--[=[
<akqp:verify>
  <version><ams>9</ams></version>
  <globals>
    <global name="Config" type="table"/>
    <global name="Mode" type="string" value="fast"/>
  </globals>
  <mainWindow><title>My Project</title></mainWindow>
  <currentPage><name>Page1</name><object>Button1</object></currentPage>
</akqp:verify>
]=]
