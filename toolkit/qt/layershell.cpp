#include "layershell.h"

#include <QGuiApplication>
#include <QWindow>

#ifdef KELVANE_LAYER_SHELL
#include <LayerShellQt/Window>

#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#endif

namespace tk::qt {

#ifdef KELVANE_LAYER_SHELL

namespace {

bool g_offered = false;

void global(void* data, wl_registry*, uint32_t, const char* interface, uint32_t)
{
    if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0)
        *static_cast<bool*>(data) = true;
}

void globalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kListener{global, globalRemove};

} // namespace

bool compositorOffersLayerShell()
{
    // A socket handed over in WAYLAND_SOCKET can be connected to once only,
    // and that once is Qt's.
    if (std::getenv("WAYLAND_SOCKET"))
        return false;
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    bool offered = false;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kListener, &offered);
    if (wl_display_roundtrip(display) < 0)
        offered = false;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    g_offered = offered;
    return offered;
}

bool onLayerShell()
{
    return g_offered && QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void makeLayerSurface(QWindow& window)
{
    using LayerShellQt::Window;
    Window* layer = Window::get(&window);
    layer->setScope(QStringLiteral("kelvane"));
    layer->setLayer(Window::LayerTop);
    layer->setAnchors(Window::Anchors(Window::AnchorBottom | Window::AnchorRight));
    // Zero: kept clear of the panels' exclusive zones, and claiming none.
    layer->setExclusiveZone(0);
    layer->setKeyboardInteractivity(Window::KeyboardInteractivityOnDemand);
}

void placeLayerSurface(QWindow& window, int right, int bottom)
{
    LayerShellQt::Window::get(&window)->setMargins(QMargins(0, 0, right, bottom));
}

#else

bool compositorOffersLayerShell()
{
    return false;
}

bool onLayerShell()
{
    return false;
}

void makeLayerSurface(QWindow&) {}

void placeLayerSurface(QWindow&, int, int) {}

#endif

} // namespace tk::qt
