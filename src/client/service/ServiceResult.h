#pragma once
#include <QByteArray>
#include <QString>
#include <initializer_list>

struct HTTPResult;

// How a call to the service ended.
struct ServiceResult {
    enum Outcome {
        Accepted,   // the service did what was asked
        Refused,    // it answered, but not with what was asked for
        Failed,     // the exchange did not complete
        Stopped,    // the user stopped it through the callback
        BadAnswer,  // it answered with something that can't be used
        Unreadable, // it answered with a page that can't be read; reading it again may help
    };
    Outcome outcome = Accepted;
    QString errorText;     // why it failed or what the service answered, for people
    QString serverMessage; // a refusal's one-line answer, decoded; empty when it has none
    int status = 0;        // the answer's HTTP status; 0 when none came
    QString answerLine;    // the answer's first line, cut at 200 characters (for the journal)

    bool accepted() const { return outcome == Accepted; }

    // The one reading of an exchange: stopped (by the callback, or during a
    // wait the service asked for), failed, refused (any status but those
    // given, with the refusal's one line read by refusalText) or accepted.
    using RefusalReader = QString (*)(const QByteArray &body);
    static ServiceResult fromAnswer(const HTTPResult &answer, bool stopped, std::initializer_list<int> acceptedStatuses,
                                    RefusalReader refusalText);
    static ServiceResult failure(Outcome outcome, const QString &errorText, const QString &serverMessage = {});
    // Refused by the program before anything was sent, for this reason (as both texts).
    static ServiceResult refusal(const QString &why) { return failure(Refused, why, why); }
};
