#pragma once

#include "picture.h"

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRectF>
#include <QTimer>

#include <functional>
#include <initializer_list>

namespace tk {

using Handler = std::function<void()>;

// A colour as the designs write it, &H00BBGGRR.
QColor bgr(quint32 value);

// A design rectangle in twips: left, top, width, height.
struct Twips {
    float left;
    float top;
    float width;
    float height;
};

// Places a control at the nearest whole pixels of its twips rectangle.
void place(QWidget& control, const Twips& rect);

// Stacks controls so that the first in the list paints over the later ones.
void stackFrontToBack(std::initializer_list<QWidget*> controls);

enum class Pointer { Default, SizeAll };

class Label final : public QLabel {
    Q_OBJECT
public:
    Label(QWidget* parent, const QString& name, const QString& caption, const Twips& rect);
    Q_DISABLE_COPY_MOVE(Label)

    QString caption() const { return text(); }
    void setCaption(const QString& caption);
    void setTip(const QString& tip);
    void setForeColor(const QColor& color);
    // Opaque labels paint their background colour; transparent ones keep it
    // but let the form show through.
    void setBackColor(const QColor& color);
    void setOpaque(bool opaque);
    bool isOpaque() const { return autoFillBackground(); }
    void setCentred(bool centred);
    void setPointer(Pointer pointer);
    void onClick(Handler handler);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Handler m_click;
    bool m_pressed = false;
};

class CommandButton final : public QPushButton {
    Q_OBJECT
public:
    CommandButton(QWidget* parent, const QString& name, const QString& caption, const Twips& rect);
    Q_DISABLE_COPY_MOVE(CommandButton)

    void onClick(Handler handler);
};

// An outline rectangle one pixel wide in the window-text colour. Clicks go
// through it to whatever lies underneath.
class Shape final : public QWidget {
    Q_OBJECT
public:
    Shape(QWidget* parent, const QString& name, const Twips& rect);
    Q_DISABLE_COPY_MOVE(Shape)

protected:
    void paintEvent(QPaintEvent* event) override;
};

class Image final : public QLabel {
    Q_OBJECT
public:
    Image(QWidget* parent, const QString& name, const Picture& picture, const Twips& rect);
    Q_DISABLE_COPY_MOVE(Image)
};

class Timer final : public QObject {
    Q_OBJECT
public:
    Timer(QObject* parent, const QString& name, int intervalMs, bool enabled);
    Q_DISABLE_COPY_MOVE(Timer)

    bool enabled() const noexcept { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const noexcept { return m_timer.interval(); }
    void onTick(Handler handler);
    // One tick now, exactly as an expiry of the timer would run it.
    void tick();
    // Stops for good when its form unloads.
    void halt();

private:
    void update();

    QTimer m_timer;
    Handler m_tick;
    bool m_enabled;
    bool m_halted = false;
};

// A control of a loaded form; using it after its form unloaded raises an
// error instead of touching a destroyed widget.
template <class T> class Ref final {
public:
    Ref& operator=(T* control)
    {
        m_control = control;
        return *this;
    }
    T* operator->() const { return &get(); }
    T& get() const
    {
        if (!m_control)
            throwUnloaded();
        return *m_control;
    }
    explicit operator bool() const { return !m_control.isNull(); }

private:
    [[noreturn]] static void throwUnloaded();
    QPointer<T> m_control;
};

[[noreturn]] void throwObjectUnloaded();

template <class T> void Ref<T>::throwUnloaded()
{
    throwObjectUnloaded();
}

} // namespace tk
