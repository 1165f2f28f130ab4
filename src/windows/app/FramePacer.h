#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

// Paints a window at most once a frame while it is paced. A run does all
// its work inside one click handler and lets events run after every request:
// without pacing the whole window would be painted a thousand times a second,
// far more often than any screen shows, and the painting would cost more
// than the requests. Input and every other event still run at once.
class FramePacer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FramePacer)

public:
    static constexpr int FrameMs = 16;

    explicit FramePacer(QWidget *window);
    ~FramePacer() override;

    void start();
    void stop(); // a paint held back happens now

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void release();

    QWidget *m_window;
    QElapsedTimer m_sincePaint;
    QTimer m_timer;
    bool m_held = false;
    bool m_paced = false;
};
