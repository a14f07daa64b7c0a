#pragma once

class QWindow;

namespace tk::qt {

// Kelvane as a native Wayland client: its popup a wlr-layer-shell surface,
// which the compositor anchors to the output's bottom-right corner above the
// panels, where an ordinary Wayland window could never place itself. Only
// where Kelvane was built with LayerShellQt and the compositor offers the
// protocol (KWin, sway, labwc, Hyprland, Wayfire, niri, COSMIC; not GNOME).

// Asks the compositor named by WAYLAND_DISPLAY, before Qt connects to it,
// whether it offers layer surfaces.
bool compositorOffersLayerShell();

// Whether the running application is on Wayland with layer surfaces.
bool onLayerShell();

// Makes a window, before it is first shown, a layer surface anchored to the
// bottom and right edges, above ordinary windows, taking the keyboard only
// when clicked.
void makeLayerSurface(QWindow& window);

// Puts a layer surface that far from the right edge and from the bottom
// edge (above the panels there), in pixels; negative takes it past them.
void placeLayerSurface(QWindow& window, int right, int bottom);

} // namespace tk::qt
