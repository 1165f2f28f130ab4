#pragma once
#include <QString>

#include "client/app/modCommon.h"

// The posts window's small result square: its colour tells how the last
// request went and its caption counts failed reads and refused writes.
class IResultIndicator
{
public:
    enum Color { Green, Red, Yellow };
    virtual ~IResultIndicator() = default;
    virtual void setResultColor(Color color) = 0;
    virtual QString resultCaption() const = 0;
    virtual void setResultCaption(const QString &caption) = 0;

    // A failed read or a refused write: the caption, read as a number, goes up by one.
    void countFailure() { setResultCaption(QString::number(qint64(modCommon::SafeCLng(resultCaption())) + 1)); }
};
