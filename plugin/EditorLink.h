// What the plug-in core asks of its editor beyond the interface layer's AEffEditor: the
// equalizer commands move the band sliders and rewrite the band texts while the window is open,
// and the processing chain shows the hum frequency and feeds the spectrum display.
//
// Threads: the equalizer calls come from whichever thread changed the parameter; the chain's
// calls come from the audio thread and must neither wait, allocate nor touch a window. The
// defaults do nothing, for an editor without these displays.
#pragma once

#include "plugin/AudioEffect.h"

class EditorLink : public AEffEditor {
public:
    using AEffEditor::AEffEditor;

    // Shows the cut of band (0 ... 19) in dB (0 ... 30).
    virtual void setEqBandText(int band, float cutDb) = 0;
    // Moves the slider of band to position (0 = -30 dB ... 1 = 0 dB).
    virtual void setEqBandSlider(int band, float position) = 0;

    // Audio thread: the hum frequency in Hz the chain works at, for the frequency field.
    virtual void setHumFrequencyText(float hz) { (void)hz; }
    // Audio thread: true while the window is open and shows a spectrum that is not frozen.
    virtual bool spectrumWanted() { return false; }
    // Audio thread: one block of the chain's input and output for the spectrum display.
    virtual void feedSpectrum(int count, const float* input, const float* output) {
        (void)count;
        (void)input;
        (void)output;
    }
};
