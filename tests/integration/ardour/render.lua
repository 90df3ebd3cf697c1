-- ardour7-lua render.lua FOLDER NAME SETTINGS FRAMES
-- Opens the prepared session, inserts Veltrano VST (a Linux VST found on LXVST_PATH) as the
-- track's first processor, prints what Ardour sees of it, applies SETTINGS ("index=value,...")
-- and renders FRAMES frames of the track through it, latency compensated, into the sources
-- output%L.wav and output%R.wav.
local folder, name, settings, frames = arg[1], arg[2], arg[3], tonumber(arg[4])
AudioEngine:set_backend("None (Dummy)", "", "")
assert(load_session(folder, name), "cannot load the session")
local track = Session:route_by_name("recording"):to_track()
local proc = ARDOUR.LuaAPI.new_plugin(Session, "Veltrano VST", ARDOUR.PluginType.LXVST, "")
assert(not proc:isnil(), "Ardour cannot instantiate Veltrano VST")
-- The engine keeps running: the plug-in goes through live cycles before the render, as in a
-- session someone works in, and the render must still start from a fresh state (Ardour
-- resumes the plug-in for it).
assert(AudioEngine:running(), "the engine does not run")
assert(track:add_processor_by_index(proc, 0, nil, true) == 0, "cannot insert the plug-in")
local insert = proc:to_insert()
-- Let the engine run the plug-in for a while: about two seconds of live cycles.
ARDOUR.LuaAPI.usleep(2000000)
local plugin = insert:plugin(0)
local info = plugin:get_info()
print("ARDOUR plugin " .. plugin:name() .. " by " .. plugin:maker() .. ", id " .. info.unique_id)
print("ARDOUR parameters " .. plugin:parameter_count())
print("ARDOUR inputs " .. info.n_inputs:n_audio() .. " outputs " .. info.n_outputs:n_audio())
for item in string.gmatch(settings, "[^,]+") do
    local index, value = string.match(item, "(%d+)=([%d.]+)")
    assert(ARDOUR.LuaAPI.set_processor_param(proc, tonumber(index), tonumber(value)),
        "cannot set parameter " .. index)
end
for item in string.gmatch(settings, "[^,]+") do
    local index = tonumber(string.match(item, "(%d+)="))
    local value, ok = ARDOUR.LuaAPI.get_processor_param(proc, index)
    print("ARDOUR parameter " .. index .. " = " .. tostring(value))
end
print("ARDOUR latency " .. insert:signal_latency())
local region = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), proc, true, "output")
assert(not region:isnil(), "the render failed")
print("ARDOUR rendered " .. region:length():samples() .. " frames")
-- Tracking writes the hum frequency back through the host; what Ardour holds afterwards.
print("ARDOUR hum frequency parameter after the render = " ..
    tostring(ARDOUR.LuaAPI.get_processor_param(proc, 34)))
for i = 0, region:to_audioregion():n_channels() - 1 do
    print("ARDOUR output " .. region:source(i):name())
end
close_session()
print("ARDOUR done")
