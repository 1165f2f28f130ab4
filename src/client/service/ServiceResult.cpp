#include "client/service/ServiceResult.h"

#include <algorithm>

#include "client/app/modSupport.h"
#include "client/net/HTTPRequest.h"

ServiceResult ServiceResult::fromAnswer(const HTTPResult &answer, bool stopped,
                                        std::initializer_list<int> acceptedStatuses, RefusalReader refusalText)
{
    ServiceResult result;
    result.errorText = answer.RequestErrorText();
    result.status = answer.status;
    if (!answer.failed()) {
        const qsizetype lineEnd = answer.body.indexOf('\n');
        const QByteArray line = lineEnd < 0 ? answer.body : answer.body.first(lineEnd);
        result.answerLine = modSupport::UTF8ToUNICODE(line).trimmed().left(200);
    }
    if (stopped || answer.failure == HTTPFailure::Cancelled)
        result.outcome = Stopped;
    else if (answer.failed())
        result.outcome = Failed;
    else if (std::find(acceptedStatuses.begin(), acceptedStatuses.end(), answer.status) == acceptedStatuses.end()) {
        result.outcome = Refused;
        if (refusalText)
            result.serverMessage = refusalText(answer.body);
    }
    return result;
}

ServiceResult ServiceResult::failure(Outcome outcome, const QString &errorText, const QString &serverMessage)
{
    ServiceResult result;
    result.outcome = outcome;
    result.errorText = errorText;
    result.serverMessage = serverMessage;
    return result;
}
