#include "windows/app/DialogServices.h"

#include "client/app/AppInfo.h"
#include "client/net/HTTPRequest.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
QMessageBoxDialogs g_messageBoxes;
DialogServices *g_dialogs = nullptr;
}

DialogServices &dialogs() { return g_dialogs ? *g_dialogs : g_messageBoxes; }

void setDialogs(DialogServices *services) { g_dialogs = services; }

void DialogServices::ShowRequestError(const HTTPRequest &request, const QString &message)
{
    ShowRequestError(message, RequestErrorText(request));
}

void DialogServices::ShowRequestError(const QString &message, const QString &errorText)
{
    critical(message + QStringLiteral("\r\n\r\n") + errorText);
}

void DialogServices::ShowRuntimeError(const QString &message, const QString &errorDescription)
{
    if (errorDescription.isEmpty())
        critical(message);
    else
        critical(message + QStringLiteral("\r\n\r\n") + errorDescription);
}

QString DialogServices::RequestErrorText(const HTTPRequest &request)
{
    return request.result().RequestErrorText();
}

DialogServices::Answer DialogServices::MessageBoxEx(const QString &message, int flags)
{
    // Only the combination the program uses: 21 = Retry/Cancel, stop icon.
    const Buttons buttons = (flags & 0xF) == 5 ? RetryCancel : OkOnly;
    Icon icon = Critical;
    switch (flags & 0xF0) {
    case 0x30:
        icon = Exclamation;
        break;
    case 0x40:
        icon = Information;
        break;
    default:
        break;
    }
    return show(icon, buttons, message);
}

DialogServices::Answer QMessageBoxDialogs::show(Icon icon, Buttons buttons, const QString &text)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromUtf8(AppInfo::Title));
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    switch (icon) {
    case Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    if (buttons == RetryCancel) {
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Retry);
        box.setEscapeButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Retry ? Retry : Cancel;
    }
    if (buttons == ContinueStop) {
        box.setIcon(QMessageBox::Question);
        QPushButton *go = box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
        QPushButton *stop = box.addButton(QStringLiteral("Stop"), QMessageBox::RejectRole);
        box.setDefaultButton(stop);
        box.setEscapeButton(stop);
        box.exec();
        return box.clickedButton() == go ? Ok : Cancel;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Ok;
}

DialogServices::Answer ScriptedDialogs::show(Icon icon, Buttons buttons, const QString &text)
{
    const Shown entry{icon, buttons, text};
    shown.append(entry);
    if (onShow)
        onShow(entry);
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return buttons == OkOnly ? Ok : Cancel;
}

QStringList ScriptedDialogs::texts() const
{
    QStringList result;
    result.reserve(shown.size());
    for (const Shown &entry : shown)
        result.append(entry.text);
    return result;
}
