#pragma once

// What a window-system backend provides to the toolkit; nothing above the
// toolkit includes this.

#include "controls.h"
#include "form.h"
#include "shell.h"
#include "types.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

namespace tk::backend {

struct ScreenMetrics {
    int width = 0; // pixels
    int height = 0;
    double dpiX = 0;
    double dpiY = 0;
    // Where the work area ends, in pixels from the display's top; 0 where
    // the window system has no work area.
    int workBottom = 0;
};

// The whole primary display; raises an error when there is none.
ScreenMetrics primaryScreen();
// Called by the backend whenever the primary display may have changed; the
// screen's change handler runs once the current event is done.
void screenChanged();

// The native side of a loaded form. Positions are of the outer frame, in
// pixels from the primary display's top-left corner.
class NativeWindow : Fixed {
public:
    virtual ~NativeWindow() = default;

    virtual WindowHandle handle() const = 0;
    virtual Pixels position() const = 0;
    virtual Pixels frameSize() const = 0;
    // Twips, so that a backend can place edges more finely than whole
    // logical pixels where the display's scale asks for it.
    virtual void moveTo(float leftTwips, float topTwips) = 0;
    // Where moveTo() puts the frame.
    virtual Pixels pixelsFor(float leftTwips, float topTwips) const = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void raise() = 0;
    virtual bool isVisible() const = 0;
    virtual bool hasTaskbarEntry() const = 0;

    virtual Label& addLabel(const std::string& name, const std::string& caption,
                            const Twips& rect) = 0;
    virtual CommandButton& addButton(const std::string& name, const std::string& caption,
                                     const Twips& rect) = 0;
    virtual Shape& addShape(const std::string& name, const Twips& rect) = 0;
    virtual Image& addImage(const std::string& name, const Picture& picture, const Twips& rect) = 0;
    virtual Timer& addTimer(const std::string& name, int intervalMs, bool enabled) = 0;
    virtual void stackFrontToBack(std::initializer_list<const Control*> controls) = 0;
    virtual void bringToFront(const Control& control) = 0;
    virtual void setTabOrder(std::initializer_list<const Control*> controls) = 0;
    // Stops every timer of the form for good.
    virtual void haltTimers() = 0;

protected:
    NativeWindow() = default;
};

// A borderless window off the taskbar is placed by the program alone.
bool placedByProgram(const Design& design);
// The width in twips of a window whose frame is this many pixels wide: its
// design's where the two agree.
float frameWidthTwips(const Design& design, int framePixels);
// Where a window's frame goes for these twips. One the program places has
// its right edge where its twips say: at 144 dpi the popup is 277.5 pixels
// wide, and rounding its left edge and its width one by one would put it a
// pixel past the screen's edge.
Pixels framePosition(const Design& design, float leftTwips, float topTwips, int framePixels);

// What a shown window the program placed does once it has moved: one wholly
// below the primary display leaves the screen, so that it shows on no
// display below that one, and comes back as soon as it is up again; its
// place stays as set.
enum class Parking { Stay, Unmap, Map };
Parking parking(const Design& design, bool shown, bool mapped, int topPixels, int screenPixels);

// A hidden window for the form; its controls expire with life. Destroying
// it may free the native window later, once the current event is done.
std::unique_ptr<NativeWindow> createWindow(Form& form, const Design& design,
                                           std::weak_ptr<const void> life);

int runLoop();
// Ends runLoop() with this status once the current event is done.
void quit(int status);
// Runs a function on the event loop's thread; safe from any thread while
// the application exists, and a no-op when none does.
void postToLoop(std::function<void()> function);
// The notification-area icon: the shell itself, or its emulation. Called
// once for each icon added, and only for an icon added before it is deleted.
std::int32_t notifyIcon(std::int32_t operation, TrayIconRecord& record);
// Every icon added and not deleted, for a shell that restarts.
void forEachIcon(const std::function<void(const TrayIconRecord&)>& function);

// Shows a fatal error to the user and waits until it is read.
void showFatal(const std::string& message);

} // namespace tk::backend

// The rest of what a backend defines, declared again here (the program sees
// them in the headers named) so that this file is the whole contract. A new
// backend is a folder beside qt/ and win32/ that defines all of it, plus a
// line in the top-level CMakeLists.txt naming its operating-system services.
namespace tk {

// application.h: the platform's application object, made before any form
// (Application::Native, built from argc and argv), and processEvents(),
// which runs pending events and then waits for more up to waitMs.
void processEvents(int waitMs);

// events.h: OneShot::Native (a single-shot timer on the event loop's
// thread) and ReadWatch::Native (a callback when a file descriptor becomes
// readable; POSIX services only), with both classes' members.

// shell.h: the record size the platform's shell takes.
std::int32_t trayRecordSize();

// screen.h: a PNG of the whole primary display; a backend that cannot take
// one returns false (make run's screenshot uses it).
bool saveScreenshot(const std::string& path);

// controls.h: the labels, buttons, shapes, images and timers a NativeWindow
// hands out implement those interfaces.

} // namespace tk
