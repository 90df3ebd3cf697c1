// What the plug-in core asks of its editor beyond the interface layer's AEffEditor: the
// equalizer commands move the band sliders and rewrite the band texts while the window is open.
#pragma once

#include "plugin/AudioEffect.h"

class EditorLink : public AEffEditor {
public:
    using AEffEditor::AEffEditor;

    // Shows the cut of band (0 ... 19) in dB (0 ... 30).
    virtual void setEqBandText(int band, float cutDb) = 0;
    // Moves the slider of band to position (0 = -30 dB ... 1 = 0 dB).
    virtual void setEqBandSlider(int band, float position) = 0;
};
