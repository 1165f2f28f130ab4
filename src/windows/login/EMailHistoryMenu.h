#pragma once

class EMailHistory;
class QLineEdit;

// Offers the remembered addresses below the text box; the chosen one is put into it.
void ShowHistory(const EMailHistory &history, QLineEdit *emailBox);
