// The frame the desktop will draw around the main window, learnt before the window is shown so
// that the window can be laid out once, at its final size.
#pragma once

#include "app/MainLayout.h"

class QWidget;

namespace zelvox {

// Creates the native window of `window` (set its flags and size hints first: a window manager
// decorates a fixed-size window differently) and asks what frame it will get:
// - on X11, the extents the window manager announces for it when asked with
//   _NET_REQUEST_FRAME_EXTENTS; with no window manager running, the nominal frame;
// - where the toolkit draws the frame itself (Wayland), that frame;
// - elsewhere (offscreen), or when the window manager does not answer within a moment, the
//   nominal frame.
WindowFrame DesktopFrame(QWidget* window);

// The title bar's height within frame extents: the top extent less the border under it, taken
// to be as thick as the side border.
int CaptionHeight(const QMargins& extents);

} // namespace zelvox
