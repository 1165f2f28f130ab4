#include "windows/app/FramePacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

FramePacer::FramePacer(QWidget *window) : m_window(window)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FramePacer::release);
}

FramePacer::~FramePacer()
{
    stop();
}

void FramePacer::start()
{
    if (m_paced || !m_window)
        return;
    m_paced = true;
    m_sincePaint.invalidate();
    m_window->installEventFilter(this);
}

void FramePacer::stop()
{
    if (!m_paced)
        return;
    m_paced = false;
    m_window->removeEventFilter(this);
    m_timer.stop();
    release();
}

void FramePacer::release()
{
    if (!m_held)
        return;
    m_held = false;
    // The window asks for no other paint until this one is done.
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
}

bool FramePacer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    if (m_sincePaint.isValid() && m_sincePaint.elapsed() < FrameMs) {
        m_held = true;
        if (!m_timer.isActive())
            m_timer.start(int(FrameMs - m_sincePaint.elapsed()));
        return true;
    }
    m_sincePaint.start();
    return false;
}
