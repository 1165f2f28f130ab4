#pragma once
#include <QApplication>
#include <QString>
#include <QTimer>
#include <optional>

// Modal dialogs run their own loop: a test answers them from a timer that
// waits for the dialog to come up.

// Runs action on the modal dialog of class Dialog once it is open.
template <typename Dialog, typename Action>
void whenModal(Action action)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        action(dialog);
    });
    timer->start();
}

// How to fill in the download settings dialog, and what was seen in it.
struct DownloadAnswer {
    QString firstPage = QStringLiteral("1");
    QString pages = QStringLiteral("All");
    std::optional<bool> cumulative; // none: as the dialog opened
    bool cancel = false;
    bool opened = false;
    bool cumulativeTickedAtLoad = false;
};

// Answers the next download settings dialog; answer must outlive it.
void answerDownloadSettings(DownloadAnswer *answer);
