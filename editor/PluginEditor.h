// The editor as the plug-in module installs it: MyEditor shown in a child of the host's window
// with the platform's dialogs. On Linux the window is an X11Window; where no window can be made
// (no display, a parent that is not a window, or a platform without a window yet) open answers
// false and nothing is shown.
#pragma once

class EditorLink;
class VeltranoVST;

// A new editor for `plugin`, to be handed to its installEditor (which owns it from then on).
EditorLink* createPluginEditor(VeltranoVST* plugin);
