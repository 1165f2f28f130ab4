#pragma once
#include <QString>

// The simulator's own XML text escaping (it shares nothing with the client).
namespace sim::xml {

// Element text: & < > escaped, CR as &#13; so that it survives the parser's
// line-end normalisation. Characters XML 1.0 does not allow are dropped.
QString text(const QString &value);
// Attribute value in double quotes: as text, plus " and TAB/LF/CR as
// character references so that attribute normalisation keeps them.
QString attribute(const QString &value);

}
