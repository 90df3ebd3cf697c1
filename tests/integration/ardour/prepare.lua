-- ardour7-lua prepare.lua FOLDER NAME RATE FRAMES
-- A new session on the dummy backend with one stereo track holding one region of FRAMES frames
-- at the start; the region's two sources (FOLDER/interchange/NAME/audiofiles/input%L.wav and
-- input%R.wav) hold silence until the caller writes the recording into them. The headless
-- interpreter has no import, so the region comes from bouncing the empty track.
local folder, name, rate, frames = arg[1], arg[2], tonumber(arg[3]), tonumber(arg[4])
AudioEngine:set_backend("None (Dummy)", "", "")
assert(create_session(folder, name, rate), "cannot create the session")
local tracks = Session:new_audio_track(2, 2, nil, 1, "recording",
    ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
local track = tracks:front()
local region = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), track:main_outs(), false,
    "input")
assert(not region:isnil(), "cannot make the placeholder region")
local audio = region:to_audioregion()
-- No fades: the region must play the file's samples as they are.
audio:set_fade_in_active(false)
audio:set_fade_out_active(false)
track:playlist():add_region(region, Temporal.timepos_t(0), 1, false, 0, 0, false)
for i = 0, audio:n_channels() - 1 do
    print("ARDOUR source " .. region:source(i):name())
end
Session:save_state("", false, false, false, false, false)
close_session()
print("ARDOUR prepared")
