#pragma once
#include <QList>
#include <QString>
#include <functional>

class HTTPRequest;
class QWidget;

// Every message box of the program goes through here, so tests can read
// what was shown and answer Retry, Cancel or OK without a modal loop.
class DialogServices
{
public:
    enum Icon { Critical, Exclamation, Information };
    enum Buttons { OkOnly, RetryCancel, ContinueStop }; // ContinueStop answers Ok or Cancel
    enum Answer { Ok = 1, Cancel = 2, Retry = 4 };

    struct Shown {
        Icon icon;
        Buttons buttons;
        QString text;
    };

    virtual ~DialogServices() = default;

    // The one primitive: a box with the program's title as caption.
    virtual Answer show(Icon icon, Buttons buttons, const QString &text) = 0;

    // Stop icon, OK, the message, a blank line and why the request failed.
    void ShowRequestError(const HTTPRequest &request, const QString &message);
    // The same, with the failure already put in words (a service call's errorText).
    void ShowRequestError(const QString &message, const QString &errorText);
    // Stop icon, OK, the message and the error's own description.
    void ShowRuntimeError(const QString &message, const QString &errorDescription);
    // Why a request failed, in words a person understands.
    static QString RequestErrorText(const HTTPRequest &request);
    // Flags 21: Retry and Cancel with the stop icon. Returns Retry (4) or Cancel (2).
    Answer MessageBoxEx(const QString &message, int flags = 21);

    // "Continue" and "Stop", with the question icon; true for Continue.
    bool askContinue(const QString &text) { return show(Information, ContinueStop, text) == Ok; }

    void critical(const QString &text) { show(Critical, OkOnly, text); }
    void exclamation(const QString &text) { show(Exclamation, OkOnly, text); }
    void information(const QString &text) { show(Information, OkOnly, text); }
};

// The application-wide instance; QMessageBoxDialogs unless a test installed another.
DialogServices &dialogs();
void setDialogs(DialogServices *services); // nullptr restores the message boxes

class QMessageBoxDialogs final : public DialogServices
{
public:
    Answer show(Icon icon, Buttons buttons, const QString &text) override;
};

// For tests: records every box and answers from a queue (Cancel/OK when empty).
class ScriptedDialogs final : public DialogServices
{
public:
    Answer show(Icon icon, Buttons buttons, const QString &text) override;
    void answer(Answer next) { m_answers.append(next); }
    QList<Shown> shown;
    QStringList texts() const;
    void clear() { shown.clear(); m_answers.clear(); }
    // Called with each box before it is answered (e.g. to look at the window meanwhile).
    std::function<void(const Shown &)> onShow;

private:
    QList<Answer> m_answers;
};
