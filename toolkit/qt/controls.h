#pragma once

#include "toolkit/controls.h"
#include "toolkit/picture.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace tk::qt {

class QtLabel final : public QLabel, public tk::Label {
    Q_OBJECT
public:
    QtLabel(QWidget* parent, const std::string& name, const std::string& caption, const Twips& rect,
            std::weak_ptr<const void> life);

    std::string caption() const override;
    void setCaption(const std::string& caption) override;
    std::string tip() const override;
    void setTip(const std::string& tip) override;
    Color foreColor() const override;
    void setForeColor(Color color) override;
    Color backColor() const override;
    void setBackColor(Color color) override;
    bool isOpaque() const override { return autoFillBackground(); }
    void setOpaque(bool opaque) override { setAutoFillBackground(opaque); }
    void setCentred(bool centred) override;
    void setPointer(Pointer pointer) override;
    void onClick(Handler handler) override { m_click = std::move(handler); }
    void click() override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Handler m_click;
    bool m_pressed = false;
};

class QtButton final : public QPushButton, public tk::CommandButton {
    Q_OBJECT
public:
    QtButton(QWidget* parent, const std::string& name, const std::string& caption,
             const Twips& rect, std::weak_ptr<const void> life);

    std::string caption() const override { return text().toStdString(); }
    void onClick(Handler handler) override { m_click = std::move(handler); }
    void click() override { QPushButton::click(); }
    void setFocus() override { QPushButton::setFocus(); }
    bool hasFocus() const override;

private:
    Handler m_click;
};

class QtShape final : public QWidget, public tk::Shape {
    Q_OBJECT
public:
    QtShape(QWidget* parent, const std::string& name, const Twips& rect,
            std::weak_ptr<const void> life);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class QtImage final : public QLabel, public tk::Image {
    Q_OBJECT
public:
    QtImage(QWidget* parent, const std::string& name, const Picture& picture, const Twips& rect,
            std::weak_ptr<const void> life);
};

class QtTimer final : public QObject, public tk::Timer {
    Q_OBJECT
public:
    QtTimer(QObject* parent, const std::string& name, int intervalMs, bool enabled,
            std::weak_ptr<const void> life);

    bool running() const override { return m_timer.isActive(); }

protected:
    void start() override { m_timer.start(); }
    void stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

} // namespace tk::qt
