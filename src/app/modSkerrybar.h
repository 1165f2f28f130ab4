#pragma once

class QWidget;

// The link to the sibling toolbar program over the session bus. Optional:
// every failure, including no bus at all, is silent, and no call waits.
namespace modSkerrybar {
void ToolbarShow();
void ToolbarMarkForm(QWidget *form);
void ToolbarUnMarkForm(QWidget *form);
}
